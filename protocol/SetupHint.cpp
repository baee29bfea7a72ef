#include "protocol/SetupHint.h"

namespace kx {

JSONValue SetupHint::wireValue() const {
    JSONObject out{{"message", message}};
    if (command && !command->empty()) out.emplace("command", *command);
    return out;
}

}  // namespace kx
