// Functions taking (self, args, kwargs), stored in the PyCFunction slot of a PyMethodDef.
#pragma once

#include <Python.h>

namespace kestrelopt::native {

using KeywordFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);

inline PyCFunction as_method(KeywordFunction function) {
    // Through void(*)() so that the compiler accepts the documented METH_KEYWORDS cast.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace kestrelopt::native
