// FetchedError: the pending Python error taken out of the interpreter, each part owned, so
// that every path that inspects or parks an error releases it too.
#pragma once

#include <Python.h>

#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

// All three are null when no error was set.
struct FetchedError {
    PyRef type;
    PyRef value;
    PyRef traceback;
};

// Clears the pending error and returns it. With `normalize` the value is made an instance
// of the type, for reading it; without, it stays exactly as raised, for restoring it.
inline FetchedError fetch_error(bool normalize) {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (normalize) PyErr_NormalizeException(&type, &value, &traceback);
    return {PyRef(type), PyRef(value), PyRef(traceback)};
}

}  // namespace kestrelopt::native
