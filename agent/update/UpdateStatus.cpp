#include "agent/update/UpdateStatus.h"

namespace kx {

namespace {

JSONArray stringArray(const std::vector<std::string>& strings) {
    JSONArray array;
    for (const auto& s : strings) array.emplace_back(s);
    return array;
}

}  // namespace

JSONObject UpdateStatus::statusResult() const {
    JSONObject result = eventParams();
    result["version"] = version;
    if (available) {
        result["available"] = JSONObject{
            {"version", available->version.description()},
            {"notes", stringArray(available->notes)},
            {"caps", stringArray(available->caps)},
            {"required", required},
        };
    }
    return result;
}

JSONObject UpdateStatus::eventParams() const {
    JSONObject params{{"state", std::string(rawValue(state))}};
    if (message) params["message"] = *message;
    if (progress) params["progress"] = *progress;
    return params;
}

}  // namespace kx
