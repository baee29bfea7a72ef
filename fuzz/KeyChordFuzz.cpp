// Chord text as the phone sends it: parsing fails only with KeyChordError, and a parsed chord
// written out plainly (modifier names, then a key name) parses back to the same chord.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "agent/control/KeyChord.h"

using namespace kx;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    KeyChord chord;
    try {
        chord = KeyChord::parse(std::string(reinterpret_cast<const char*>(data), size));
    } catch (const KeyChordError& error) {
        const bool named =
            error.which == KeyChordError::Case::unknownKey || error.which == KeyChordError::Case::unknownModifier;
        if (named == error.name.empty()) std::abort();
        return 0;
    }
    std::string written;
    EventFlags known = eventFlags::none;
    for (const auto& [name, flag] : KeyChord::modifiers()) {
        known |= flag;
        if (chord.flags & flag) written += name + "+";
    }
    if (chord.flags & ~known) std::abort();
    const std::string* keyName = nullptr;
    for (const auto& [name, code] : KeyChord::keys())
        if (code == chord.keyCode) keyName = &name;
    if (!keyName) std::abort();
    if (KeyChord::parse(written + *keyName) != chord) std::abort();
    return 0;
}
