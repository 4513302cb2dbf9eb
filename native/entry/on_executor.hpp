// minimize and minimize_multi with executor=: the run is handed to kestrelopt.parallel,
// which drives an AsyncSwarm (AsyncMultiSwarm) of the same options on the executor.
#pragma once

#include <Python.h>

namespace kestrelopt::native {

// Whether the call passes executor, max_in_flight or on_error; then `result` is what
// kestrelopt.parallel._on_executor(function, args, kwargs) returned (null with its error
// set). Otherwise, the native run goes ahead: a call without them pays three dict
// look-ups.
bool run_on_executor(const char* function, PyObject* args, PyObject* kwargs, PyObject*& result);

}  // namespace kestrelopt::native
