// _nondominated_ranks(points) and _crowding_distance(points): the sorting behind
// kestrelopt.indicators.nondominated_ranks and crowding_distance, done by the core on an
// (n, m) array read through its buffer, without the interpreter lock. The Python functions
// validate their argument (shape, NaN) and call these with a float64 array.
#include <cstdint>
#include <string>
#include <vector>

#include "convert/binder.hpp"
#include "convert/float_matrix.hpp"
#include "convert/numpy_api.hpp"
#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "cpython/run_watch.hpp"
#include "entry/entry_points.hpp"
#include "kestrelopt/mopso/nondominated_sort.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kPointsParams[] = {required("points", Kind::Object)};
constexpr Signature kRanks{"_nondominated_ranks()", kPointsParams};
constexpr Signature kCrowding{"_crowding_distance()", kPointsParams};

FloatMatrix read_points(PyObject* given) {
    FloatMatrix points;
    if (!read_float_matrix(given, points))
        raise(PyExc_TypeError,
              "argument 'points': expected a two-dimensional array of numbers, got " +
                  describe_value(given));
    return points;
}

// Runs `work` with the interpreter lock released (taken back also when it throws).
template <class Work>
void unlocked(Work&& work) {
    PendingError unused;
    RunWatch watch(unused);
    watch.release();
    work();
    watch.hold();
}

PyObject* py_nondominated_ranks(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kRanks, args, kwargs);
            const FloatMatrix points = read_points(a.object(0));
            numpy::load_api();
            std::vector<std::size_t> ranks(points.rows);
            unlocked([&] { nondominated_ranks({points.values, points.rows, points.cols}, ranks); });
            std::intptr_t* data = nullptr;
            PyRef out = numpy::new_index_array(points.rows, data);
            if (!out) throw PythonError{};
            for (std::size_t i = 0; i < ranks.size(); ++i)
                data[i] = static_cast<std::intptr_t>(ranks[i]);
            return out.release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* py_crowding_distance(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kCrowding, args, kwargs);
            const FloatMatrix points = read_points(a.object(0));
            numpy::load_api();
            const std::size_t shape[1] = {points.rows};
            double* data = nullptr;
            PyRef out = numpy::new_array(shape, data);
            if (!out) throw PythonError{};
            // Nothing else sees the new array before it is returned.
            unlocked([&] {
                crowding_distances({points.values, points.rows, points.cols},
                                   std::span<double>(data, points.rows));
            });
            return out.release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef nondominated_ranks_method = {
    "_nondominated_ranks", as_method(py_nondominated_ranks), METH_VARARGS | METH_KEYWORDS,
    "_nondominated_ranks(points)\n"
    "--\n"
    "\n"
    "The non-domination rank of every row of an (n, m) array of numbers without NaN,\n"
    "as an intp array of shape (n,): the sort behind\n"
    ":func:`kestrelopt.indicators.nondominated_ranks`, which validates its argument."};

PyMethodDef crowding_distance_method = {
    "_crowding_distance", as_method(py_crowding_distance), METH_VARARGS | METH_KEYWORDS,
    "_crowding_distance(points)\n"
    "--\n"
    "\n"
    "The crowding distance of every row of an (n, m) array of numbers without NaN,\n"
    "as a float64 array of shape (n,): the sort behind\n"
    ":func:`kestrelopt.indicators.crowding_distance`, which validates its argument."};

}  // namespace kestrelopt::native
