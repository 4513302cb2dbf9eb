// run: the second half of minimize. Builds the engine, wraps the objective and the
// caller's callables in adapters, runs the engine and turns its result into a PsoResult.
#pragma once

#include <Python.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert/swarm_options.hpp"
#include "cpython/py_ref.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/restarts.hpp"
#include "kestrelopt/spaces/continuous.hpp"
#include "kestrelopt/spaces/integer.hpp"
#include "kestrelopt/spaces/mixed.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt::native {

struct RunRequest {
    PsoConfig config;
    double penalty = 0.0;
    PyObject* objective = nullptr;           // borrowed; unused with a native name
    std::optional<std::string> native_name;  // the objective was a str
    std::vector<PyRef> constraints;
    std::vector<PyRef> equality_constraints;
    bool returned = false;         // constraints="returned": the objective gives their values
    PyObject* repair = nullptr;    // borrowed, null when absent
    PyObject* callback = nullptr;  // borrowed, null when absent
    bool vectorized = false;
    bool array_input = false;  // the callables (vectorized objective aside) take arrays
    RestartPolicy restarts;
    // The velocity rule and topology of a run after a restart (needed only with restarts).
    RuleRemaker remake;
};

// The finished PsoResult, or PythonError with the exception set (a stored exception of the
// caller's callables is raised unchanged, with its traceback).
template <class Space>
PyRef run(Space space, std::unique_ptr<Velocity> velocity, std::unique_ptr<Topology> topology,
          const RunRequest& request);

extern template PyRef run(ContinuousSpace, std::unique_ptr<Velocity>, std::unique_ptr<Topology>,
                          const RunRequest&);
extern template PyRef run(IntegerSpace, std::unique_ptr<Velocity>, std::unique_ptr<Topology>,
                          const RunRequest&);
extern template PyRef run(MixedSpace, std::unique_ptr<Velocity>, std::unique_ptr<Topology>,
                          const RunRequest&);

}  // namespace kestrelopt::native
