#include "results/front_hypervolume.hpp"

#include <optional>
#include <string>
#include <vector>

#include "convert/binder.hpp"
#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "cpython/run_watch.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kMethodParams[] = {optional("reference", Kind::FloatList)};
constexpr Signature kMethod{"ParetoFront.hypervolume()", kMethodParams};

}  // namespace

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

}  // namespace kestrelopt::native
