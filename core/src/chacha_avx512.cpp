// ChaCha8 over eight blocks with AVX-512VL, called only after a run-time check of the
// processor.
#if defined(__AVX512VL__)

#include "chacha_eight_blocks.hpp"

namespace kestrelopt::detail {

void chacha8_eight_blocks_avx512(const std::array<std::uint32_t, 8>& key, std::uint64_t counter,
                                 std::uint64_t stream, std::uint32_t* first, std::uint32_t* next) {
    eight_blocks(key, counter, stream, first, next);
}

}  // namespace kestrelopt::detail

#endif
