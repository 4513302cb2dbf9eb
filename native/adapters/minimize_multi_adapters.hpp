// The adapters between the MOPSO engine and the caller's Python callables for
// minimize_multi: the objective (with its constraints) per particle, the same for the whole
// swarm in vectorized mode, and the per-iteration callback. The first failure is parked and
// ends the run (StopRun), so Python is not called again; every adapter ticks the RunWatch.
#pragma once

#include <Python.h>

#include <limits>
#include <span>
#include <string>
#include <vector>

#include "adapters/candidate_args.hpp"
#include "adapters/minimize_adapters.hpp"
#include "convert/binder.hpp"
#include "convert/numpy_api.hpp"
#include "cpython/py_ref.hpp"
#include "cpython/run_watch.hpp"
#include "kestrelopt/mopso/engine.hpp"

namespace kestrelopt::native {

// What the adapters of one minimize_multi call share.
struct MultiCallables {
    PyObject* objective = nullptr;  // borrowed
    std::span<const PyRef> constraints;
    std::span<const PyRef> equality_constraints;
    PyObject* callback = nullptr;  // borrowed, null when absent
};

// A constraint's share of the total violation: the excess of an inequality value over 0,
// the magnitude of an equality value; a NaN value makes the point infinitely infeasible.
inline double inequality_violation(double value) {
    if (value > 0) return value;
    return value != value ? std::numeric_limits<double>::infinity() : 0.0;
}
inline double equality_violation(double value) {
    if (value != value) return std::numeric_limits<double>::infinity();
    return value < 0 ? -value : value;
}

// The number of objectives, the same at every evaluation of a run: the archive measures
// every vector by its first member's length, so vectors of another length would be
// compared on values they do not have.
class ObjectiveCount {
  public:
    // False, with ValueError set, when `n` differs from the earlier evaluations' count.
    bool check(std::size_t n) {
        if (known_ && n != count_) {
            const std::string message = "objective returned " + values_text(n) +
                                        ", but earlier evaluations returned " +
                                        std::to_string(count_);
            PyErr_SetString(PyExc_ValueError, message.c_str());
            return false;
        }
        count_ = n;
        known_ = true;
        return true;
    }

  private:
    static std::string values_text(std::size_t n) {
        return std::to_string(n) + (n == 1 ? " value" : " values");
    }

    std::size_t count_ = 0;
    bool known_ = false;
};

// One evaluation of one particle; returns its total constraint violation.
template <class Element>
class VectorObjective {
  public:
    VectorObjective(const MultiCallables& callables, CandidateForm form, RunWatch& watch)
        : callables_(callables), form_(form), watch_(watch) {}

    double operator()(std::span<const Element> x, std::vector<double>& out) {
        watch_.tick(kPythonCallWork + x.size());
        if (!args_.prepare(x, form_)) watch_.stop();
        PyRef answer(args_.call(callables_.objective));
        if (!answer || !to_point(answer.get(), out, form_) || !count_.check(out.size()))
            watch_.stop();
        // The objective and every constraint receive the same candidate object.
        double violation = 0.0;
        for (const PyRef& g : callables_.constraints)
            violation = violation + inequality_violation(call_for_double(g.get()));
        for (const PyRef& h : callables_.equality_constraints)
            violation = violation + equality_violation(call_for_double(h.get()));
        return violation;
    }

  private:
    double call_for_double(PyObject* constraint) {
        watch_.tick(kPythonCallWork);
        PyRef result(args_.call(constraint));
        double value = 0.0;
        if (!result || !to_double(result.get(), value)) watch_.stop();
        return value;
    }

    const MultiCallables& callables_;
    CandidateForm form_;
    RunWatch& watch_;
    ObjectiveCount count_;
    CandidateArgs args_;
};

// The whole swarm in one call: the objective and every constraint receive the same (N, D)
// matrix; the objective returns an (N, M) array (or N sequences of M numbers), each
// constraint one value per row.
template <class Element>
class VectorBatch {
  public:
    VectorBatch(const MultiCallables& callables, RunWatch& watch)
        : callables_(callables), watch_(watch) {}

    void operator()(std::span<const std::vector<Element>> positions,
                    std::vector<std::vector<double>>& objectives, std::vector<double>& violations) {
        // Each call is worth a look at the clock: it costs far more than reading it.
        watch_.tick(std::numeric_limits<std::size_t>::max());
        const std::size_t rows = positions.size();
        PyRef matrix = swarm_matrix(positions);
        if (!matrix) watch_.stop();
        PyRef result(PyObject_CallFunctionObjArgs(callables_.objective, matrix.get(), nullptr));
        if (!result) watch_.stop();
        read_objectives(result.get(), rows, objectives);
        result.reset();
        for (const PyRef& g : callables_.constraints) {
            read_constraint(g.get(), matrix.get(), rows);
            for (std::size_t j = 0; j < rows; ++j)
                violations[j] = violations[j] + inequality_violation(column_[j]);
        }
        for (const PyRef& h : callables_.equality_constraints) {
            read_constraint(h.get(), matrix.get(), rows);
            for (std::size_t j = 0; j < rows; ++j)
                violations[j] = violations[j] + equality_violation(column_[j]);
        }
    }

  private:
    void read_objectives(PyObject* result, std::size_t rows,
                         std::vector<std::vector<double>>& objectives) {
        std::size_t got_rows = 0;
        std::size_t cols = 0;
        if (numpy::read_float64_matrix(result, got_rows, cols, flat_)) {
            check_rows(got_rows, rows, "one row of objectives per particle");
            for (std::size_t j = 0; j < rows; ++j)
                objectives[j].assign(flat_.begin() + static_cast<std::ptrdiff_t>(j * cols),
                                     flat_.begin() + static_cast<std::ptrdiff_t>((j + 1) * cols));
        } else {
            if (!to_double_rows(result, rows_)) watch_.stop();
            check_rows(rows_.size(), rows, "one row of objectives per particle");
            for (std::size_t j = 0; j < rows; ++j) {
                const std::span<const double> row = rows_.row(j);
                objectives[j].assign(row.begin(), row.end());
            }
        }
        for (std::size_t j = 0; j < rows; ++j)
            if (!count_.check(objectives[j].size())) watch_.stop();
    }

    void read_constraint(PyObject* constraint, PyObject* matrix, std::size_t rows) {
        PyRef result(PyObject_CallFunctionObjArgs(constraint, matrix, nullptr));
        if (!result) watch_.stop();
        if (!numpy::read_float64_vector(result.get(), column_) &&
            !to_double_list(result.get(), column_))
            watch_.stop();
        check_rows(column_.size(), rows, "one constraint value per particle");
    }

    void check_rows(std::size_t got, std::size_t rows, const char* what) {
        if (got == rows) return;
        const std::string message = "vectorized callables must return " + std::string(what) +
                                    ": got " + std::to_string(got) + " for " +
                                    std::to_string(rows) + " rows";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        watch_.stop();
    }

    const MultiCallables& callables_;
    RunWatch& watch_;
    ObjectiveCount count_;
    std::vector<double> flat_;    // an (N, M) array's values
    FloatRows rows_;              // or its rows read as sequences
    std::vector<double> column_;  // one constraint's values
};

// The per-iteration callback: callback(iteration, front_size); False stops the run.
class FrontCallback {
  public:
    FrontCallback(PyObject* callback, RunWatch& watch) : callback_(callback), watch_(watch) {}

    bool operator()(const MopsoIterationInfo& info) {
        return call_iteration_callback(watch_, callback_, info.iteration,
                                       [&] { return PyLong_FromSize_t(info.front_size); });
    }

  private:
    PyObject* callback_;
    RunWatch& watch_;
};

}  // namespace kestrelopt::native
