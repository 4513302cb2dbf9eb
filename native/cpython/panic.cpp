#include "cpython/panic.hpp"

#include <exception>
#include <new>

#include "kestrelopt/failure.hpp"

namespace kestrelopt::native {

namespace {

// Kept for the life of the process: created once, like the result classes.
PyObject* g_panic_type = nullptr;

constexpr const char* kPanicDoc =
    "Raised when a consistency check inside the optimization core fails.\n\n"
    "It derives from BaseException, so a plain ``except Exception:`` does not catch it.\n"
    "The module stays usable afterwards.";

}  // namespace

void raise(PyObject* type, const std::string& message) {
    // Not PyErr_SetString: names inserted into messages may contain NUL characters.
    PyRef text(
        PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size())));
    if (text) PyErr_SetObject(type, text.get());
    throw PythonError{};
}

PyObject* panic_exception_type() {
    if (g_panic_type == nullptr)
        g_panic_type = PyErr_NewExceptionWithDoc("kestrelopt_native.PanicException", kPanicDoc,
                                                 PyExc_BaseException, nullptr);
    return g_panic_type;
}

void set_panic(const char* message) noexcept {
    PySys_FormatStderr("kestrelopt_native: internal failure: %s\n", message);
    PyObject* type = panic_exception_type();
    if (type == nullptr) return;  // the creation error stays set
    PyObject* text = PyUnicode_FromString(message);
    if (text == nullptr) return;
    PyErr_SetObject(type, text);
    Py_DECREF(text);
}

void set_error_from_current_exception() noexcept {
    try {
        throw;
    } catch (const PythonError&) {
        if (!PyErr_Occurred())
            PyErr_SetString(PyExc_SystemError, "kestrelopt_native: error reported but not set");
    } catch (const InternalFailure& failure) {
        set_panic(failure.what());
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const std::exception& error) {
        set_panic(error.what());
    } catch (...) {
        set_panic("unknown C++ exception");
    }
}

}  // namespace kestrelopt::native
