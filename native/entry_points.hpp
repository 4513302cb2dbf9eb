// The module's functions, each defined beside its own adapters, registered by module.cpp.
#pragma once

#include <Python.h>

namespace kestrelopt::native {

extern PyMethodDef minimize_method;
extern PyMethodDef minimize_multi_method;
extern PyMethodDef minimize_grey_method;
extern PyMethodDef hypervolume_method;
extern PyMethodDef benchmark_info_method;
extern PyMethodDef grey_benchmark_info_method;
extern PyMethodDef restore_swarm_method;
extern PyMethodDef restore_multi_swarm_method;

// The classes a caller steps through a run, created on first use (borrowed; null with the
// error set when creation failed).
PyObject* swarm_class();
PyObject* multi_swarm_class();

// ParetoFront.hypervolume, a method of the result class, and its docstring.
PyObject* pareto_front_hypervolume(PyObject* self, PyObject* args, PyObject* kwargs);
extern const char kParetoFrontHypervolumeDoc[];

// Functions taking (self, args, kwargs) stored in the PyCFunction slot of a PyMethodDef.
using KeywordFunction = PyObject* (*)(PyObject*, PyObject*, PyObject*);
inline PyCFunction as_method(KeywordFunction function) {
    // Through void(*)() so that the compiler accepts the documented METH_KEYWORDS cast.
    return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace kestrelopt::native
