#include "entry/on_executor.hpp"

#include "cpython/panic.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

namespace {

// 1 when `kwargs` holds one of the options of an asynchronous run, 0 when not, -1 with the
// error set.
int passes_executor_options(PyObject* kwargs) {
    if (kwargs == nullptr) return 0;
    // Interned once: a look-up then compares pointers.
    static PyObject* const names[] = {PyUnicode_InternFromString("executor"),
                                      PyUnicode_InternFromString("max_in_flight"),
                                      PyUnicode_InternFromString("on_error")};
    for (PyObject* name : names) {
        if (name == nullptr) {
            PyErr_NoMemory();
            return -1;
        }
        if (const int found = PyDict_Contains(kwargs, name); found != 0) return found;
    }
    return 0;
}

}  // namespace

bool run_on_executor(const char* function, PyObject* args, PyObject* kwargs, PyObject*& result) {
    const int passes = passes_executor_options(kwargs);
    if (passes == 0) return false;
    result = guarded(
        [&] {
            if (passes < 0) throw PythonError{};
            PyRef module = check(PyImport_ImportModule("kestrelopt.parallel"));
            PyRef run = check(PyObject_GetAttrString(module.get(), "_on_executor"));
            PyRef name = check(PyUnicode_FromString(function));
            PyRef positional = args != nullptr ? PyRef::borrow(args) : check(PyTuple_New(0));
            return PyObject_CallFunctionObjArgs(run.get(), name.get(), positional.get(), kwargs,
                                                nullptr);
        },
        static_cast<PyObject*>(nullptr));
    return true;
}

}  // namespace kestrelopt::native
