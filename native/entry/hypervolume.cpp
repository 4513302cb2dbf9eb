// hypervolume(front, reference): the exact hypervolume of the core on objective vectors
// from Python.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/binder.hpp"
#include "convert/float_matrix.hpp"
#include "cpython/panic.hpp"
#include "entry/entry_points.hpp"
#include "results/front_hypervolume.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kFunctionParams[] = {
    required("front", Kind::Object),
    required("reference", Kind::Object),
};
constexpr Signature kFunction{"hypervolume()", kFunctionParams};

// An array (or another two-dimensional buffer of numbers) is read in one pass over its
// memory; anything else as a sequence of sequences, with that conversion's errors.
void read_front(PyObject* given, FloatMatrix& matrix, FloatRows& rows,
                std::vector<ObjectiveView>& points) {
    if (read_float_matrix(given, matrix)) {
        points.reserve(matrix.rows);
        for (std::size_t i = 0; i < matrix.rows; ++i) points.push_back(matrix.row(i));
        return;
    }
    if (!to_double_rows(given, rows)) {
        wrap_type_error("front");
        throw PythonError{};
    }
    points.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i) points.push_back(rows.row(i));
}

void read_reference(PyObject* given, std::vector<double>& reference) {
    if (read_float_vector(given, reference)) return;
    if (!to_double_list(given, reference)) {
        wrap_type_error("reference");
        throw PythonError{};
    }
}

// No length checks: vectors that do not match the reference contribute nothing, and an
// empty result is -0.0.
PyObject* py_hypervolume(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kFunction, args, kwargs);
            FloatMatrix matrix;
            FloatRows rows;
            std::vector<ObjectiveView> points;
            read_front(a.object(0), matrix, rows, points);
            std::vector<double> reference;
            read_reference(a.object(1), reference);
            return check(PyFloat_FromDouble(watched_hypervolume(points, reference))).release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef hypervolume_method = {
    "hypervolume", as_method(py_hypervolume), METH_VARARGS | METH_KEYWORDS,
    "hypervolume(front, reference)\n"
    "--\n"
    "\n"
    "Hypervolume of an arbitrary set of objective vectors (minimization).\n"
    "\n"
    "A free-standing version of :meth:`ParetoFront.hypervolume` for fronts not\n"
    "produced by ``minimize_multi`` (e.g. a reference front, or one loaded from\n"
    "disk for benchmarking).\n"
    "\n"
    "Args:\n"
    "    front (list[list[float]]): objective vectors, one per solution. A\n"
    "        vector of another length than the reference is ignored, without an\n"
    "        error, as is one that is not strictly below the reference in every\n"
    "        objective (or holds a NaN): neither dominates any of its box.\n"
    "    reference (list[float]): the bounding \"worst\" point, one value per\n"
    "        objective; each value should exceed the front in that objective.\n"
    "\n"
    "Returns:\n"
    "    float: the hypervolume dominated by ``front`` under ``reference``."};

}  // namespace kestrelopt::native
