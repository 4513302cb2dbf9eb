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

#include "kestrelopt/mopso/archive.hpp"

namespace kestrelopt {

namespace {

// How many members of the order have a first objective of at most `value`: a binary search
// whose step is a conditional move rather than a branch, because the branch on fresh
// candidates is taken at random and mispredicts at every other step.
std::size_t count_not_above(const std::vector<std::size_t>& order, const double* first,
                            double value) {
    if (order.empty()) return 0;
    const std::size_t* base = order.data();
    std::size_t length = order.size();
    while (length > 1) {
        const std::size_t half = length / 2;
        base += first[base[half]] <= value ? half : 0;
        length -= half;
    }
    return static_cast<std::size_t>(base - order.data()) + (first[*base] <= value ? 1 : 0);
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
    const std::size_t low = count_not_above(by_first_, first, c0);
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
    const std::size_t at = count_not_above(by_first_, first, first[index]);
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
