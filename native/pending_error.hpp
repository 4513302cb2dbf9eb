// PendingError: the per-call slot that parks the first Python exception raised by the
// caller's callables while an engine runs, to be raised unchanged once it has returned.
#pragma once

#include <Python.h>

#include <utility>

#include "py_ref.hpp"

namespace kestrelopt::native {

class PendingError {
  public:
    bool full() const { return static_cast<bool>(type_); }

    // Moves the currently set Python error into the slot. The first one stays: a later
    // error is discarded.
    void store_current() {
        PyObject* type = nullptr;
        PyObject* value = nullptr;
        PyObject* traceback = nullptr;
        PyErr_Fetch(&type, &value, &traceback);
        PyRef type_ref(type), value_ref(value), traceback_ref(traceback);
        if (full() || !type_ref) return;
        type_ = std::move(type_ref);
        value_ = std::move(value_ref);
        traceback_ = std::move(traceback_ref);
    }

    // Sets `type(message)` and stores it.
    void store(PyObject* type, const char* message) {
        PyErr_SetString(type, message);
        store_current();
    }

    // Sets the stored exception as the current error, exactly as it was raised (same
    // object, same traceback); the slot is empty afterwards.
    void restore() { PyErr_Restore(type_.release(), value_.release(), traceback_.release()); }

  private:
    PyRef type_;
    PyRef value_;
    PyRef traceback_;
};

}  // namespace kestrelopt::native
