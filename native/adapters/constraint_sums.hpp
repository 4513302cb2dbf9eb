// What constraint values add up to, the one way every mode adds them: starting from 0, the
// inequality values in their order, then the equality values, each contributing its term.
// minimize weighs a quadratic penalty (PenaltyTerms) and adds it to the objective's value;
// minimize_multi totals a violation (ViolationTerms) for constrained domination. The
// sequential adapters add one evaluation's terms; a whole swarm's come as one column per
// constraint callable or as one row of constraint values per particle, added per row in
// the same order, so that each particle's sum has the bits of the sequential one. Swarm and
// MultiSwarm take these sums as their violations.
//
// The readers of a whole swarm's results (one value per row, rows of values) follow the
// CPython convention: false with the Python error set.
#pragma once

#include <Python.h>

#include <cstdint>
#include <limits>
#include <span>
#include <string>
#include <vector>

#include "convert/binder.hpp"
#include "convert/numpy_api.hpp"
#include "cpython/panic.hpp"

namespace kestrelopt::native {

enum class ConstraintKind : std::uint8_t { Inequality, Equality };

// minimize's penalty: the squared excess of an inequality value over 0 (a NaN excess counts
// as 0) and the squared equality value (a NaN makes the sum NaN).
struct PenaltyTerms {
    static double term(ConstraintKind kind, double value) {
        if (kind == ConstraintKind::Equality) return value * value;
        const double excess = value > 0.0 ? value : 0.0;  // NaN counts as 0
        return excess * excess;
    }
};

// minimize_multi's total violation: the excess of an inequality value over 0, the
// magnitude of an equality value; a NaN makes the point infinitely infeasible.
struct ViolationTerms {
    static double term(ConstraintKind kind, double value) {
        if (value != value) return std::numeric_limits<double>::infinity();
        if (kind == ConstraintKind::Equality) return value < 0 ? -value : value;
        return value > 0 ? value : 0.0;
    }
};

// The value a penalised run minimizes.
inline double penalised(double value, double penalty_sum, double penalty) {
    return value + penalty_sum * penalty;
}

// `sum` with the terms of `values` (one evaluation's constraints of one kind) added in order.
template <class Terms>
double add_terms(double sum, std::span<const double> values, ConstraintKind kind) {
    for (const double value : values) sum = sum + Terms::term(kind, value);
    return sum;
}

// Adds one constraint's values, one per row, to the rows' sums.
template <class Terms>
void add_column(std::span<double> sums, std::span<const double> column, ConstraintKind kind) {
    for (std::size_t j = 0; j < sums.size(); ++j) sums[j] = sums[j] + Terms::term(kind, column[j]);
}

// Adds each row's constraint values of one kind, in order, to that row's sum.
template <class Terms>
void add_rows(std::span<double> sums, const FloatRows& rows, ConstraintKind kind) {
    for (std::size_t j = 0; j < sums.size(); ++j)
        sums[j] = add_terms<Terms>(sums[j], rows.row(j), kind);
}

// One value per row: a one-dimensional float64 array, or a sequence of numbers.
inline bool read_column(PyObject* object, std::vector<double>& out) {
    return numpy::read_float64_vector(object, out) || to_double_list(object, out);
}

// Rows of values: a two-dimensional float64 array, or a sequence of sequences of numbers
// (rows of any lengths). A one-dimensional float64 array is refused with a ValueError naming
// `what` and the shape it lacks.
inline bool read_rows(PyObject* object, FloatRows& out, std::vector<double>& scratch,
                      const char* what) {
    std::size_t rows = 0;
    std::size_t cols = 0;
    if (numpy::read_float64_matrix(object, rows, cols, out.values)) {
        out.ends.resize(rows);
        for (std::size_t j = 0; j < rows; ++j) out.ends[j] = (j + 1) * cols;
        return true;
    }
    if (numpy::read_float64_vector(object, scratch)) {
        const std::string message = std::string(what) +
                                    " must hold one row per particle (an (N, K) array), got a "
                                    "one-dimensional array; for one value per particle, pass "
                                    "a[:, None]";
        PyErr_SetString(PyExc_ValueError, message.c_str());
        return false;
    }
    return to_double_rows(object, out);
}

// False, with the ValueError of the vectorized callables, unless `got` rows came back for
// `rows` particles; `what` names what each particle should have had.
inline bool rows_match(std::size_t got, std::size_t rows, const char* what) {
    if (got == rows) return true;
    const std::string message = "vectorized callables must return " + std::string(what) + ": got " +
                                std::to_string(got) + " for " + std::to_string(rows) + " rows";
    PyErr_SetString(PyExc_ValueError, message.c_str());
    return false;
}

// With constraints="returned" the objective gives the equality constraints' values too:
// ValueError when equality callables are given besides.
inline void check_returned_alone(bool returned, bool equality_callables) {
    if (returned && equality_callables)
        raise(PyExc_ValueError,
              std::string("equality_constraints must be None with constraints=\"") + kReturned +
                  "\": the objective returns the equality constraints' values as the third "
                  "item of its tuple");
}

// The items of what an objective returns with constraints="returned": (value, g) or
// (value, g, h), g and h the values of the inequality and equality constraints (for a whole
// swarm, one row of them per particle). Borrowed from the tuple.
struct ReturnedItems {
    PyObject* value = nullptr;
    PyObject* inequalities = nullptr;
    PyObject* equalities = nullptr;  // null when the tuple has two items
};

// Splits `answer`; false with a TypeError unless it is a tuple of two or three items.
inline bool returned_items(PyObject* answer, ReturnedItems& out) {
    const Py_ssize_t size = PyTuple_Check(answer) ? PyTuple_Size(answer) : 0;
    if (size != 2 && size != 3) {
        const std::string got = PyTuple_Check(answer)
                                    ? "a tuple of " + std::to_string(size) + " items"
                                    : type_name(answer);
        const std::string message = std::string("with constraints=\"") + kReturned +
                                    "\" the objective must return a tuple (value, constraints) "
                                    "or (value, constraints, equality_constraints), got " +
                                    got;
        PyErr_SetString(PyExc_TypeError, message.c_str());
        return false;
    }
    out.value = PyTuple_GetItem(answer, 0);
    out.inequalities = PyTuple_GetItem(answer, 1);
    out.equalities = size == 3 ? PyTuple_GetItem(answer, 2) : nullptr;
    return true;
}

// The sum of one evaluation's returned constraint values; `scratch` holds them meanwhile.
template <class Terms>
bool returned_sum(const ReturnedItems& items, std::vector<double>& scratch, double& sum) {
    if (!read_column(items.inequalities, scratch)) return false;
    sum = add_terms<Terms>(0.0, scratch, ConstraintKind::Inequality);
    if (items.equalities == nullptr) return true;
    if (!read_column(items.equalities, scratch)) return false;
    sum = add_terms<Terms>(sum, scratch, ConstraintKind::Equality);
    return true;
}

// Adds a whole swarm's returned constraint values, one row per particle, to the rows' sums.
template <class Terms>
bool add_returned_rows(const ReturnedItems& items, std::span<double> sums, FloatRows& rows,
                       std::vector<double>& scratch) {
    if (!read_rows(items.inequalities, rows, scratch, "the constraint values") ||
        !rows_match(rows.size(), sums.size(), "one row of constraint values per particle"))
        return false;
    add_rows<Terms>(sums, rows, ConstraintKind::Inequality);
    if (items.equalities == nullptr) return true;
    if (!read_rows(items.equalities, rows, scratch, "the equality constraint values") ||
        !rows_match(rows.size(), sums.size(), "one row of equality constraint values per particle"))
        return false;
    add_rows<Terms>(sums, rows, ConstraintKind::Equality);
    return true;
}

}  // namespace kestrelopt::native
