#include "kestrelopt/record_buffer.hpp"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestrelopt {

namespace {

// From here on a buffer is mapped: below, the heap serves better (and a program holding
// thousands of small results does not run into the kernel's limit of mappings).
constexpr std::size_t kMapBytes = std::size_t{1} << 20;
constexpr std::size_t kPageBytes = std::size_t{1} << 12;

std::size_t page_rounded(std::size_t bytes) {
    return (bytes + kPageBytes - 1) & ~(kPageBytes - 1);
}

// One mapping given back by a record is kept for the next: its pages are already there,
// so a program making run after run does not pay the kernel for fresh zeroed pages each
// time. Only a record of moderate size is kept, and its pages are marked free, so the
// kernel takes them back whenever it needs memory.
constexpr std::size_t kKeptBytes = std::size_t{64} << 20;

struct KeptMapping {
    void* memory = nullptr;
    std::size_t bytes = 0;
};

std::mutex g_kept_lock;
KeptMapping g_kept;

KeptMapping take_kept() {
    const std::lock_guard<std::mutex> hold(g_kept_lock);
    return std::exchange(g_kept, KeptMapping{});
}

// Keeps `memory` if nothing is kept yet; true when it was kept.
bool keep(void* memory, std::size_t bytes) {
    if (bytes > kKeptBytes) return false;
    const std::lock_guard<std::mutex> hold(g_kept_lock);
    if (g_kept.memory != nullptr) return false;
#ifdef MADV_FREE
    madvise(memory, bytes, MADV_FREE);
#endif
    g_kept = {memory, bytes};
    return true;
}

// Huge pages are a wish: where the kernel has none to give, small pages serve the same.
void want_huge_pages(void* memory, std::size_t bytes) {
#ifdef MADV_HUGEPAGE
    madvise(memory, bytes, MADV_HUGEPAGE);
#else
    (void)memory;
    (void)bytes;
#endif
}

// A mapping of `bytes`: the kept one (resized if it must grow) or a new one.
void* map(std::size_t bytes) {
    const KeptMapping kept = take_kept();
    void* memory = nullptr;
    if (kept.memory != nullptr && kept.bytes >= bytes) {
        // Larger than asked: the rest stays mapped but unwritten; unmap it.
        if (kept.bytes > bytes) munmap(static_cast<char*>(kept.memory) + bytes, kept.bytes - bytes);
        return kept.memory;
    }
    if (kept.memory != nullptr) {
        memory = mremap(kept.memory, kept.bytes, bytes, MREMAP_MAYMOVE);
        if (memory == MAP_FAILED) {
            munmap(kept.memory, kept.bytes);
            memory = nullptr;
        }
    }
    if (memory == nullptr) {
        memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (memory == MAP_FAILED) throw std::bad_alloc();
    }
    want_huge_pages(memory, bytes);
    return memory;
}

}  // namespace

RecordBuffer::RecordBuffer(const RecordBuffer& other) {
    reserve(other.size_);
    if (other.size_ > 0) std::memcpy(data_, other.data_, other.size_ * sizeof(double));
    size_ = other.size_;
}

RecordBuffer& RecordBuffer::operator=(const RecordBuffer& other) {
    if (this != &other) {
        RecordBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

void RecordBuffer::reserve(std::size_t count) {
    if (count > capacity_) grow(count);
}

void RecordBuffer::grow(std::size_t at_least) {
    if (at_least > SIZE_MAX / sizeof(double) / 2) throw std::bad_alloc();
    const std::size_t wanted = std::max(at_least, capacity_ * 2);
    const std::size_t old_bytes = capacity_ * sizeof(double);
    std::size_t bytes = wanted * sizeof(double);
    void* memory = nullptr;
    if (mapped_) {
        bytes = page_rounded(bytes);
        memory = mremap(data_, page_rounded(old_bytes), bytes, MREMAP_MAYMOVE);
        if (memory == MAP_FAILED) throw std::bad_alloc();
        want_huge_pages(memory, bytes);
    } else if (bytes >= kMapBytes) {
        bytes = page_rounded(bytes);
        memory = map(bytes);
        if (size_ > 0) std::memcpy(memory, data_, size_ * sizeof(double));
        std::free(data_);
        mapped_ = true;
    } else {
        memory = std::malloc(bytes);
        if (memory == nullptr) throw std::bad_alloc();
        if (size_ > 0) std::memcpy(memory, data_, size_ * sizeof(double));
        std::free(data_);
    }
    data_ = static_cast<double*>(memory);
    capacity_ = bytes / sizeof(double);
}

void RecordBuffer::release() noexcept {
    if (mapped_) {
        const std::size_t bytes = page_rounded(capacity_ * sizeof(double));
        if (!keep(data_, bytes)) munmap(data_, bytes);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    size_ = capacity_ = 0;
    mapped_ = false;
}

void RecordBuffer::take(RecordBuffer& other) noexcept {
#if defined(__x86_64__)
    // A record is moved once it is written (into the run's result): streaming stores made
    // on this thread are ordered before whatever any thread does with it next.
    if (other.mapped_) _mm_sfence();
#endif
    data_ = std::exchange(other.data_, nullptr);
    size_ = std::exchange(other.size_, 0);
    capacity_ = std::exchange(other.capacity_, 0);
    mapped_ = std::exchange(other.mapped_, false);
}

}  // namespace kestrelopt
