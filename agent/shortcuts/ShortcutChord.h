#pragma once

#include <set>
#include <string>

#include "agent/control/KeyChord.h"

namespace kx::ShortcutChord {

// The keys a shortcut may end in: letters, digits, the punctuation keys, f1 to f20 and the
// editing and arrow keys. Other names the chord grammar knows ("return", "esc",
// "forwarddelete") are refused here.
const std::set<std::string>& allowedKeys();

// Parses a shortcut, ignoring case; "delete" means the forward-delete key. Throws WireError
// invalid_params "That shortcut is not supported" for anything not allowed or not parsable.
KeyChord validate(const std::string& chord);

}  // namespace kx::ShortcutChord
