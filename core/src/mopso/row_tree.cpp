#include "row_tree.hpp"

#include <algorithm>
#include <limits>
#include <numeric>

namespace kestrelopt::hv_detail {

namespace {

constexpr std::size_t kLeafRows = 16;

}  // namespace

void RowTree::build(const double* rows, std::size_t count, std::size_t stride) {
    rows_ = rows;
    stride_ = stride;
    order_.resize(count);
    std::iota(order_.begin(), order_.end(), std::size_t{0});
    nodes_.clear();
    corners_.clear();
    if (count > 0) split(0, count, 0);
}

std::size_t RowTree::split(std::size_t begin, std::size_t end, std::size_t axis) {
    const std::size_t id = nodes_.size();
    nodes_.push_back({begin, end, 0, 0, 0});
    corners_.resize(corners_.size() + 2 * stride_);
    double* lo = corners_.data() + 2 * id * stride_;
    double* hi = lo + stride_;
    std::fill(lo, lo + stride_, std::numeric_limits<double>::infinity());
    std::fill(hi, hi + stride_, -std::numeric_limits<double>::infinity());
    std::size_t last = 0;
    for (std::size_t r = begin; r < end; ++r) {
        const double* q = row(order_[r]);
        for (std::size_t k = 0; k < stride_; ++k) {
            lo[k] = std::min(lo[k], q[k]);
            hi[k] = std::max(hi[k], q[k]);
        }
        last = std::max(last, order_[r]);
    }
    nodes_[id].last = last;
    if (end - begin <= kLeafRows) return id;
    const std::size_t mid = begin + (end - begin) / 2;
    std::nth_element(order_.begin() + begin, order_.begin() + mid, order_.begin() + end,
                     [&](std::size_t a, std::size_t b) { return row(a)[axis] < row(b)[axis]; });
    const std::size_t next = (axis + 1) % stride_;
    const std::size_t left = split(begin, mid, next);
    const std::size_t right = split(mid, end, next);
    nodes_[id].left = left;
    nodes_[id].right = right;
    return id;
}

double RowTree::smallest_worse_in_one(const double* p, std::size_t k, std::size_t after) const {
    double best = std::numeric_limits<double>::infinity();
    if (nodes_.empty()) return best;
    stack_.assign(1, 0);
    while (!stack_.empty()) {
        const std::size_t id = stack_.back();
        stack_.pop_back();
        const Node& node = nodes_[id];
        if (node.last <= after || !(low(id)[k] < best) || !(p[k] < high(id)[k])) continue;
        bool meets = true;
        for (std::size_t j = 0; j < stride_ && meets; ++j)
            if (j != k) meets = low(id)[j] <= p[j];
        if (!meets) continue;
        if (node.left != 0) {
            // The child that may hold smaller values first, so that `best` prunes early.
            const bool left_first = low(node.left)[k] < low(node.right)[k];
            stack_.push_back(left_first ? node.right : node.left);
            stack_.push_back(left_first ? node.left : node.right);
            continue;
        }
        for (std::size_t r = node.begin; r < node.end; ++r) {
            if (order_[r] <= after) continue;
            const double* q = row(order_[r]);
            bool in_region = p[k] < q[k] && q[k] < best;
            for (std::size_t j = 0; j < stride_ && in_region; ++j)
                if (j != k) in_region = q[j] <= p[j];
            if (in_region) best = q[k];
        }
    }
    return best;
}

void RowTree::rows_within(std::span<const double> box, std::size_t after,
                          std::vector<std::size_t>& out) const {
    const std::size_t first = out.size();
    if (nodes_.empty()) return;
    stack_.assign(1, 0);
    while (!stack_.empty()) {
        const std::size_t id = stack_.back();
        stack_.pop_back();
        const Node& node = nodes_[id];
        if (node.last <= after) continue;
        bool meets = true;
        for (std::size_t j = 0; j < stride_ && meets; ++j) meets = low(id)[j] <= box[j];
        if (!meets) continue;
        if (node.left != 0) {
            stack_.push_back(node.left);
            stack_.push_back(node.right);
            continue;
        }
        for (std::size_t r = node.begin; r < node.end; ++r) {
            if (order_[r] <= after) continue;
            const double* q = row(order_[r]);
            bool inside = true;
            for (std::size_t j = 0; j < stride_ && inside; ++j) inside = q[j] <= box[j];
            if (inside) out.push_back(order_[r]);
        }
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first), out.end());
}

}  // namespace kestrelopt::hv_detail
