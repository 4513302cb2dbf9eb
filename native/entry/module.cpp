// Module initialisation: builds kestrelopt_native and registers its functions and classes,
// in a fixed order, each under its name and in __all__. The module supports one
// interpreter: a repeated initialisation there returns the first module object, any other
// interpreter gets ImportError.
#include <Python.h>

#include <cstdint>
#include <string>

#include "convert/binder.hpp"
#include "cpython/panic.hpp"
#include "entry/entry_points.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

namespace {

PyModuleDef g_definition = {
    PyModuleDef_HEAD_INIT,
    "kestrelopt_native",
    "",  // empty docstring
    0,   // no per-module state
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
};

// Set once the first initialisation succeeded; kept for the life of the process.
PyObject* g_module = nullptr;
std::int64_t g_interpreter = -1;

struct Registration {
    const char* name;
    PyMethodDef* function;  // a module function, or
    PyObject* (*klass)();   // a class, created on first use
};

// The order of this table is the order of __all__.
const Registration kRegistrations[] = {
    {"minimize", &minimize_method, nullptr},
    {"minimize_multi", &minimize_multi_method, nullptr},
    {"minimize_grey", &minimize_grey_method, nullptr},
    {"hypervolume", &hypervolume_method, nullptr},
    {"benchmark_info", &benchmark_info_method, nullptr},
    {"grey_benchmark_info", &grey_benchmark_info_method, nullptr},
    {"presets", &presets_method, nullptr},
    {"PsoResult", nullptr, pso_result_type},
    {"ParetoFront", nullptr, pareto_front_type},
    {"GreyResult", nullptr, grey_result_type},
    {"Swarm", nullptr, swarm_class},
    {"MultiSwarm", nullptr, multi_swarm_class},
    {"AsyncSwarm", nullptr, async_swarm_class},
    {"AsyncMultiSwarm", nullptr, async_multi_swarm_class},
};

// Module __getattr__: `kestrelopt_native.PanicException` hands out the class, created at
// this first use if no failure created it yet, so that callers can name it in an `except`.
// It is not in __all__, which lists the module's fourteen public names.
PyObject* module_getattr(PyObject*, PyObject* name) {
    return guarded(
        [&]() -> PyObject* {
            if (PyUnicode_Check(name) &&
                PyUnicode_CompareWithASCIIString(name, "PanicException") == 0) {
                PyObject* type = panic_exception_type();
                if (type == nullptr) throw PythonError{};
                return PyRef::borrow(type).release();
            }
            PyErr_Format(PyExc_AttributeError, "module 'kestrelopt_native' has no attribute %R",
                         name);
            throw PythonError{};
        },
        static_cast<PyObject*>(nullptr));
}

// Pickling support for the result classes, used by the package through copyreg.
PyObject* module_result_state(PyObject*, PyObject* result) {
    return guarded([&] { return result_state(result).release(); }, static_cast<PyObject*>(nullptr));
}

PyObject* module_restore_result(PyObject*, PyObject* args) {
    return guarded(
        [&] {
            PyObject* name = nullptr;
            PyObject* fields = nullptr;
            if (!PyArg_UnpackTuple(args, "_restore_result", 2, 2, &name, &fields))
                throw PythonError{};
            std::string text;
            if (!to_text(name, text)) throw PythonError{};
            return restore_result(text, fields).release();
        },
        static_cast<PyObject*>(nullptr));
}

// Module attributes outside __all__.
PyMethodDef g_hidden[] = {
    {"__getattr__", module_getattr, METH_O, nullptr},
    {"_result_state", module_result_state, METH_O,
     "The class name and field values of a result, for pickling."},
    {"_restore_result", module_restore_result, METH_VARARGS,
     "A result rebuilt from the class name and field values given by _result_state."},
};

// Hidden functions that pickles name, and those kestrelopt.indicators calls, so they carry
// the module's name.
PyMethodDef* const kNamedHidden[] = {&restore_swarm_method,       &restore_multi_swarm_method,
                                     &restore_async_swarm_method, &restore_async_multi_swarm_method,
                                     &nondominated_ranks_method,  &crowding_distance_method,
                                     &hypervolume_sweep_method,   &hypervolume_contributions_method};

void register_object(PyObject* module, const Registration& entry, PyRef& all) {
    PyRef object;
    if (entry.function != nullptr) {
        PyRef module_name = check(PyUnicode_FromString("kestrelopt_native"));
        object = check(PyCFunction_NewEx(entry.function, nullptr, module_name.get()));
    } else {
        PyObject* klass = entry.klass();
        if (klass == nullptr) throw PythonError{};
        object = PyRef::borrow(klass);
    }
    if (!all) {
        all = check(PyList_New(0));
        if (PyObject_SetAttrString(module, "__all__", all.get()) < 0) throw PythonError{};
    }
    if (PyObject_SetAttrString(module, entry.name, object.get()) < 0) throw PythonError{};
    PyRef name = check(PyUnicode_FromString(entry.name));
    if (PyList_Append(all.get(), name.get()) < 0) throw PythonError{};
}

PyObject* initialise() {
    const std::int64_t interpreter = PyInterpreterState_GetID(PyInterpreterState_Get());
    if (interpreter < 0) throw PythonError{};
    if (g_module != nullptr) {
        if (interpreter == g_interpreter) return PyRef::borrow(g_module).release();
        raise(PyExc_ImportError,
              "kestrelopt_native supports a single interpreter and is already loaded in "
              "another one");
    }
    PyRef module = check(PyModule_Create(&g_definition));
    PyRef all;
    for (const Registration& entry : kRegistrations) register_object(module.get(), entry, all);
    for (PyMethodDef& hidden : g_hidden) {
        PyRef function = check(PyCFunction_NewEx(&hidden, nullptr, nullptr));
        if (PyObject_SetAttrString(module.get(), hidden.ml_name, function.get()) < 0)
            throw PythonError{};
    }
    PyRef module_name = check(PyUnicode_FromString("kestrelopt_native"));
    for (PyMethodDef* restorer : kNamedHidden) {
        PyRef function = check(PyCFunction_NewEx(restorer, nullptr, module_name.get()));
        if (PyObject_SetAttrString(module.get(), restorer->ml_name, function.get()) < 0)
            throw PythonError{};
    }
    g_module = module.share().release();
    g_interpreter = interpreter;
    return module.release();
}

}  // namespace

}  // namespace kestrelopt::native

PyMODINIT_FUNC PyInit_kestrelopt_native(void) {
    return kestrelopt::native::guarded(kestrelopt::native::initialise,
                                       static_cast<PyObject*>(nullptr));
}
