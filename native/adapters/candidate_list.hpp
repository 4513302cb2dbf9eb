// Candidate lists: the Python list handed to the caller's callables for one evaluation.
#pragma once

#include <Python.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <utility>

#include "cpython/object_layout.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

// Truncation toward zero with saturation; NaN gives 0.
inline long long truncate_to_i64(double x) {
    if (x != x) return 0;
    constexpr double kTwo63 = 9223372036854775808.0;
    if (x >= kTwo63) return std::numeric_limits<long long>::max();
    if (x <= -kTwo63) return std::numeric_limits<long long>::min();
    return static_cast<long long>(x);
}

// Python int (truncated, `integers`) or float for one element, taken as a double first, so
// integers beyond 2^53 arrive rounded. Null with the error set.
template <class Element>
PyObject* candidate_item(Element element, bool integers) {
    const auto value = static_cast<double>(element);
    return integers ? PyLong_FromLongLong(truncate_to_i64(value)) : PyFloat_FromDouble(value);
}

// Stores the items of `values` into `list`, which has exactly that length.
template <class Element>
bool fill_candidate_list(PyObject* list, std::span<const Element> values, bool integers) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = candidate_item(values[i], integers);
        if (item == nullptr) return false;
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);  // steals; drops the old item
    }
    return true;
}

// Refills a list of floats from the previous evaluation. A float that only this list holds
// gets its value rewritten in place: nobody else can see it, and it spares an allocation
// and a deallocation per coordinate. Any other item is replaced by a new float.
// Rewrites `item` to `value` when it is a float only the list holds; false otherwise.
inline bool rewrite_own_float(PyObject* item, double value) {
    if (Py_TYPE(item) != &PyFloat_Type || Py_REFCNT(item) != 1) return false;
    std::memcpy(float_value_slot(item), &value, sizeof value);
    return true;
}

template <class Element>
bool refill_float_list(PyObject* list, std::span<const Element> values) {
    if (!float_layout_known()) return fill_candidate_list(list, values, false);
    std::size_t i = 0;
    if (list_layout_known()) {
        // Nothing in this loop can run Python code, so the items stay where they are.
        PyObject** items = list_items(list);
        while (i < values.size() && rewrite_own_float(items[i], static_cast<double>(values[i])))
            ++i;
    }
    // Dropping an item the objective put in may run its code, so from the first such item
    // on every item is fetched (and bounds-checked) anew.
    for (; i < values.size(); ++i) {
        const auto value = static_cast<double>(values[i]);
        PyObject* item = PyList_GetItem(list, static_cast<Py_ssize_t>(i));  // borrowed
        if (item == nullptr) return false;
        if (rewrite_own_float(item, value)) continue;
        PyObject* fresh = PyFloat_FromDouble(value);
        if (fresh == nullptr) return false;
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), fresh);  // steals; drops the old item
    }
    return true;
}

// A new candidate list; null with the error set.
template <class Element>
PyObject* candidate_list(std::span<const Element> values, bool integers) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list || !fill_candidate_list(list.get(), values, integers)) return nullptr;
    return list.release();
}

}  // namespace kestrelopt::native
