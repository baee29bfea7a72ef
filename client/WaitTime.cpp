#include "client/WaitTime.h"

#include <cmath>
#include <string>

#include "client/ClientError.h"

namespace kx {

std::chrono::milliseconds waitFromSeconds(double seconds) {
    // Written so that NaN fails too.
    if (!(seconds > 0 && seconds <= maxWaitSeconds))
        throw ClientError("--timeout takes seconds above 0 and at most " +
                          std::to_string(static_cast<int>(maxWaitSeconds)));
    return std::chrono::milliseconds(static_cast<std::int64_t>(std::ceil(seconds * 1000)));
}

}  // namespace kx
