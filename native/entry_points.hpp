// The module's functions, each defined beside its own adapters, registered by module.cpp.
#pragma once

#include <Python.h>

namespace kestrelopt::native {

extern PyMethodDef minimize_method;
extern PyMethodDef benchmark_info_method;
extern PyMethodDef grey_benchmark_info_method;

// Functions taking (self, args, kwargs) stored in the PyCFunction slot of a PyMethodDef.
using KeywordFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);
inline PyCFunction as_method(KeywordFunction function) {
    // Through void(*)() so that the compiler accepts the documented METH_KEYWORDS cast.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace kestrelopt::native
