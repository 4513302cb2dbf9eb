// RandomSource::from_entropy: 32 key bytes from the kernel. getrandom(2) is used until it
// reports that it is missing or forbidden; from then on /dev/urandom, opened once (after
// /dev/random has become readable) and kept open for the life of the process.
#include <fcntl.h>
#include <poll.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <string>

#include "kestrelopt/random.hpp"

namespace kestrelopt {

namespace {

[[noreturn]] void fail_os(int code) {
    char text[256];
    // GNU strerror_r may return a static string instead of filling the buffer.
    const char* message = strerror_r(code, text, sizeof text);
    std::string description =
        (message && *message) ? std::string(message) : "OS Error: " + std::to_string(code);
    fail("from_entropy failed: " + description);
}

[[noreturn]] void fail_fixed(const char* what) {
    fail(std::string("from_entropy failed: ") + what);
}

std::atomic<bool> use_device{false};
std::mutex device_mutex;
int device_fd = -1;

int open_urandom() {
    std::lock_guard<std::mutex> lock(device_mutex);
    if (device_fd >= 0) return device_fd;
    // Wait once until the kernel pool is initialised.
    const int random_fd = open("/dev/random", O_RDONLY | O_CLOEXEC);
    if (random_fd < 0) fail_os(errno);
    pollfd waiter{random_fd, POLLIN, 0};
    for (;;) {
        const int ready = poll(&waiter, 1, -1);
        if (ready >= 0) break;
        if (errno != EINTR) {
            const int code = errno;
            close(random_fd);
            fail_os(code);
        }
    }
    close(random_fd);
    const int fd = open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) fail_os(errno);
    device_fd = fd;
    return fd;
}

// Returns false when getrandom is unavailable and the device must be used instead.
bool fill_from_syscall(unsigned char* dest, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const long got = syscall(SYS_getrandom, dest + done, size - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;
            if (done == 0 && (errno == ENOSYS || errno == EPERM)) return false;
            fail_os(errno);
        }
        if (got == 0 || static_cast<std::size_t>(got) > size - done)
            fail_fixed("Unexpected number of bytes from the kernel random source");
        done += static_cast<std::size_t>(got);
    }
    return true;
}

void fill_from_device(unsigned char* dest, std::size_t size) {
    const int fd = open_urandom();
    std::size_t done = 0;
    while (done < size) {
        const ssize_t got = read(fd, dest + done, size - done);
        if (got < 0) {
            if (errno == EINTR) continue;
            fail_os(errno);
        }
        if (got == 0 || static_cast<std::size_t>(got) > size - done)
            fail_fixed("Unexpected number of bytes from /dev/urandom");
        done += static_cast<std::size_t>(got);
    }
}

}  // namespace

RandomSource RandomSource::from_entropy() {
    Key key{};
    if (use_device.load(std::memory_order_acquire) || !fill_from_syscall(key.data(), key.size())) {
        use_device.store(true, std::memory_order_release);
        fill_from_device(key.data(), key.size());
    }
    return from_key(key);
}

}  // namespace kestrelopt
