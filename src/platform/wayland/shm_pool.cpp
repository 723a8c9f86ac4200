#include "platform/wayland/shm_pool.h"

#include "platform/error.h"

#include <wayland-client.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/mman.h>
#include <unistd.h>

namespace tarnwick::platform::wayland {

namespace {
[[noreturn]] void fail(const char* what) {
    throw Error(std::string(what) + ": " + std::strerror(errno));
}
} // namespace

ShmPool::ShmPool(wl_shm* shm, size_t size) : size_(size) {
    fd_ = memfd_create("tarnwick-frame", MFD_CLOEXEC);
    if (fd_ < 0) fail("Cannot create shared memory");
    if (ftruncate(fd_, static_cast<off_t>(size)) != 0) {
        ::close(fd_);
        fail("Cannot size shared memory");
    }
    void* p = mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (p == MAP_FAILED) {
        ::close(fd_);
        fail("Cannot map shared memory");
    }
    data_ = static_cast<uint8_t*>(p);
    pool_ = wl_shm_create_pool(shm, fd_, static_cast<int32_t>(size));
}

ShmPool::~ShmPool() {
    // The compositor keeps its own mapping for the buffers it still holds.
    if (pool_) wl_shm_pool_destroy(pool_);
    if (data_) munmap(data_, size_);
    if (fd_ >= 0) ::close(fd_);
}

wl_buffer* ShmPool::createBuffer(size_t offset, int32_t width, int32_t height, int32_t stride,
                                 uint32_t format) {
    static_assert(WL_SHM_FORMAT_XRGB8888 == 1);
    return wl_shm_pool_create_buffer(pool_, static_cast<int32_t>(offset), width, height, stride,
                                     format);
}

} // namespace tarnwick::platform::wayland
