// Python values back into the fields of the result records, for unpickling. Each reader
// throws PythonError, with the conversion's own error set, when the value does not fit.
#pragma once

#include <Python.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "convert/binder.hpp"
#include "convert/sequence.hpp"
#include "cpython/panic.hpp"
#include "kestrelopt/history.hpp"

namespace kestrelopt::native {

inline void read_field(PyObject* value, double& out) {
    if (!to_double(value, out)) throw PythonError{};
}

inline void read_field(PyObject* value, std::uint64_t& out) {
    out = PyLong_AsUnsignedLongLong(value);
    if (out == static_cast<std::uint64_t>(-1) && PyErr_Occurred()) throw PythonError{};
}

inline void read_field(PyObject* value, std::string& out) {
    if (!to_text(value, out)) throw PythonError{};
}

inline void read_field(PyObject* value, std::vector<double>& out) {
    if (!to_double_list(value, out)) throw PythonError{};
}

inline void read_field(PyObject* value, std::vector<std::vector<double>>& out) {
    if (!to_double_lists(value, out)) throw PythonError{};
}

inline void read_field(PyObject* value, std::vector<std::pair<double, double>>& out) {
    std::vector<std::vector<double>> pairs;
    read_field(value, pairs);
    out.clear();
    for (const std::vector<double>& pair : pairs) {
        if (pair.size() != 2)
            raise(PyExc_ValueError,
                  "an interval needs 2 values, got " + std::to_string(pair.size()));
        out.emplace_back(pair[0], pair[1]);
    }
}

// A history: a sequence of snapshots, each a sequence of rows of floats.
inline void read_field(PyObject* value, Trace& out) {
    out = Trace();
    if (!check_sequence(value)) throw PythonError{};
    FloatRows flat;
    const bool read = for_each_item(value, [&](PyObject* snapshot) {
        if (!to_double_rows(snapshot, flat)) return false;
        out.open_snapshot();
        for (std::size_t i = 0; i < flat.size(); ++i) out.push_row(flat.row(i));
        return true;
    });
    if (!read) throw PythonError{};
}

}  // namespace kestrelopt::native
