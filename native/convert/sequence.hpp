// Walking the items of a Python sequence for the "list of X" conversions.
#pragma once

#include <Python.h>

#include <cstddef>

#include "convert/binder.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

// Calls fn(item) for every item of a sequence, holding a reference to the item meanwhile
// (a conversion may run Python code that mutates the container). Exact lists and tuples
// are walked by index, anything else through the iteration protocol. False, with the
// error set, when fn or the iteration fails.
template <class Fn>
bool for_each_item(PyObject* sequence, Fn&& fn) {
    if (PyList_CheckExact(sequence)) {
        for (Py_ssize_t i = 0; i < PyList_Size(sequence); ++i) {
            PyRef item = PyRef::borrow(PyList_GetItem(sequence, i));
            if (!fn(item.get())) return false;
        }
        return true;
    }
    if (PyTuple_CheckExact(sequence)) {
        const Py_ssize_t size = PyTuple_Size(sequence);
        for (Py_ssize_t i = 0; i < size; ++i) {
            PyRef item = PyRef::borrow(PyTuple_GetItem(sequence, i));
            if (!fn(item.get())) return false;
        }
        return true;
    }
    PyRef iterator(PyObject_GetIter(sequence));
    if (!iterator) return false;
    while (PyRef item{PyIter_Next(iterator.get())}) {
        if (!fn(item.get())) return false;
    }
    return PyErr_Occurred() == nullptr;
}

// Number of items to reserve for; 0 when the sequence does not say.
inline std::size_t size_hint(PyObject* sequence) {
    const Py_ssize_t size = PySequence_Size(sequence);
    if (size < 0) {
        PyErr_Clear();
        return 0;
    }
    return static_cast<std::size_t>(size);
}

// The preconditions of every "list of X" conversion: not a str, and a sequence.
inline bool check_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(object)) {
        set_cannot_convert(object, "Sequence");
        return false;
    }
    return true;
}

}  // namespace kestrelopt::native
