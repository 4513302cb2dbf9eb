// RecordBuffer: a growable array of doubles for a run's records, which can grow to many
// times the machine's caches. Small buffers live on the heap; from 1 MiB on, the memory
// comes straight from the kernel: growth moves pages (mremap) instead of copying them, and
// asks for transparent huge pages, so filling the record costs one page fault per 2 MiB
// instead of one per 4 KiB. Capacity that is never written costs address space only.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

namespace kestrelopt {

class RecordBuffer {
  public:
    RecordBuffer() = default;
    ~RecordBuffer() { release(); }
    RecordBuffer(const RecordBuffer& other);
    RecordBuffer& operator=(const RecordBuffer& other);
    RecordBuffer(RecordBuffer&& other) noexcept { take(other); }
    RecordBuffer& operator=(RecordBuffer&& other) noexcept {
        if (this != &other) {
            release();
            take(other);
        }
        return *this;
    }

    // Room for `count` values in all, without moving what is there.
    void reserve(std::size_t count);
    void append(std::span<const double> values) {
        if (values.size() > capacity_ - size_) grow(size_ + values.size());
        double* out = data_ + size_;
#if defined(__x86_64__)
        // A mapped record is far larger than the caches and read only after the run:
        // streaming stores write it without first reading each line into the cache, and
        // without pushing the run's own working set out of it.
        if (mapped_) {
            const double* in = values.data();
            std::size_t left = values.size();
            // Two values per store once the output is 16-byte aligned (a mapping starts on a
            // page, so only an odd number of values before it can misalign it).
            if (left > 0 && (reinterpret_cast<std::uintptr_t>(out) & 15) != 0) {
                stream_one(out++, *in++);
                --left;
            }
            for (; left >= 2; left -= 2, in += 2, out += 2) _mm_stream_pd(out, _mm_loadu_pd(in));
            if (left > 0) stream_one(out, *in);
            size_ += values.size();
            return;
        }
#endif
        std::copy(values.begin(), values.end(), out);
        size_ += values.size();
    }

    std::size_t size() const { return size_; }
    const double* data() const { return data_; }
    std::span<const double> values() const { return {data_, size_}; }

  private:
#if defined(__x86_64__)
    static void stream_one(double* out, double value) {
        long long bits;
        std::memcpy(&bits, &value, sizeof bits);
        _mm_stream_si64(reinterpret_cast<long long*>(out), bits);
    }
#endif
    void grow(std::size_t at_least);
    void release() noexcept;
    void take(RecordBuffer& other) noexcept;

    double* data_ = nullptr;
    std::size_t size_ = 0;
    std::size_t capacity_ = 0;  // in values
    bool mapped_ = false;       // from the kernel, else from the heap
};

}  // namespace kestrelopt
