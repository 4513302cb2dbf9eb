// The adapters between the engine and the caller's Python callables for minimize. They
// keep the engine free of Python: the first failure is parked in the call's PendingError
// and ends the run (StopRun), so Python is never called again. Every adapter also ticks
// the call's RunWatch, which hears signals.
#pragma once

#include <Python.h>

#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <limits>
#include <new>
#include <span>
#include <string>
#include <type_traits>
#include <vector>

#include "adapters/candidate_args.hpp"
#include "adapters/constraint_sums.hpp"
#include "convert/binder.hpp"
#include "convert/numpy_api.hpp"
#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "cpython/py_ref.hpp"
#include "cpython/run_watch.hpp"
#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/pso_steps.hpp"

namespace kestrelopt::native {

// Sets the ValueError of a repair whose point has `got` values instead of `expected`.
inline void set_repair_length_error(std::size_t got, std::size_t expected) {
    const std::string message = "repair returned " + std::to_string(got) +
                                (got == 1 ? " value" : " values") + " for a point of " +
                                std::to_string(expected) +
                                (expected == 1 ? " dimension" : " dimensions");
    PyErr_SetString(PyExc_ValueError, message.c_str());
}

// The particle a sequential run evaluates next: the engines evaluate the particles in
// order, round after round, so counting the calls tells which one an answer is for.
class ParticleCounter {
  public:
    explicit ParticleCounter(std::size_t particles) : particles_(particles) {}
    // The particle of this call; the next call is the next particle's.
    std::size_t next() {
        const std::size_t particle = next_;
        if (++next_ >= particles_) next_ = 0;
        return particle;
    }

  private:
    std::size_t particles_;
    std::size_t next_ = 0;
};

// The TypeError of a callable whose answer cannot be read: "{who}[{index}] returned
// {what} for particle {particle}; it must return {expected}" (no index when `index` is
// negative), the reading's error as its cause. For error paths only.
inline void explain_answer(PyObject* answer, const char* who, std::ptrdiff_t index,
                           std::size_t particle, const char* expected, bool items = false) {
    std::string head = who;
    if (index >= 0) head += "[" + std::to_string(index) + "]";
    explain_reading_error(
        answer, head + " returned",
        " for particle " + std::to_string(particle) + "; it must return " + expected, items);
}

// The same for a callable given the whole swarm (vectorized=True) as a rows x cols matrix.
inline void explain_batch_answer(PyObject* answer, const char* who, std::size_t rows,
                                 std::size_t cols, const char* expected) {
    explain_reading_error(answer, std::string(who) + " returned",
                          " for the (" + std::to_string(rows) + ", " + std::to_string(cols) +
                              ") matrix of the whole swarm (vectorized=True); it must return " +
                              expected,
                          false);
}

// Calls a per-iteration callback with (iteration, make_second()), make_second giving a new
// reference or null with the error set; true continues the run: any answer but a false bool
// (or NumPy boolean). An exception ends the run, parked.
template <class MakeSecond>
bool call_iteration_callback(RunWatch& watch, PyObject* callback, std::size_t iteration,
                             MakeSecond&& make_second) {
    const LockHeld held(watch);  // a native run released it
    PyRef index(PyLong_FromSize_t(iteration));
    PyRef value(index ? make_second() : nullptr);
    PyRef answer(value ? PyObject_CallFunctionObjArgs(callback, index.get(), value.get(), nullptr)
                       : nullptr);
    if (!answer) watch.stop();
    bool is_boolean = false;
    bool truth = true;
    if (!boolean_value(answer.get(), is_boolean, truth)) watch.stop();
    return !is_boolean || truth;
}

// The (rows, cols) float64 matrix of the decoded positions, over a buffer filled here and
// owned by the array; a row shorter than the first is padded with zeros.
template <class Element>
PyRef swarm_matrix(std::span<const std::vector<Element>> positions) {
    const std::size_t rows = positions.size();
    const std::size_t cols = rows > 0 ? positions[0].size() : 0;
    const std::size_t count = rows * cols;
    auto* buffer = static_cast<double*>(std::malloc((count > 0 ? count : 1) * sizeof(double)));
    if (buffer == nullptr) throw std::bad_alloc();
    for (std::size_t j = 0; j < rows; ++j) {
        const std::vector<Element>& row = positions[j];
        double* out = buffer + j * cols;
        const std::size_t n = std::min(row.size(), cols);
        if constexpr (std::is_same_v<Element, double>) {
            std::copy_n(row.data(), n, out);  // one block copy per row
        } else {
            for (std::size_t d = 0; d < n; ++d) out[d] = static_cast<double>(row[d]);
        }
        std::fill(out + n, out + cols, 0.0);
    }
    const std::size_t shape[2] = {rows, cols};
    return numpy::array_over(buffer, shape, numpy::Access::Writeable);
}

// The (particles, dimensions) float64 matrix of the positions a synchronous run asks for
// next, written by the run straight into the array's own buffer; null with the error set
// when the array cannot be made.
template <class Space>
PyRef asked_matrix(PsoSteps<Space>& steps) {
    const std::size_t shape[2] = {steps.run().particles.size(), steps.dimensions()};
    double* data = nullptr;
    PyRef matrix = numpy::new_array(shape, data);
    if (matrix) steps.ask_into(std::span<double>(data, shape[0] * shape[1]));
    return matrix;
}

// What the adapters of one call share.
struct AdapterState {
    PyObject* objective = nullptr;          // borrowed
    benchmarks::Function native = nullptr;  // set for a native benchmark
    std::span<const PyRef> constraints;
    std::span<const PyRef> equality_constraints;
    PyObject* repair = nullptr;
    PyObject* callback = nullptr;
    double penalty = 0.0;
    bool returned = false;      // the objective returns its constraint values too
    std::size_t particles = 1;  // of the swarm, to say which one an answer was for
    CandidateForm form = CandidateForm::Floats;
    PendingError pending;
    RunWatch watch{pending};  // after pending, which it refers to
};

// One evaluation of one particle.
template <class Element>
class CandidateAdapter {
  public:
    explicit CandidateAdapter(AdapterState& state) : state_(state), counter_(state.particles) {}

    double operator()(std::span<const Element> x) {
        if (state_.native != nullptr) {
            state_.watch.tick(x.size() + 1);
            return native(x);
        }
        state_.watch.tick(kPythonCallWork + x.size());
        particle_ = counter_.next();
        if (state_.repair == nullptr) return evaluate(x);
        if (!repair_args_.prepare(x, state_.form)) failed();
        PyRef repaired(repair_args_.call(state_.repair));
        if (!repaired) failed();
        if (!to_point(repaired.get(), point_, state_.form)) {
            explain_answer(repaired.get(), "repair", -1, particle_,
                           "the repaired point, a sequence of numbers", true);
            failed();
        }
        repaired.reset();
        if (point_.size() != x.size()) {
            set_repair_length_error(point_.size(), x.size());
            failed();
        }
        return evaluate(std::span<const double>(point_));
    }

  private:
    double native(std::span<const Element> x) {
        if constexpr (std::is_same_v<Element, double>) {
            return state_.native(x);
        } else {
            point_.assign(x.begin(), x.end());
            return state_.native(point_);
        }
    }

    [[noreturn]] void failed() { state_.watch.stop(); }

    // The objective and the constraints on the candidate list of one point.
    template <class Value>
    double evaluate(std::span<const Value> point) {
        if (!args_.prepare(point, state_.form)) failed();
        if (state_.returned) return evaluate_returned();
        double value = 0.0;
        if (!call_for_double(state_.objective, value, "objective", -1)) failed();
        double penalty_sum = 0.0;
        std::ptrdiff_t index = 0;
        for (const PyRef& g : state_.constraints) {
            double c = 0.0;
            if (!call_for_double(g.get(), c, "constraints", index++)) failed();
            penalty_sum = penalty_sum + PenaltyTerms::term(ConstraintKind::Inequality, c);
        }
        index = 0;
        for (const PyRef& h : state_.equality_constraints) {
            double c = 0.0;
            if (!call_for_double(h.get(), c, "equality_constraints", index++)) failed();
            penalty_sum = penalty_sum + PenaltyTerms::term(ConstraintKind::Equality, c);
        }
        return penalised(value, penalty_sum, state_.penalty);
    }

    // One call of an objective that returns (value, g) or (value, g, h).
    double evaluate_returned() {
        PyRef answer(args_.call(state_.objective));
        ReturnedItems items;
        double value = 0.0;
        double penalty_sum = 0.0;
        if (!answer || !returned_items(answer.get(), items)) failed();
        if (!to_double(items.value, value)) {
            explain_answer(items.value, "objective", -1, particle_,
                           "a number as the first item of its tuple");
            failed();
        }
        if (!returned_sum<PenaltyTerms>(items, constraint_values_, penalty_sum)) failed();
        return penalised(value, penalty_sum, state_.penalty);
    }

    // False with the callable's error, or with the TypeError naming it (`who`, `index`)
    // when its answer is not a number.
    bool call_for_double(PyObject* callable, double& out, const char* who,
                         std::ptrdiff_t index) const {
        PyRef result(args_.call(callable));
        if (!result) return false;
        if (to_double(result.get(), out)) return true;
        explain_answer(result.get(), who, index, particle_, "a number");
        return false;
    }

    AdapterState& state_;
    ParticleCounter counter_;
    std::size_t particle_ = 0;   // the one being evaluated
    std::vector<double> point_;  // reused: repaired point, or integers as doubles
    CandidateArgs args_;         // of the objective and the constraints
    CandidateArgs repair_args_;
    std::vector<double> constraint_values_;  // returned by the objective
};

// The per-iteration callback; true continues the run.
class IterationAdapter {
  public:
    explicit IterationAdapter(AdapterState& state) : state_(state) {}

    bool operator()(const IterationInfo& info) {
        return call_iteration_callback(state_.watch, state_.callback, info.iteration,
                                       [&] { return PyFloat_FromDouble(info.best_value); });
    }

  private:
    AdapterState& state_;
};

// The (rows, cols) float64 matrix of `values`, read-only or not; null with the error set.
inline PyRef matrix_of(const FloatRows& values, std::size_t rows, std::size_t cols,
                       numpy::Access access) {
    auto* buffer =
        static_cast<double*>(std::malloc((rows * cols > 0 ? rows * cols : 1) * sizeof(double)));
    if (buffer == nullptr) throw std::bad_alloc();
    std::copy_n(values.values.data(), rows * cols, buffer);
    const std::size_t shape[2] = {rows, cols};
    return numpy::array_over(buffer, shape, access);
}

// Reads what a vectorized repair returned for `rows` points of `cols` dimensions into
// `out`; false with the error set unless it is one row of `cols` values per point.
inline bool read_repaired(PyObject* repaired, std::size_t rows, std::size_t cols, FloatRows& out,
                          std::vector<double>& scratch) {
    if (!read_rows(repaired, out, scratch, "repair's result")) return false;
    if (out.size() != rows) {
        const std::string message = "vectorized repair must return one row per particle: got " +
                                    std::to_string(out.size()) + " for " + std::to_string(rows) +
                                    " rows";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    for (std::size_t j = 0; j < rows; ++j) {
        if (out.row(j).size() == cols) continue;
        set_repair_length_error(out.row(j).size(), cols);
        return false;
    }
    return true;
}

// The whole swarm in one call of a NumPy-aware objective: one round of the synchronous run.
// The repair (when given) takes the (N, D) matrix and returns the repaired one, which the
// objective and every constraint then receive; each constraint returns one value per row,
// or the objective returns (values, G) or (values, G, H) with returned constraints. Each
// row's penalty is added as the sequential mode adds it; without constraints none is.
template <class Space>
class BatchRound {
  public:
    explicit BatchRound(AdapterState& state) : state_(state) {}

    void operator()(PsoSteps<Space>& steps, std::vector<double>& values) {
        const std::size_t rows = steps.run().particles.size();
        // Each call is worth a look at the clock: it costs far more than reading it.
        state_.watch.tick(std::numeric_limits<std::size_t>::max());
        numpy::load_api();
        PyRef matrix = asked_matrix(steps);
        if (!matrix) state_.watch.stop();
        if (state_.repair != nullptr) matrix = repaired(matrix, rows, steps.dimensions());
        PyRef result(PyObject_CallFunctionObjArgs(state_.objective, matrix.get(), nullptr));
        if (!result) state_.watch.stop();
        ReturnedItems items{result.get()};
        if (state_.returned && !returned_items(result.get(), items)) state_.watch.stop();
        if (!read_column(items.value, values)) {
            explain_batch_answer(items.value, "objective", rows, steps.dimensions(),
                                 state_.returned
                                     ? "one value per row as the first item of its tuple"
                                     : "one value per row");
            state_.watch.stop();
        }
        if (values.size() != rows) {
            const std::string message = "vectorized objective must return one value per row: got " +
                                        std::to_string(values.size()) + " for " +
                                        std::to_string(rows) + " rows";
            PyErr_SetString(PyExc_ValueError, message.c_str());
            state_.watch.stop();
        }
        if (!state_.returned && state_.constraints.empty() && state_.equality_constraints.empty())
            return;
        sums_.assign(rows, 0.0);
        if (state_.returned) {
            if (!add_returned_rows<PenaltyTerms>(items, sums_, rows_, scratch_))
                state_.watch.stop();
        } else {
            result.reset();
            const std::size_t cols = steps.dimensions();
            add_callables(state_.constraints, matrix.get(), cols, ConstraintKind::Inequality);
            add_callables(state_.equality_constraints, matrix.get(), cols,
                          ConstraintKind::Equality);
        }
        for (std::size_t j = 0; j < rows; ++j)
            values[j] = penalised(values[j], sums_[j], state_.penalty);
    }

  private:
    // The matrix the repair made of `matrix`, as a fresh float64 array.
    PyRef repaired(const PyRef& matrix, std::size_t rows, std::size_t cols) {
        PyRef result(PyObject_CallFunctionObjArgs(state_.repair, matrix.get(), nullptr));
        if (!result || !read_repaired(result.get(), rows, cols, rows_, scratch_))
            state_.watch.stop();
        PyRef fresh = matrix_of(rows_, rows, cols, numpy::Access::Writeable);
        if (!fresh) state_.watch.stop();
        return fresh;
    }

    void add_callables(std::span<const PyRef> callables, PyObject* matrix, std::size_t cols,
                       ConstraintKind kind) {
        const char* who =
            kind == ConstraintKind::Equality ? "an equality constraint" : "a constraint";
        for (const PyRef& constraint : callables) {
            PyRef result(PyObject_CallFunctionObjArgs(constraint.get(), matrix, nullptr));
            if (!result) state_.watch.stop();
            if (!read_column(result.get(), column_)) {
                explain_batch_answer(result.get(), who, sums_.size(), cols, "one value per row");
                state_.watch.stop();
            }
            if (!rows_match(column_.size(), sums_.size(), "one constraint value per particle"))
                state_.watch.stop();
            add_column<PenaltyTerms>(sums_, column_, kind);
        }
    }

    AdapterState& state_;
    std::vector<double> sums_;    // each row's penalty sum
    std::vector<double> column_;  // one constraint's values
    FloatRows rows_;              // returned constraint values, or the repaired matrix
    std::vector<double> scratch_;
};

}  // namespace kestrelopt::native
