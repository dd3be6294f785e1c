// An open registry key for tests, closed at the end of its scope or when it is opened anew.
#pragma once

#include "platform/registry.h"

namespace tavix::testing {

using platform::RegKey;
using platform::Registry;

class Key {
public:
    explicit Key(Registry& registry) : registry_(registry) {}
    ~Key() { Reset(); }
    Key(const Key&) = delete;
    Key& operator=(const Key&) = delete;
    RegKey* Out() { return Reset(), &key_; }
    RegKey get() const { return key_; }
    void Reset() {
        if (key_ != 0) registry_.CloseKey(key_);
        key_ = 0;
    }

private:
    Registry& registry_;
    RegKey key_ = 0;
};

}  // namespace tavix::testing
