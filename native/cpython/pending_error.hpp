// PendingError: the per-call slot that parks the first Python exception raised by the
// caller's callables while an engine runs, to be raised unchanged once it has returned.
#pragma once

#include <Python.h>

#include <utility>

#include "cpython/fetched_error.hpp"
#include "cpython/panic.hpp"

namespace kestrelopt::native {

class PendingError {
  public:
    bool full() const { return static_cast<bool>(error_.type); }

    // Moves the currently set Python error into the slot. The first one stays: a later
    // error is discarded.
    void store_current() {
        FetchedError error = fetch_error(false);
        if (full() || !error.type) return;
        error_ = std::move(error);
    }

    bool is_keyboard_interrupt() const {
        return full() && PyErr_GivenExceptionMatches(error_.type.get(), PyExc_KeyboardInterrupt);
    }

    // Sets an attribute of the stored exception (made an instance of its type first, which
    // changes nothing of what its raising shows). Throws PythonError when that fails.
    void attach(const char* name, PyObject* value) {
        PyObject* type = error_.type.release();
        PyObject* instance = error_.value.release();
        PyObject* traceback = error_.traceback.release();
        PyErr_NormalizeException(&type, &instance, &traceback);
        error_ = {PyRef(type), PyRef(instance), PyRef(traceback)};
        if (!error_.value || PyObject_SetAttrString(error_.value.get(), name, value) < 0)
            throw PythonError{};
    }

    // Sets the stored exception as the current error, exactly as it was raised (same
    // object, same traceback); the slot is empty afterwards.
    void restore() {
        PyErr_Restore(error_.type.release(), error_.value.release(), error_.traceback.release());
    }

  private:
    FetchedError error_;
};

}  // namespace kestrelopt::native
