// The exact hypervolume of the core, computed without the interpreter lock and open to
// signals, and ParetoFront.hypervolume(reference=None), the method of the front result.
#pragma once

#include <Python.h>

#include <span>

#include "kestrelopt/mopso/pareto.hpp"

namespace kestrelopt::native {

// `points` are views of native buffers only; raises PythonError when a signal handler
// raised during the computation.
double watched_hypervolume(std::span<const ObjectiveView> points,
                           std::span<const double> reference);

PyObject* pareto_front_hypervolume(PyObject* self, PyObject* args, PyObject* kwargs);
extern const char kParetoFrontHypervolumeDoc[];

}  // namespace kestrelopt::native
