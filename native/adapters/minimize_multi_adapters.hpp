// The adapters between the MOPSO engine and the caller's Python callables for
// minimize_multi: the objective (with its constraints) per particle, the same for the whole
// swarm in vectorized mode, and the per-iteration callback. The first failure is parked and
// ends the run (StopRun), so Python is not called again; every adapter ticks the RunWatch.
#pragma once

#include <Python.h>

#include <cstddef>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "adapters/candidate_args.hpp"
#include "adapters/constraint_sums.hpp"
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
    bool returned = false;         // the objective returns its constraint values too
};

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
    VectorObjective(const MultiCallables& callables, CandidateForm form, std::size_t particles,
                    RunWatch& watch)
        : callables_(callables), form_(form), watch_(watch), counter_(particles) {}

    double operator()(std::span<const Element> x, std::vector<double>& out) {
        watch_.tick(kPythonCallWork + x.size());
        particle_ = counter_.next();
        if (!args_.prepare(x, form_)) watch_.stop();
        PyRef answer(args_.call(callables_.objective));
        if (!answer) watch_.stop();
        ReturnedItems items{answer.get()};
        if (callables_.returned && !returned_items(answer.get(), items)) watch_.stop();
        if (!to_point(items.value, out, form_)) {
            explain_answer(items.value, "objective", -1, particle_,
                           callables_.returned
                               ? "a sequence of numbers, one per objective, as the first item "
                                 "of its tuple"
                               : "a sequence of numbers, one per objective",
                           true);
            watch_.stop();
        }
        if (!count_.check(out.size())) watch_.stop();
        if (callables_.returned) {
            double violation = 0.0;
            if (!returned_sum<ViolationTerms>(items, values_, violation)) watch_.stop();
            return violation;
        }
        // The objective and every constraint receive the same candidate object.
        double violation = 0.0;
        std::ptrdiff_t index = 0;
        for (const PyRef& g : callables_.constraints)
            violation =
                violation + ViolationTerms::term(ConstraintKind::Inequality,
                                                 call_for_double(g.get(), "constraints", index++));
        index = 0;
        for (const PyRef& h : callables_.equality_constraints)
            violation = violation + ViolationTerms::term(
                                        ConstraintKind::Equality,
                                        call_for_double(h.get(), "equality_constraints", index++));
        return violation;
    }

  private:
    double call_for_double(PyObject* constraint, const char* who, std::ptrdiff_t index) {
        watch_.tick(kPythonCallWork);
        PyRef result(args_.call(constraint));
        if (!result) watch_.stop();
        double value = 0.0;
        if (!to_double(result.get(), value)) {
            explain_answer(result.get(), who, index, particle_, "a number");
            watch_.stop();
        }
        return value;
    }

    const MultiCallables& callables_;
    CandidateForm form_;
    RunWatch& watch_;
    ParticleCounter counter_;
    std::size_t particle_ = 0;  // the one being evaluated
    ObjectiveCount count_;
    CandidateArgs args_;
    std::vector<double> values_;  // returned constraint values
};

// The whole swarm in one call: the objective and every constraint receive the same (N, D)
// matrix; the objective returns an (N, M) array (or N sequences of M numbers), each
// constraint one value per row. With returned constraints the objective returns
// (objectives, G) or (objectives, G, H) instead, G and H holding one row of constraint
// values per particle.
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
        cols_ = rows > 0 ? positions[0].size() : 0;
        PyRef result(PyObject_CallFunctionObjArgs(callables_.objective, matrix.get(), nullptr));
        if (!result) watch_.stop();
        ReturnedItems items{result.get()};
        if (callables_.returned && !returned_items(result.get(), items)) watch_.stop();
        read_objectives(items.value, rows, objectives);
        if (callables_.returned) {
            if (!add_returned_rows<ViolationTerms>(items, violations, rows_, flat_)) watch_.stop();
            return;
        }
        result.reset();
        for (const PyRef& g : callables_.constraints) {
            read_constraint(g.get(), matrix.get(), rows, "a constraint");
            add_column<ViolationTerms>(violations, column_, ConstraintKind::Inequality);
        }
        for (const PyRef& h : callables_.equality_constraints) {
            read_constraint(h.get(), matrix.get(), rows, "an equality constraint");
            add_column<ViolationTerms>(violations, column_, ConstraintKind::Equality);
        }
    }

  private:
    void read_objectives(PyObject* result, std::size_t rows,
                         std::vector<std::vector<double>>& objectives) {
        if (!read_rows(result, rows_, flat_, "the objectives")) {
            explain_batch_answer(result, "objective", rows, cols_,
                                 callables_.returned
                                     ? "one row of objective values per row as the first item "
                                       "of its tuple"
                                     : "one row of objective values per row");
            watch_.stop();
        }
        if (!rows_match(rows_.size(), rows, "one row of objectives per particle")) watch_.stop();
        for (std::size_t j = 0; j < rows; ++j) {
            const std::span<const double> row = rows_.row(j);
            objectives[j].assign(row.begin(), row.end());
            if (!count_.check(objectives[j].size())) watch_.stop();
        }
    }

    void read_constraint(PyObject* constraint, PyObject* matrix, std::size_t rows,
                         const char* who) {
        PyRef result(PyObject_CallFunctionObjArgs(constraint, matrix, nullptr));
        if (!result) watch_.stop();
        if (!read_column(result.get(), column_)) {
            explain_batch_answer(result.get(), who, rows, cols_, "one value per row");
            watch_.stop();
        }
        if (!rows_match(column_.size(), rows, "one constraint value per particle")) watch_.stop();
    }

    const MultiCallables& callables_;
    RunWatch& watch_;
    ObjectiveCount count_;
    std::size_t cols_ = 0;        // of the matrix the callables receive
    FloatRows rows_;              // the objectives, or returned constraint values
    std::vector<double> flat_;    // scratch of the readers
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
