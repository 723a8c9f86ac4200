#pragma once
// The per-user key/value store (the registry's current-user root).

namespace tarnwick::platform {

class Registry {
public:
    virtual ~Registry() = default;
};

} // namespace tarnwick::platform
