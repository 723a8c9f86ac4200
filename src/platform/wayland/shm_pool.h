#pragma once
// Memory shared with the compositor: one memfd, mapped here and handed over as a wl_shm_pool.
#include <cstddef>
#include <cstdint>
#include <memory>

struct wl_buffer;
struct wl_shm;
struct wl_shm_pool;

namespace tarnwick::platform::wayland {

class ShmPool {
public:
    // Throws platform::Error with the system's message when the memory cannot be had.
    ShmPool(wl_shm* shm, size_t size);
    ~ShmPool();
    ShmPool(const ShmPool&) = delete;
    ShmPool& operator=(const ShmPool&) = delete;

    uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    // A buffer of the pool's bytes from `offset`, rows `stride` bytes apart, in a wl_shm format
    // (xrgb8888 unless told).
    wl_buffer* createBuffer(size_t offset, int32_t width, int32_t height, int32_t stride,
                            uint32_t format = 1);

private:
    int fd_ = -1;
    uint8_t* data_ = nullptr;
    size_t size_ = 0;
    wl_shm_pool* pool_ = nullptr;
};

} // namespace tarnwick::platform::wayland
