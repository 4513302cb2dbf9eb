// resolve_bounds: the caller's `bounds` (and `dim`) as one (min, max) pair per dimension.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <vector>

#include "kestrelopt/traits.hpp"

namespace kestrelopt::native {

// Tries five readings in order (list of 2-tuples, list of lists, one 2-tuple, one 2-list,
// an object with `lb` and `ub` attributes); the first that converts decides. Does not
// compare min with max. Throws PythonError with a ValueError set.
std::vector<Bound> resolve_bounds(PyObject* bounds, std::optional<std::uint64_t> dim);

// Drops the error of a reading of a caller's value that did not convert, so that the next
// reading can be tried. An exception that is not an Exception (KeyboardInterrupt,
// SystemExit) raised by the caller's conversion code is not a failed reading: it is
// thrown on as PythonError, unchanged.
void discard_reading_error();

}  // namespace kestrelopt::native
