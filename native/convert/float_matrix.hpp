// Reading matrices and vectors of numbers from NumPy arrays and other objects that export a
// buffer, in one pass over their memory and without a Python object per element.
#pragma once

#include <Python.h>

#include <cstddef>
#include <span>
#include <vector>

namespace kestrelopt::native {

// An (rows, cols) matrix of doubles in C order.
struct FloatMatrix {
    std::vector<double> values;
    std::size_t rows = 0;
    std::size_t cols = 0;

    std::span<const double> row(std::size_t i) const {
        return std::span<const double>(values).subspan(i * cols, cols);
    }
};

// True, with `out` filled, when `object` holds a two-dimensional array of bool, integer or
// float elements: an exact NumPy ndarray in native byte order, or any other object that
// exports such a buffer (read through a memoryview). Float64 memory in C order is copied
// as it is; other element types and strides are converted once, each element as float()
// converts it. False, with no error set, for anything else (lists, NumPy subclasses, other
// shapes or element types), which the caller reads its own way and reports on. Never
// imports NumPy. Throws PythonError when a buffer fails to be read.
bool read_float_matrix(PyObject* object, FloatMatrix& out);

// The same for one-dimensional arrays, into `out` (its capacity is reused).
bool read_float_vector(PyObject* object, std::vector<double>& out);

}  // namespace kestrelopt::native
