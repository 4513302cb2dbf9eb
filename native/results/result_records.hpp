// The engines' results as the records of the result classes: a PsoResult's from a
// single-objective run, a ParetoFront's from a multi-objective one.
#pragma once

#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "kestrelopt/history.hpp"
#include "kestrelopt/mopso/steps.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

template <class Element>
std::vector<double> as_doubles(std::vector<Element>&& values) {
    if constexpr (std::is_same_v<Element, double>) {
        return std::move(values);
    } else {
        std::vector<double> out;
        out.reserve(values.size());
        for (const Element& v : values) out.push_back(static_cast<double>(v));
        return out;
    }
}

template <class Element>
PyPsoResult to_py_result(PsoResult<Element>&& result) {
    PyPsoResult record;
    record.best_position = as_doubles(std::move(result.best_position));
    record.best_value = result.best_value;
    record.convergence = std::move(result.history.convergence);
    record.history = std::move(result.history.positions);
    record.evaluations = result.evaluations;
    record.stop_reason = std::string(stop_reason_text(result.stop_reason));
    return record;
}

template <class Element>
PyParetoFront to_front_record(MopsoResult<Element>&& result) {
    PyParetoFront record;
    record.positions.reserve(result.front.size());
    record.objectives.reserve(result.front.size());
    record.violations.reserve(result.front.size());
    for (MoSolution<Element>& solution : result.front) {
        record.positions.push_back(as_doubles(std::move(solution.position)));
        record.objectives.push_back(std::move(solution.objectives));
        record.violations.push_back(solution.violation);
    }
    record.evaluations = result.evaluations;
    record.stop_reason = std::string(stop_reason_text(result.stop_reason));
    record.swarm_history = std::move(result.history.swarm_history);
    record.front_history = std::move(result.history.front_history);
    return record;
}

template <class Element>
PyRef to_pareto_front(MopsoResult<Element>&& result) {
    return make_result(to_front_record(std::move(result)));
}

}  // namespace kestrelopt::native
