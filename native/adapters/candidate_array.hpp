// Candidate arrays: with array input, the read-only float64 NumPy array handed to the
// caller's callables for one evaluation, over a buffer the array owns.
#pragma once

#include <Python.h>

#include <array>
#include <cstdlib>
#include <new>
#include <span>

#include "convert/numpy_api.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

// The shape of a candidate array: (n,) or (n, 2).
struct ArrayShape {
    std::array<std::size_t, 2> dims{0, 0};
    std::size_t rank = 1;

    static ArrayShape vector(std::size_t n) { return {{n, 0}, 1}; }
    static ArrayShape pairs(std::size_t n) { return {{n, 2}, 2}; }
    std::size_t count() const { return rank == 1 ? dims[0] : dims[0] * dims[1]; }
    std::span<const std::size_t> span() const { return {dims.data(), rank}; }
    friend bool operator==(const ArrayShape&, const ArrayShape&) = default;
};

// A new read-only float64 array of `shape` whose values fill(double*) writes; `data` is set
// to its buffer. Null with the error set. Needs numpy::load_api().
template <class Fill>
PyRef candidate_array(ArrayShape shape, Fill&& fill, double*& data) {
    const std::size_t count = shape.count();
    auto* buffer = static_cast<double*>(std::malloc((count > 0 ? count : 1) * sizeof(double)));
    if (buffer == nullptr) throw std::bad_alloc();
    fill(buffer);
    PyRef array = numpy::array_over(buffer, shape.span(), numpy::Access::ReadOnly);
    data = array ? buffer : nullptr;
    return array;
}

}  // namespace kestrelopt::native
