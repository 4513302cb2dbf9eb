// The archive's order by the first objective, kept for two-objective archives without NaN.
// Such an archive has no two members equal in the first objective (the one better in the
// second would dominate the other), so along the order the first objective ascends strictly
// and the second descends strictly. Then the member with the largest first objective not
// above the candidate's is the only one that can dominate it or equal it, and the members
// the candidate dominates are the run after it whose second objective is not below the
// candidate's: binary search and a short walk instead of a scan of every member. The
// answers are those of the scan; the scan remains for every other archive.
#include <algorithm>
#include <cmath>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "kestrelopt/mopso/archive.hpp"

namespace kestrelopt {

namespace {

// How many of the n values are at most `value`. A binary search over the order chains two
// dependent loads per step (and its branch mispredicts at every other one); counting over
// the column has no chain and vectorizes, which for an archive's few hundred members is
// faster.
std::size_t count_not_above(const double* values, std::size_t n, double value) {
    std::size_t i = 0;
    std::size_t count = 0;
#if defined(__SSE2__)
    // A true comparison is a lane of all ones, -1: subtracting the masks counts.
    const __m128d limit = _mm_set1_pd(value);
    __m128i even = _mm_setzero_si128();
    __m128i odd = _mm_setzero_si128();
    for (; i + 4 <= n; i += 4) {
        even = _mm_sub_epi64(even, _mm_castpd_si128(_mm_cmple_pd(_mm_loadu_pd(values + i), limit)));
        odd =
            _mm_sub_epi64(odd, _mm_castpd_si128(_mm_cmple_pd(_mm_loadu_pd(values + i + 2), limit)));
    }
    alignas(16) std::uint64_t lanes[2];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), _mm_add_epi64(even, odd));
    count = static_cast<std::size_t>(lanes[0] + lanes[1]);
#endif
    for (; i < n; ++i) count += values[i] <= value ? 1 : 0;
    return count;
}

}  // namespace

bool Archive::ordered_usable(std::span<const double> objectives) {
    if (!columnar_ || objectives.size() != 2 || std::isnan(objectives[0]) ||
        std::isnan(objectives[1]))
        return false;
    if (members_.empty()) {
        ordered_ = true;
        by_first_.clear();
        return true;
    }
    if (columns_.size() != 2) return false;
    if (!ordered_ && retry_order_) try_order();
    return ordered_ && by_first_.size() == members_.size();
}

void Archive::try_order() {
    retry_order_ = false;
    const double* first = columns_[0].data();
    const double* second = columns_[1].data();
    const std::size_t n = members_.size();
    for (std::size_t i = 0; i < n; ++i)
        if (std::isnan(first[i]) || std::isnan(second[i])) return;
    by_first_.resize(n);
    for (std::size_t i = 0; i < n; ++i) by_first_[i] = i;
    std::sort(by_first_.begin(), by_first_.end(),
              [&](std::size_t a, std::size_t b) { return first[a] < first[b]; });
    for (std::size_t r = 1; r < n; ++r) {
        const std::size_t a = by_first_[r - 1];
        const std::size_t b = by_first_[r];
        if (!(first[a] < first[b] && second[a] > second[b])) return;
    }
    ordered_ = true;
}

bool Archive::scan_ordered(std::span<const double> objectives, bool& removes, bool& duplicate) {
    const double c0 = objectives[0];
    const double c1 = objectives[1];
    const std::size_t n = members_.size();
    if (n == 0) return true;
    const double* first = columns_[0].data();
    const double* second = columns_[1].data();
    // low: the members whose first objective is at most the candidate's.
    const std::size_t low = count_not_above(first, n, c0);
    std::size_t from = low;  // the first member whose first objective is at least c0
    if (low > 0) {
        const std::size_t m = by_first_[low - 1];
        if (second[m] <= c1) {
            // m dominates the candidate unless the two are equal.
            duplicate = first[m] == c0 && second[m] == c1;
            return duplicate;
        }
        if (first[m] == c0) from = low - 1;
    }
    std::size_t to = from;
    while (to < n && second[by_first_[to]] >= c1) ++to;
    if (to > from) {
        removes = true;
        flags_.assign(n, 0);
        for (std::size_t r = from; r < to; ++r) flags_[by_first_[r]] = 1;
    }
    return true;
}

void Archive::order_appended() {
    if (!ordered_) return;
    const std::size_t index = members_.size() - 1;
    if (!columnar_ || columns_.size() != 2 || std::isnan(columns_[0][index]) ||
        std::isnan(columns_[1][index])) {
        ordered_ = false;
        by_first_.clear();
        return;
    }
    const double* first = columns_[0].data();
    // The new member counts itself (its value is not NaN).
    const std::size_t at = count_not_above(first, members_.size(), first[index]) - 1;
    by_first_.insert(by_first_.begin() + static_cast<std::ptrdiff_t>(at), index);
}

void Archive::renumber(std::vector<std::size_t>& indices, std::size_t n, std::size_t kept,
                       std::size_t first_removed) {
    if (n - kept == 1) {
        // One member went, as after most insertions: drop it and close the gap.
        const auto at = std::find(indices.begin(), indices.end(), first_removed);
        if (at != indices.end()) indices.erase(at);
        for (std::size_t& i : indices) i -= static_cast<std::size_t>(i > first_removed);
        return;
    }
    // flags_ marks the removed members among the n there were.
    renumbered_.resize(n);
    std::size_t next = 0;
    for (std::size_t i = 0; i < n; ++i) {
        renumbered_[i] = next;
        next += flags_[i] ^ 1U;
    }
    std::size_t out = 0;
    for (const std::size_t i : indices)
        if (i < n && !flags_[i]) indices[out++] = renumbered_[i];
    indices.resize(out);
}

}  // namespace kestrelopt
