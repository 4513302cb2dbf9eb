#include "convert/swarm_options.hpp"

#include <cmath>

#include "cpython/panic.hpp"
#include "kestrelopt/format.hpp"
#include "kestrelopt/velocity/limited.hpp"

namespace kestrelopt::native {

namespace {

bool valid_limit(double value) {
    return std::isfinite(value) && value >= 0.0;
}

}  // namespace

std::string var_types_lengths_message(std::size_t given, std::size_t dims) {
    return "var_types has length " + std::to_string(given) + " but bounds has length " +
           std::to_string(dims);
}

std::string var_types_match_message(std::size_t, std::size_t) {
    return "var_types length must match bounds";
}

void check_single_leader(const std::string& velocity) {
    if (velocity == "fips")
        raise(PyExc_ValueError,
              "MOPSO needs a single-leader velocity ('inertia', 'constriction', 'spso2011' or "
              "'spso2011_uniform_radius'); 'fips' does not apply");
}

MopsoVariant mopso_variant(const std::string& variant) {
    if (variant == "mopso") return MopsoVariant::Mopso;
    if (variant == "smpso") return MopsoVariant::Smpso;
    if (variant == "smpso_crossover") return MopsoVariant::SmpsoCrossover;
    raise(PyExc_ValueError,
          "variant must be 'mopso', 'smpso' or 'smpso_crossover', got '" + variant + "'");
}

void check_smpso_alone(const std::string& variant,
                       std::initializer_list<std::pair<const char*, bool>> given) {
    for (const auto& [name, is_given] : given)
        if (is_given)
            raise(PyExc_ValueError, "variant='" + variant +
                                        "' draws its own coefficients, bounds and mutation; " +
                                        name + " does not apply to it (leave it out)");
}

ArchiveStrategy archive_strategy(const std::optional<std::string>& archive,
                                 std::optional<std::uint64_t> divisions) {
    if (!archive)
        return divisions ? ArchiveStrategy::grid(*divisions) : ArchiveStrategy::crowding();
    if (*archive == "grid") {
        if (!divisions) raise(PyExc_ValueError, "archive='grid' needs grid_divisions (got None)");
        return ArchiveStrategy::grid(*divisions);
    }
    const bool crowding = *archive == "crowding";
    const bool decomposition = *archive == "decomposition";
    if (!crowding && !decomposition && *archive != "hypervolume")
        raise(PyExc_ValueError,
              "archive must be None, 'crowding', 'grid', 'hypervolume' or 'decomposition', got '" +
                  *archive + "'");
    if (divisions)
        raise(PyExc_ValueError, "grid_divisions applies to archive='grid' only (archive='" +
                                    *archive + "' was given)");
    if (crowding) return ArchiveStrategy::crowding();
    return decomposition ? ArchiveStrategy::decomposition() : ArchiveStrategy::hypervolume();
}

void check_n_particles(std::uint64_t n_particles) {
    if (n_particles == 0) raise(PyExc_ValueError, "n_particles must be >= 1");
}

std::size_t iteration_limit(std::optional<std::uint64_t> max_iter, bool max_evals, bool max_time) {
    if (max_iter) return *max_iter;
    if (!max_evals && !max_time)
        raise(PyExc_ValueError,
              "max_iter=None needs max_evals or max_time to end the run, as the other stop "
              "rules may never fire: pass one of them, or a max_iter");
    return kNoIterationLimit;
}

std::size_t schedule_iterations(bool unlimited, std::optional<std::size_t> max_evals,
                                std::size_t n_particles, bool scheduled, const char* missing) {
    if (!unlimited) return 0;
    if (max_evals) return iterations_within(*max_evals, n_particles);
    if (scheduled) raise(PyExc_ValueError, missing);
    return 0;
}

VelocityLimits check_velocity_limits(std::optional<double> v_max, const std::vector<double>* each,
                                     std::optional<double> fraction, std::size_t units,
                                     LimitUnit unit) {
    if ((v_max || each) && fraction)
        raise(PyExc_ValueError, "pass either v_max or v_max_fraction, not both");
    if (v_max && !valid_limit(*v_max))
        raise(PyExc_ValueError, "v_max must be a finite value >= 0 (or None to disable)");
    VelocityLimits limits{v_max, {}, fraction};
    if (each) {
        if (each->size() != units)
            raise(PyExc_ValueError, "v_max has " + std::to_string(each->size()) +
                                        " values but there are " + std::to_string(units) + " " +
                                        unit.plural);
        for (std::size_t i = 0; i < each->size(); ++i)
            if (!valid_limit((*each)[i]))
                raise(PyExc_ValueError, "v_max[" + std::to_string(i) +
                                            "] must be a finite value >= 0 (got " +
                                            format_float((*each)[i]) + ")");
        limits.v_max_each = *each;
    }
    if (fraction && !valid_limit(*fraction))
        raise(PyExc_ValueError, "v_max_fraction must be a finite value >= 0 (or None to disable)");
    return limits;
}

std::unique_ptr<Velocity> limit_velocity(std::unique_ptr<Velocity> rule,
                                         const VelocityLimits& limits,
                                         const std::vector<Bound>& spans, LimitUnit unit) {
    if (!limits.v_max && limits.v_max_each.empty() && !limits.fraction) return rule;
    std::vector<double> each(spans.size());
    for (std::size_t c = 0; c < spans.size(); ++c) {
        const std::size_t owner = c / unit.coordinates;
        if (limits.v_max) {
            each[c] = *limits.v_max;
        } else if (!limits.v_max_each.empty()) {
            each[c] = limits.v_max_each[owner];
        } else {
            const auto [low, high] = spans[c];
            each[c] = *limits.fraction * (high - low);
            if (!std::isfinite(each[c]))
                raise(PyExc_ValueError, "v_max_fraction needs bounds of finite width, but " +
                                            std::string(unit.singular) + " " +
                                            std::to_string(owner) + " spans (" + format_float(low) +
                                            ", " + format_float(high) + ")");
        }
    }
    return std::make_unique<LimitedVelocity>(std::move(rule), std::move(each));
}

std::optional<std::string> objective_name(PyObject* objective) {
    if (!PyUnicode_Check(objective)) return std::nullopt;
    std::string name;
    if (!to_text(objective, name)) throw PythonError{};
    return name;
}

RestartPolicy restart_policy(std::uint64_t restarts, double growth,
                             std::optional<double> min_diameter, std::size_t patience) {
    if (!(growth >= 1.0 && std::isfinite(growth)))
        raise(PyExc_ValueError,
              "restart_growth must be a finite number >= 1, got " + format_float(growth));
    if (min_diameter && !(*min_diameter >= 0.0 && std::isfinite(*min_diameter)))
        raise(PyExc_ValueError,
              "min_diameter must be a finite number >= 0, got " + format_float(*min_diameter));
    if (restarts > 0 && !min_diameter && patience == 0)
        raise(PyExc_ValueError,
              "restarts need a rule that finds a run stagnant: pass min_diameter (for example "
              "1e-6, a fraction of the bounds' width) or patience");
    return {static_cast<std::size_t>(restarts), growth};
}

}  // namespace kestrelopt::native
