#pragma once
// Playing the program's own sounds.

namespace tarnwick::platform {

class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    // Start sound `id` (1 or 2) and return at once; a sound still playing is replaced.
    virtual void play(int id) = 0;
};

} // namespace tarnwick::platform
