// The module's functions, each defined beside its own adapters, registered by module.cpp.
#pragma once

#include <Python.h>

#include "cpython/keyword_method.hpp"

namespace kestrelopt::native {

extern PyMethodDef minimize_method;
extern PyMethodDef minimize_multi_method;
extern PyMethodDef minimize_grey_method;
extern PyMethodDef hypervolume_method;
extern PyMethodDef nondominated_ranks_method;
extern PyMethodDef crowding_distance_method;
extern PyMethodDef benchmark_info_method;
extern PyMethodDef grey_benchmark_info_method;
extern PyMethodDef presets_method;
extern PyMethodDef restore_swarm_method;
extern PyMethodDef restore_multi_swarm_method;
extern PyMethodDef restore_async_swarm_method;
extern PyMethodDef restore_async_multi_swarm_method;
// Behind kestrelopt.indicators, outside __all__.
extern PyMethodDef hypervolume_sweep_method;
extern PyMethodDef hypervolume_contributions_method;

// The classes a caller steps through a run, created on first use (borrowed; null with the
// error set when creation failed).
PyObject* swarm_class();
PyObject* multi_swarm_class();
PyObject* async_swarm_class();
PyObject* async_multi_swarm_class();

}  // namespace kestrelopt::native
