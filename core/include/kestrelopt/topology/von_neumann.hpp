// VonNeumann: the particles laid out row by row on a toroidal rows × cols grid (particle i
// at row i / cols, column i mod cols); i is informed by itself and its up, down, left and
// right cells in that order. Empty cells of a partly filled last row are skipped (not
// wrapped further) and no index appears twice, so a list has 1 to 5 entries.
// Invariant: rows, cols >= 1. Immutable; neighbors_into is O(1) and reuses the caller's list.
#pragma once

#include "kestrelopt/traits.hpp"

namespace kestrelopt {

class VonNeumann final : public Topology {
  public:
    // Stops with "the grid needs rows, cols >= 1" when either is 0.
    VonNeumann(std::size_t rows, std::size_t cols);
    // The grid for n particles: rows = max(floor(sqrt(n)), 1), cols = ceil(n / rows).
    // n = 0 stops like the constructor.
    static VonNeumann square_for(std::size_t n);

    void neighbors_into(std::size_t i, std::span<const Particle> particles,
                        std::vector<std::size_t>& out) const override;

    std::size_t rows() const { return rows_; }
    std::size_t cols() const { return cols_; }

  private:
    std::size_t rows_;
    std::size_t cols_;
};

}  // namespace kestrelopt
