#include "bounds.hpp"

#include <string>

#include "binder.hpp"
#include "panic.hpp"
#include "sequence.hpp"

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

    raise_value_error(
        "bounds must be a list of (min, max) pairs (or a NumPy array of shape (dim, 2)), or a "
        "single (min, max) pair with dim=<n>");
}

}  // namespace kestrelopt::native
