// hypervolume(front, reference): the exact hypervolume of the core on objective vectors
// from Python.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/binder.hpp"
#include "cpython/panic.hpp"
#include "entry/entry_points.hpp"
#include "results/front_hypervolume.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kFunctionParams[] = {
    required("front", Kind::FloatRows),
    required("reference", Kind::FloatList),
};
constexpr Signature kFunction{"hypervolume()", kFunctionParams};

// No length checks: vectors that do not match the reference contribute nothing, and an
// empty result is -0.0.
PyObject* py_hypervolume(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kFunction, args, kwargs);
            const FloatRows front = a.take_float_rows(0);
            const std::vector<double> reference = a.take_floats(1);
            std::vector<ObjectiveView> points;
            points.reserve(front.size());
            for (std::size_t i = 0; i < front.size(); ++i) points.push_back(front.row(i));
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
