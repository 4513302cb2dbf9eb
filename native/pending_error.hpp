// PendingError: the per-call slot that parks the first Python exception raised by the
// caller's callables while an engine runs, to be raised unchanged once it has returned.
#pragma once

#include <Python.h>

#include <utility>

#include "fetched_error.hpp"

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

    // Sets `type(message)` and stores it.
    void store(PyObject* type, const char* message) {
        PyErr_SetString(type, message);
        store_current();
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
