// A k-d tree over the rows of a point set (row-major, fixed stride), for the hypervolume's
// limit sets of large sets: which rows after a given one lie in a box, and the smallest
// value of a coordinate among later rows of a region, without visiting every later row.
// Each node keeps the bounding box of its rows and their largest index, so that subtrees of
// earlier rows or outside the region are skipped. Build O(n log n); a query visits the
// nodes whose boxes meet its region.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

namespace kestrelopt::hv_detail {

class RowTree {
  public:
    void build(const double* rows, std::size_t count, std::size_t stride);

    // The smallest q[k] over rows q after `after` with q[k] > p[k] and q[j] <= p[j] for
    // every other j; +inf when there is none.
    double smallest_worse_in_one(const double* p, std::size_t k, std::size_t after) const;

    // Appends the rows after `after` with q <= box in every coordinate, in index order.
    void rows_within(std::span<const double> box, std::size_t after,
                     std::vector<std::size_t>& out) const;

  private:
    struct Node {
        std::size_t begin = 0;  // range of order_
        std::size_t end = 0;
        std::size_t left = 0;  // child nodes; 0 for a leaf
        std::size_t right = 0;
        std::size_t last = 0;  // largest row index below
    };

    std::size_t split(std::size_t begin, std::size_t end, std::size_t axis);
    const double* row(std::size_t i) const { return rows_ + i * stride_; }
    const double* low(std::size_t node) const { return corners_.data() + 2 * node * stride_; }
    const double* high(std::size_t node) const { return low(node) + stride_; }

    const double* rows_ = nullptr;
    std::size_t stride_ = 0;
    std::vector<std::size_t> order_;
    std::vector<Node> nodes_;
    std::vector<double> corners_;  // per node: lowest then highest value of each coordinate
    mutable std::vector<std::size_t> stack_;
};

}  // namespace kestrelopt::hv_detail
