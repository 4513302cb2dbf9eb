// The result classes PsoResult, GreyResult and ParetoFront. Each is a heap type created
// once, on first use, and kept for the life of the process; an instance owns one native
// record and exposes it through read-only getters that build new Python objects on every
// read.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "cpython/py_ref.hpp"
#include "kestrelopt/history.hpp"

namespace kestrelopt::native {

struct PyPsoResult {
    std::vector<double> best_position;
    double best_value = 0.0;
    std::vector<double> convergence;
    Trace history;
    std::uint64_t evaluations = 0;
    std::string stop_reason;
};

struct PyGreyResult {
    std::vector<std::pair<double, double>> best_position;
    std::vector<double> best_centers;
    std::vector<double> best_spreads;
    double best_value = 0.0;
    std::vector<double> convergence;
    std::uint64_t evaluations = 0;
    std::string stop_reason;
};

struct PyParetoFront {
    std::vector<std::vector<double>> positions;
    std::vector<std::vector<double>> objectives;
    Trace swarm_history;
    Trace front_history;
    std::vector<double> violations;  // per member: total constraint violation
    std::uint64_t evaluations = 0;
    std::string stop_reason;
};

// The class objects (borrowed); null with the creation error set if creation failed.
PyObject* pso_result_type();
PyObject* grey_result_type();
PyObject* pareto_front_type();

// A new instance owning `record`; throws PythonError on failure.
PyRef make_result(PyPsoResult record);
PyRef make_result(PyGreyResult record);
PyRef make_result(PyParetoFront record);

// Pickling: the class name and a tuple of the field values, in the order of the class's
// attributes; and a new instance from them (TypeError or ValueError when they do not fit).
PyRef result_state(PyObject* result);
PyRef restore_result(const std::string& name, PyObject* fields);

// The record of an instance, for its methods.
const PyPsoResult& pso_result_record(PyObject* self);
const PyGreyResult& grey_result_record(PyObject* self);
const PyParetoFront& pareto_front_record(PyObject* self);

// The to_numpy methods (result_arrays.cpp) and their docstrings.
PyObject* pso_result_to_numpy(PyObject* self, PyObject*);
PyObject* grey_result_to_numpy(PyObject* self, PyObject*);
PyObject* pareto_front_to_numpy(PyObject* self, PyObject*);
extern const char kPsoResultToNumpyDoc[];
extern const char kGreyResultToNumpyDoc[];
extern const char kParetoFrontToNumpyDoc[];

}  // namespace kestrelopt::native
