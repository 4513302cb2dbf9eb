#include "swarm_options.hpp"

#include <cmath>

#include "panic.hpp"

namespace kestrelopt::native {

void check_swarm_limits(std::uint64_t n_particles, const std::optional<double>& v_max) {
    if (n_particles == 0) raise(PyExc_ValueError, "n_particles must be >= 1");
    if (v_max && !(std::isfinite(*v_max) && *v_max >= 0.0))
        raise(PyExc_ValueError, "v_max must be a finite value >= 0 (or None to disable)");
}

std::optional<std::string> objective_name(PyObject* objective) {
    if (!PyUnicode_Check(objective)) return std::nullopt;
    std::string name;
    if (!to_text(objective, name)) throw PythonError{};
    return name;
}

}  // namespace kestrelopt::native
