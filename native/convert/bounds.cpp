#include "convert/bounds.hpp"

#include <string>

#include "convert/binder.hpp"
#include "convert/sequence.hpp"
#include "cpython/panic.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

namespace {

// A tuple (subclasses included) of exactly two floats.
bool read_tuple_pair(PyObject* object, Bound& out) {
    if (!PyTuple_Check(object) || PyTuple_Size(object) != 2) {
        PyErr_SetString(PyExc_TypeError, "not a pair");
        return false;
    }
    return to_double(PyTuple_GetItem(object, 0), out.first) &&
           to_double(PyTuple_GetItem(object, 1), out.second);
}

bool read_tuple_pairs(PyObject* object, std::vector<Bound>& out) {
    if (!check_sequence(object)) return false;
    return for_each_item(object, [&](PyObject* item) {
        Bound pair;
        if (!read_tuple_pair(item, pair)) return false;
        out.push_back(pair);
        return true;
    });
}

[[noreturn]] void raise_value_error(const std::string& message) {
    raise(PyExc_ValueError, message);
}

void check_count(std::optional<std::uint64_t> dim, std::size_t pairs) {
    if (dim && *dim != pairs)
        raise_value_error("dim=" + std::to_string(*dim) + " does not match the " +
                          std::to_string(pairs) + " bound pairs given");
}

std::vector<Bound> repeat(Bound pair, std::optional<std::uint64_t> dim) {
    if (!dim) raise_value_error("with a single (min, max) bound, pass dim=<number of dimensions>");
    if (*dim == 0) raise_value_error("dim must be >= 1");
    return std::vector<Bound>(*dim, pair);
}

// An object with `lb` and `ub` attributes, such as SciPy's Bounds: two sequences of one
// length give one pair per index; two floats give a single pair, repeated `dim` times.
// False, with the error set, when an attribute is missing or does not convert.
bool read_lower_upper(PyObject* object, std::optional<std::uint64_t> dim, std::vector<Bound>& out) {
    PyRef lower(PyObject_GetAttrString(object, "lb"));
    if (!lower) return false;
    PyRef upper(PyObject_GetAttrString(object, "ub"));
    if (!upper) return false;
    std::vector<double> lows;
    std::vector<double> highs;
    if (to_double_list(lower.get(), lows) && to_double_list(upper.get(), highs)) {
        if (lows.size() != highs.size())
            raise_value_error("bounds.lb has length " + std::to_string(lows.size()) +
                              " but bounds.ub has length " + std::to_string(highs.size()));
        if (lows.empty()) raise_value_error("bounds is empty");
        check_count(dim, lows.size());
        out.clear();
        for (std::size_t i = 0; i < lows.size(); ++i) out.emplace_back(lows[i], highs[i]);
        return true;
    }
    discard_reading_error();  // scalars (a 0-d array too) are not sequences
    Bound pair;
    if (!to_double(lower.get(), pair.first) || !to_double(upper.get(), pair.second)) return false;
    out = repeat(pair, dim);
    return true;
}

}  // namespace

void discard_reading_error() {
    if (PyErr_Occurred() == nullptr) return;  // converted, but of the wrong length
    if (!PyErr_ExceptionMatches(PyExc_Exception)) throw PythonError{};
    PyErr_Clear();
}

std::vector<Bound> resolve_bounds(PyObject* bounds, std::optional<std::uint64_t> dim) {
    // A reading that does not convert is dropped and the next one is tried.
    std::vector<Bound> pairs;
    if (read_tuple_pairs(bounds, pairs)) {
        if (pairs.empty()) raise_value_error("bounds is empty");
        check_count(dim, pairs.size());
        return pairs;
    }
    discard_reading_error();

    std::vector<std::vector<double>> rows;
    if (to_double_lists(bounds, rows)) {
        if (rows.empty()) raise_value_error("bounds is empty");
        pairs.clear();
        for (const auto& row : rows) {
            if (row.size() != 2)
                raise_value_error("each bound must have exactly two values, (min, max)");
            pairs.emplace_back(row[0], row[1]);
        }
        check_count(dim, pairs.size());
        return pairs;
    }
    discard_reading_error();

    Bound pair;
    if (read_tuple_pair(bounds, pair)) return repeat(pair, dim);
    discard_reading_error();

    std::vector<double> values;
    if (to_double_list(bounds, values)) {
        if (values.size() == 2) return repeat({values[0], values[1]}, dim);
    }
    discard_reading_error();

    // Tried last, so that no object that one of the readings above accepts changes meaning.
    if (read_lower_upper(bounds, dim, pairs)) return pairs;
    discard_reading_error();

    raise_value_error(
        "bounds must be a list of (min, max) pairs (or a NumPy array of shape (dim, 2)), or a "
        "single (min, max) pair with dim=<n>");
}

}  // namespace kestrelopt::native
