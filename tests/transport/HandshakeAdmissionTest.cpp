#include <gtest/gtest.h>

#include "agent/transport/HandshakeAdmission.h"

using namespace kx;

namespace {

// A connection arriving from `source`, or with an empty source, one that finished its handshake.
struct Arrival {
    HandshakeAdmission::Connection connection;
    std::string source;
    std::vector<HandshakeAdmission::Connection> closed;  // what admitting it closes
};

struct Case {
    const char* name;
    std::vector<Arrival> arrivals;
    std::optional<HandshakeAdmission::Connection> evictedToFreeADescriptor;
};

}  // namespace

// Limits of 4 in all and 2 per address.
TEST(HandshakeAdmission, ANewcomerOverALimitClosesTheOldestOfItsOwnOrOfTheBusiestAddress) {
    const std::vector<Case> cases = {
        {"under the limits nothing closes", {{1, "a", {}}, {2, "b", {}}, {3, "a", {}}}, 1},
        {"an address over its share closes its own oldest",
         {{1, "a", {}}, {2, "b", {}}, {3, "a", {}}, {4, "a", {1}}},
         3},
        {"over the total the busiest address gives way, not the phone elsewhere",
         {{1, "p", {}}, {2, "a", {}}, {3, "a", {}}, {4, "b", {}}, {5, "c", {2}}},
         1},
        {"among equally busy addresses the oldest connection goes",
         {{1, "a", {}}, {2, "b", {}}, {3, "c", {}}, {4, "d", {}}, {5, "e", {1}}},
         2},
        {"a finished connection frees its place", {{1, "a", {}}, {2, "a", {}}, {1, "", {}}, {3, "a", {}}}, 2},
        {"nothing waiting, nothing to free", {}, std::nullopt},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        HandshakeAdmission admission(4, 2);
        for (const Arrival& arrival : c.arrivals) {
            if (arrival.source.empty())
                admission.remove(arrival.connection);
            else
                EXPECT_EQ(admission.admit(arrival.connection, arrival.source), arrival.closed);
        }
        EXPECT_LE(admission.size(), 4u);
        EXPECT_EQ(admission.evictOne(), c.evictedToFreeADescriptor);
    }
}
