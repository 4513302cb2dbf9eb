// PyRef: sole owner of one strong reference to a Python object (or of none). Every
// reference the module creates is held by one of these, so error paths release it too.
#pragma once

#include <Python.h>

#include <utility>

namespace kestrelopt::native {

class PyRef {
  public:
    PyRef() noexcept = default;
    // Takes over a new reference (as returned by most C API calls); null is allowed.
    explicit PyRef(PyObject* owned) noexcept : object_(owned) {}
    // Adds a reference to a borrowed object.
    static PyRef borrow(PyObject* borrowed) noexcept {
        Py_XINCREF(borrowed);
        return PyRef(borrowed);
    }

    PyRef(const PyRef&) = delete;
    PyRef& operator=(const PyRef&) = delete;
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef&& other) noexcept {
        if (this != &other) reset(std::exchange(other.object_, nullptr));
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const noexcept { return object_; }
    explicit operator bool() const noexcept { return object_ != nullptr; }

    // Gives the reference to the caller (for returning it to the interpreter).
    PyObject* release() noexcept { return std::exchange(object_, nullptr); }

    // Drops the held reference (if any) and takes over `owned`.
    void reset(PyObject* owned = nullptr) noexcept {
        PyObject* old = std::exchange(object_, owned);
        Py_XDECREF(old);
    }

    // A second owner of the same object.
    PyRef share() const noexcept { return borrow(object_); }

  private:
    PyObject* object_ = nullptr;
};

}  // namespace kestrelopt::native
