// The boundary between C++ and CPython. Inside the module, a Python error that is already
// set travels as the C++ exception PythonError; at the edge of every entry point `guarded`
// turns whatever C++ exception arrives into a Python exception, so none escapes into the
// interpreter: PythonError keeps the error already set, std::bad_alloc becomes MemoryError,
// and everything else (the core's InternalFailure first of all) becomes PanicException
// with a one-line diagnostic on standard error.
#pragma once

#include <Python.h>

#include <string>
#include <utility>

#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

// Thrown after a C API call failed and left its Python exception set.
struct PythonError {};

// Returns `object` as an owned reference, or throws PythonError when it is null.
inline PyRef check(PyObject* object) {
    if (object == nullptr) throw PythonError{};
    return PyRef(object);
}

// Sets `type` with `message` and throws PythonError.
[[noreturn]] void raise(PyObject* type, const std::string& message);

// The PanicException class (derived from BaseException), created on first use; borrowed.
// Null, with the creation error set, only if the interpreter could not create it.
PyObject* panic_exception_type();

// Writes the diagnostic and sets PanicException(message).
void set_panic(const char* message) noexcept;

// Sets the Python exception for the C++ exception being handled. Call from a catch block.
void set_error_from_current_exception() noexcept;

// Runs `body` (returning PyObject* or int) and maps any C++ exception at the boundary;
// `failed` is what the entry point returns with an exception set.
template <class Body, class Result = decltype(std::declval<Body&>()())>
Result guarded(Body&& body, Result failed) noexcept {
    try {
        return body();
    } catch (...) {
        set_error_from_current_exception();
        return failed;
    }
}

}  // namespace kestrelopt::native
