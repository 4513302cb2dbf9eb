// Direct reads of float values and list items for the per-evaluation paths. The layouts
// used (a float's double right after its header; a list's item pointer right after its
// size) have held in every CPython release but are not part of the stable ABI, so each is
// checked once on live objects, and callers take the API functions when a check fails.
#pragma once

#include <Python.h>

#include <cstring>

namespace kestrelopt::native {

inline double* float_value_slot(PyObject* number) {
    return reinterpret_cast<double*>(reinterpret_cast<char*>(number) + sizeof(PyObject));
}

inline bool float_layout_known() {
    static const bool known = [] {
        for (const double probe : {0x1.23456789abcdep-3, -7.5e300}) {
            PyObject* number = PyFloat_FromDouble(probe);
            if (number == nullptr) {
                PyErr_Clear();
                return false;
            }
            double stored = 0.0;
            std::memcpy(&stored, float_value_slot(number), sizeof stored);
            Py_DECREF(number);
            if (std::memcmp(&stored, &probe, sizeof stored) != 0) return false;
        }
        return true;
    }();
    return known;
}

// The items of a list, valid until the list changes size or code runs that may change it.
inline PyObject** list_items(PyObject* list) {
    PyObject** items = nullptr;
    std::memcpy(&items, reinterpret_cast<char*>(list) + sizeof(PyVarObject), sizeof items);
    return items;
}

inline bool list_layout_known() {
    static const bool known = [] {
        PyObject* list = Py_BuildValue("[iii]", 7, 8, 9);
        if (list == nullptr) {
            PyErr_Clear();
            return false;
        }
        bool same = PyList_Size(list) == 3 && Py_SIZE(list) == 3;
        for (Py_ssize_t i = 0; same && i < 3; ++i)
            same = list_items(list)[i] == PyList_GetItem(list, i);
        Py_DECREF(list);
        return same;
    }();
    return known;
}

}  // namespace kestrelopt::native
