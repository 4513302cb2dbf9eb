// The adapters between the engine and the caller's Python callables for minimize. They
// keep the engine free of Python: every failure is parked in the call's PendingError, and
// from then on they answer +infinity (or stop) without calling Python again.
#pragma once

#include <Python.h>

#include <cstdlib>
#include <limits>
#include <new>
#include <span>
#include <type_traits>
#include <vector>

#include "binder.hpp"
#include "candidate_list.hpp"
#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/history.hpp"
#include "numpy_api.hpp"
#include "panic.hpp"
#include "pending_error.hpp"
#include "py_ref.hpp"

namespace kestrelopt::native {

inline constexpr double kInfinity = std::numeric_limits<double>::infinity();

// What the adapters of one call share.
struct AdapterState {
    PyObject* objective = nullptr;          // borrowed
    benchmarks::Function native = nullptr;  // set for a native benchmark
    std::span<const PyRef> constraints;
    std::span<const PyRef> equality_constraints;
    PyObject* repair = nullptr;
    PyObject* callback = nullptr;
    double penalty = 0.0;
    bool integer_lists = false;  // candidate lists of ints (integer space)
    PendingError pending;
};

// One evaluation of one particle.
template <class Element>
class CandidateAdapter {
  public:
    explicit CandidateAdapter(AdapterState& state) : state_(state) {}

    double operator()(std::span<const Element> x) {
        if (state_.pending.full()) return kInfinity;
        if (state_.native != nullptr) return native(x);
        if (state_.repair == nullptr) return evaluate(x);
        PyRef original(candidate_list(x, state_.integer_lists));
        if (!original) return failed();
        PyRef repaired(PyObject_CallFunctionObjArgs(state_.repair, original.get(), nullptr));
        original.reset();
        if (!repaired || !to_double_list(repaired.get(), point_)) return failed();
        repaired.reset();
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

    double failed() {
        state_.pending.store_current();
        return kInfinity;
    }

    // The objective and the constraints on the candidate list of one point.
    template <class Value>
    double evaluate(std::span<const Value> point) {
        if (!args_.prepare(point, state_.integer_lists)) return failed();
        double value = 0.0;
        if (!call_for_double(state_.objective, value)) return failed();
        double penalty_sum = 0.0;
        for (const PyRef& g : state_.constraints) {
            double c = 0.0;
            if (!call_for_double(g.get(), c)) return failed();
            const double excess = c > 0.0 ? c : 0.0;  // NaN counts as 0
            penalty_sum = penalty_sum + excess * excess;
        }
        for (const PyRef& h : state_.equality_constraints) {
            double c = 0.0;
            if (!call_for_double(h.get(), c)) return failed();
            penalty_sum = penalty_sum + c * c;
        }
        return value + penalty_sum * state_.penalty;
    }

    bool call_for_double(PyObject* callable, double& out) const {
        PyRef result(args_.call(callable));
        return result && to_double(result.get(), out);
    }

    AdapterState& state_;
    std::vector<double> point_;  // reused: repaired point, or integers as doubles
    CandidateArgs args_;
};

// The per-iteration callback; true continues the run.
class IterationAdapter {
  public:
    explicit IterationAdapter(AdapterState& state) : state_(state) {}

    bool operator()(const IterationInfo& info) {
        if (state_.pending.full()) return false;
        PyRef iteration(PyLong_FromSize_t(info.iteration));
        PyRef best(iteration ? PyFloat_FromDouble(info.best_value) : nullptr);
        PyRef answer(best ? PyObject_CallFunctionObjArgs(state_.callback, iteration.get(),
                                                         best.get(), nullptr)
                          : nullptr);
        if (!answer) return stop();
        bool is_boolean = false;
        bool truth = true;
        if (!boolean_value(answer.get(), is_boolean, truth)) return stop();
        return !is_boolean || truth;
    }

  private:
    bool stop() {
        state_.pending.store_current();
        return false;
    }

    AdapterState& state_;
};

// The whole swarm in one call of a NumPy-aware objective.
template <class Element>
class BatchAdapter {
  public:
    explicit BatchAdapter(AdapterState& state) : state_(state) {}

    void operator()(std::span<const std::vector<Element>> positions, std::vector<double>& values) {
        const std::size_t rows = positions.size();
        if (state_.pending.full()) return values.assign(rows, kInfinity);
        numpy::load_api();
        const std::size_t cols = rows > 0 ? positions[0].size() : 0;
        PyRef matrix = swarm_matrix(positions, rows, cols);
        if (!matrix) return fail(values, rows);
        PyRef result(PyObject_CallFunctionObjArgs(state_.objective, matrix.get(), nullptr));
        matrix.reset();
        if (!result) return fail(values, rows);
        if (!numpy::read_float64_vector(result.get(), values) &&
            !to_double_list(result.get(), values))
            return fail(values, rows);
        if (values.size() != rows) {
            state_.pending.store(PyExc_ValueError,
                                 "vectorized objective must return one value per row");
            values.assign(rows, kInfinity);
        }
    }

  private:
    // The (rows, cols) float64 matrix over a buffer filled here and owned by the array.
    static PyRef swarm_matrix(std::span<const std::vector<Element>> positions, std::size_t rows,
                              std::size_t cols) {
        const std::size_t count = rows * cols;
        auto* buffer = static_cast<double*>(std::malloc((count > 0 ? count : 1) * sizeof(double)));
        if (buffer == nullptr) throw std::bad_alloc();
        for (std::size_t j = 0; j < rows; ++j) {
            const std::vector<Element>& row = positions[j];
            for (std::size_t d = 0; d < cols; ++d)
                buffer[j * cols + d] = d < row.size() ? static_cast<double>(row[d]) : 0.0;
        }
        try {
            return numpy::matrix_over(buffer, rows, cols);
        } catch (const PythonError&) {
            return PyRef();
        }
    }

    void fail(std::vector<double>& values, std::size_t rows) {
        state_.pending.store_current();
        values.assign(rows, kInfinity);
    }

    AdapterState& state_;
};

}  // namespace kestrelopt::native
