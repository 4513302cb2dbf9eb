// The few pieces of NumPy's C array API that the module needs, taken at first use from the
// API table NumPy publishes as a capsule (numpy._core.multiarray._ARRAY_API under
// NumPy 2, numpy.core.multiarray._ARRAY_API under NumPy 1). No NumPy header is used: the
// table slots and the leading fields of the array and dtype structs are declared here,
// from NumPy's documented layout, which is the same in NumPy 1.x and 2.x.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "cpython/py_ref.hpp"

namespace kestrelopt::native::numpy {

// Loads the table (once). An internal failure whose message begins with "Failed to access
// NumPy array API capsule" when NumPy cannot be imported or its table is unusable.
void load_api();

enum class Access : bool { ReadOnly, Writeable };

// A new float64 array of `shape` (one or two dimensions) in C order over `buffer`, which
// must come from std::malloc and of which the array takes ownership (also on failure).
// A read-only array cannot be made writeable from Python (its base is not a buffer), so
// whoever keeps it can never write into memory the module may still own. Null with the
// error set on failure. Needs load_api().
PyRef array_over(double* buffer, std::span<const std::size_t> shape, Access access);

// A new writeable float64 array of `shape` (one or two dimensions) in C order, in memory
// NumPy allocates and owns; `data` is set to its first element. Null with the error set on
// failure. Needs load_api().
PyRef new_array(std::span<const std::size_t> shape, double*& data);

// A new read-only float64 array of `shape` (up to three dimensions) in C order over `data`,
// which `owner` keeps alive and unchanged: the array's base is a reference to `owner`.
// Throws PythonError. Needs load_api().
PyRef view_over(const double* data, std::span<const std::size_t> shape, PyObject* owner);

// The element layout of an exact NumPy ndarray (not a subclass), for readers that take
// its memory as it is.
struct ArrayLayout {
    const char* data;
    int nd;
    const std::intptr_t* shape;
    const std::intptr_t* strides;  // in bytes, per dimension
    int type_num;                  // NumPy's type number (NPY_DOUBLE is 12)
    bool native_order;             // elements in this machine's byte order
};

// Whether `object` is an ndarray or an instance of a subclass; false before load_api().
bool is_array(PyObject* object);

// True with `out` filled when `object` is an exact ndarray; false otherwise (also when
// load_api() was never called, since no array could then have come through the module).
bool exact_array_layout(PyObject* object, ArrayLayout& out);

// A new writeable one-dimensional array of n NumPy intp (std::intptr_t) values in memory
// NumPy owns; `data` is set to its first element. Null with the error set on failure.
// Needs load_api().
PyRef new_index_array(std::size_t n, std::intptr_t*& data);

// If `object` is a float64 NumPy array of `nd` dimensions in native byte order, C-contiguous
// and aligned, its elements, read in place, with its `nd` extents in `shape`; otherwise null.
// The elements live as long as the array and change with it.
const double* float64_c_data(PyObject* object, int nd, std::size_t* shape);

// If `object` is a one-dimensional float64 NumPy array in native byte order, copies its
// elements (any strides) into `out` and returns true; otherwise returns false.
bool read_float64_vector(PyObject* object, std::vector<double>& out);

// If `object` is a two-dimensional float64 NumPy array in native byte order, copies its
// elements (any strides) row by row into `out`, sets `rows` and `cols` and returns true;
// otherwise returns false.
bool read_float64_matrix(PyObject* object, std::size_t& rows, std::size_t& cols,
                         std::vector<double>& out);

}  // namespace kestrelopt::native::numpy
