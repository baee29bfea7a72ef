#include "tests/sessions/SessionTestSupport.h"

#include <gtest/gtest.h>

namespace kx::testing {

JSONObject succeed(const CommandRouter& router, const std::string& method, JSONObject params) {
    auto response = call(router, method, std::move(params));
    EXPECT_EQ(response.ok, true) << method << " failed: " << (response.e ? response.e->msg : "");
    return response.p.value_or(JSONObject{});
}

WireError fail(const CommandRouter& router, const std::string& method, JSONObject params) {
    auto response = call(router, method, std::move(params));
    EXPECT_EQ(response.ok, false) << method << " succeeded";
    return response.e.value_or(WireError{});
}

}  // namespace kx::testing
