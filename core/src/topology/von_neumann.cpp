#include "kestrelopt/topology/von_neumann.hpp"

#include <algorithm>
#include <cmath>

#include "kestrelopt/failure.hpp"

namespace kestrelopt {

VonNeumann::VonNeumann(std::size_t rows, std::size_t cols) : rows_(rows), cols_(cols) {
    if (rows == 0 || cols == 0) fail("the grid needs rows, cols >= 1");
}

VonNeumann VonNeumann::square_for(std::size_t n) {
    const auto root = static_cast<std::size_t>(std::sqrt(static_cast<double>(n)));
    const std::size_t rows = std::max<std::size_t>(root, 1);
    const std::size_t cols = n / rows + (n % rows != 0 ? 1 : 0);
    return VonNeumann(rows, cols);
}

void VonNeumann::neighbors_into(std::size_t i, std::span<const Particle> particles,
                                std::vector<std::size_t>& out) const {
    const std::size_t n = particles.size();
    const std::size_t r = i / cols_;
    const std::size_t c = i % cols_;
    // The wrap-arounds are written without sums that could overflow; same cells as
    // (r + rows − 1) mod rows and friends.
    const std::size_t row = r % rows_;
    const std::size_t up_row = row == 0 ? rows_ - 1 : row - 1;
    const std::size_t down_row = row + 1 == rows_ ? 0 : row + 1;
    const std::size_t left_col = c == 0 ? cols_ - 1 : c - 1;
    const std::size_t right_col = c + 1 == cols_ ? 0 : c + 1;
    const std::size_t candidates[4] = {up_row * cols_ + c, down_row * cols_ + c,
                                       r * cols_ + left_col, r * cols_ + right_col};
    out.clear();
    out.reserve(5);
    out.push_back(i);
    for (const std::size_t j : candidates)
        if (j < n && std::find(out.begin(), out.end(), j) == out.end()) out.push_back(j);
}

}  // namespace kestrelopt
