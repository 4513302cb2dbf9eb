// hypervolume(front, reference) and ParetoFront.hypervolume(reference=None): the exact
// hypervolume of the core on objective vectors from Python or on a front of minimize_multi.
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "binder.hpp"
#include "entry_points.hpp"
#include "kestrelopt/mopso/pareto.hpp"
#include "panic.hpp"
#include "pending_error.hpp"
#include "results.hpp"
#include "run_watch.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kFunctionParams[] = {
    required("front", Kind::FloatRows),
    required("reference", Kind::FloatList),
};
constexpr Signature kFunction{"hypervolume()", kFunctionParams};

constexpr Param kMethodParams[] = {optional("reference", Kind::FloatList)};
constexpr Signature kMethod{"ParetoFront.hypervolume()", kMethodParams};

// The computation runs without the interpreter lock and hears signals (Ctrl-C) as it goes;
// `points` are views of native buffers only.
double watched_hypervolume(std::span<const ObjectiveView> points,
                           std::span<const double> reference) {
    PendingError interrupted;
    RunWatch watch(interrupted);
    const std::optional<double> volume =
        run_watched(watch, true, [&] { return hypervolume(points, reference, &watch); });
    if (!volume) {  // a signal handler raised; there is nothing partial to hand over
        interrupted.restore();
        throw PythonError{};
    }
    return *volume;
}

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

PyObject* pareto_front_hypervolume(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kMethod, args, kwargs);
            const std::vector<std::vector<double>>& objectives =
                pareto_front_record(self).objectives;
            if (objectives.empty()) return check(PyFloat_FromDouble(0.0)).release();
            // Every vector of a front has this length: minimize_multi refuses a run whose
            // objective changed its number of values.
            const std::size_t m = objectives.front().size();
            std::vector<double> reference;
            if (a.present(0)) {
                reference = a.take_floats(0);
                if (reference.size() != m)
                    raise(PyExc_ValueError, "reference must have one value per objective (" +
                                                std::to_string(m) + "), got " +
                                                std::to_string(reference.size()));
            } else {
                reference = nadir_reference(objectives);
            }
            const std::vector<ObjectiveView> points(objectives.begin(), objectives.end());
            return check(PyFloat_FromDouble(watched_hypervolume(points, reference))).release();
        },
        static_cast<PyObject*>(nullptr));
}

const char kParetoFrontHypervolumeDoc[] =
    "hypervolume($self, reference=None)\n"
    "--\n"
    "\n"
    "Hypervolume of this front: the volume of objective space dominated by it\n"
    "and bounded by ``reference`` (minimization \u2014 larger is better). The\n"
    "standard single-indicator measure of front quality (convergence + spread).\n"
    "\n"
    "Args:\n"
    "    reference (list[float] | None): the bounding \"worst\" point, with one\n"
    "        value per objective. Each value must exceed the front in that\n"
    "        objective. If ``None``, it is derived from the front's nadir\n"
    "        (worst value per objective + 10% of its spread); convenient for a\n"
    "        single run but **not** comparable across runs \u2014 pass an explicit,\n"
    "        shared reference when comparing fronts.\n"
    "\n"
    "Returns:\n"
    "    float: the hypervolume (``0.0`` for an empty front).";

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
    "    front (list[list[float]]): objective vectors, one per solution.\n"
    "    reference (list[float]): the bounding \"worst\" point, one value per\n"
    "        objective; each value must exceed the front in that objective.\n"
    "\n"
    "Returns:\n"
    "    float: the hypervolume dominated by ``front`` under ``reference``."};

}  // namespace kestrelopt::native
