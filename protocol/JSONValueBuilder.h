#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "protocol/JSONValue.h"

namespace kx {

// Nesting deeper than this is refused when decoding, so that hostile input cannot exhaust the
// stack of the recursive code that later walks or destroys the tree.
inline constexpr std::size_t maxJSONDepth = 512;

// Assembles one JSONValue from parser events (values, container starts and ends, object keys),
// without an intermediate document tree. Objects keep the last of duplicate keys.
class JSONValueBuilder {
public:
    // Each returns false when the value would nest deeper than maxJSONDepth.
    bool value(JSONValue value);
    bool startObject();
    bool startArray();
    void key(std::string key);
    void endContainer();

    std::size_t depth() const { return open_.size(); }
    bool isComplete() const { return complete_; }
    // The finished value; the builder starts over afterwards.
    JSONValue take();

private:
    JSONValue* place(JSONValue value);

    JSONValue root_;
    std::vector<JSONValue*> open_;   // innermost last; stays valid because only the innermost grows
    std::vector<std::string> keys_;  // the pending key of each open object
    bool complete_ = false;
};

}  // namespace kx
