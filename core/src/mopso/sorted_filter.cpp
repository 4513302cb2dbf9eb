#include "sorted_filter.hpp"

#include <algorithm>
#include <iterator>

namespace kestrelopt::hv_detail {

void SortedFilter::survivors(std::span<const ObjectiveView> points,
                             std::vector<std::size_t>& kept) {
    kept.clear();
    const std::size_t n = points.size();
    if (n == 0) return;
    const std::size_t m = points[0].size();
    order_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        Entry& e = order_[i];
        for (std::size_t k = 0; k < m; ++k) e.values[k] = points[i][k];
        e.index = i;
    }
    std::sort(order_.begin(), order_.end(), [m](const Entry& a, const Entry& b) {
        for (std::size_t k = 0; k < m; ++k) {
            if (a.values[k] < b.values[k]) return true;
            if (b.values[k] < a.values[k]) return false;
        }
        return a.index < b.index;
    });
    const auto equal = [m](const Entry& a, const Entry& b) {
        for (std::size_t k = 0; k < m; ++k)
            if (!(a.values[k] == b.values[k])) return false;
        return true;
    };
    // A point is dominated exactly when a different point before it in this order is no
    // worse in the remaining values: the first value is then no worse by the order itself.
    keep_.assign(n, 0);
    staircase_.clear();
    double lowest = 0.0;
    for (std::size_t g = 0; g < n;) {
        const double* p = order_[g].values;
        std::size_t end = g + 1;
        while (end < n && equal(order_[end], order_[g])) ++end;
        bool dominated = false;
        if (m == 2) {
            dominated = g != 0 && !(p[1] < lowest);
            if (!dominated) lowest = p[1];
        } else {
            // Keys ascending, values strictly descending: the entry with the largest key not
            // above p[1] has the smallest value among those.
            const auto above = staircase_.upper_bound(p[1]);
            dominated = above != staircase_.begin() && std::prev(above)->second <= p[2];
            if (!dominated) {
                auto from = staircase_.lower_bound(p[1]);
                auto to = from;
                while (to != staircase_.end() && to->second >= p[2]) ++to;
                staircase_.erase(from, to);
                staircase_.emplace(p[1], p[2]);
            }
        }
        // Of equal points the first in input order: the order breaks ties by index.
        if (!dominated) keep_[order_[g].index] = 1;
        g = end;
    }
    for (std::size_t i = 0; i < n; ++i)
        if (keep_[i]) kept.push_back(i);
}

}  // namespace kestrelopt::hv_detail
