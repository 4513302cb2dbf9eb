// The `init` option: starting positions for the first particles of a run. Rows are read
// from a sequence of rows or a 2-D array and checked against the space, each failure a
// ValueError that names the row.
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

#include "kestrelopt/spaces/grey.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt::native {

// The rows of `init` (none when it is null or None), at most `n_particles`, each with one
// value per range of `spans` and inside it.
std::vector<std::vector<double>> init_rows(PyObject* init, const std::vector<Bound>& spans,
                                           std::size_t n_particles);

// For a grey run: each row one (lower, upper) interval per grey variable, inside the
// variable's limits and no wider than twice its max_spread; returned encoded as
// (center, spread) pairs.
std::vector<std::vector<double>> grey_init_rows(PyObject* init, const GreySpace& space,
                                                std::size_t n_particles);

}  // namespace kestrelopt::native
