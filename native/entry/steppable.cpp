#include "entry/steppable.hpp"

#include <string>

#include "convert/binder.hpp"

namespace kestrelopt::native {

void check_positional(PyObject* args, const char* function) {
    const Py_ssize_t given = args == nullptr ? 0 : PyTuple_Size(args);
    if (given > 1)
        raise(PyExc_TypeError, std::string(function) +
                                   " takes 1 positional argument (the bounds) but " +
                                   std::to_string(given) + " were given");
}

PyRef checkpoint_options(PyObject* kwargs, const std::vector<Bound>& pairs) {
    PyRef options = check(kwargs != nullptr ? PyDict_Copy(kwargs) : PyDict_New());
    PyRef bounds = check(PyList_New(static_cast<Py_ssize_t>(pairs.size())));
    for (std::size_t i = 0; i < pairs.size(); ++i)
        PyList_SetItem(bounds.get(), static_cast<Py_ssize_t>(i),
                       check(Py_BuildValue("(dd)", pairs[i].first, pairs[i].second)).release());
    if (PyDict_SetItemString(options.get(), "bounds", bounds.get()) < 0) throw PythonError{};
    for (const char* dropped : {"dim", "init"}) {
        PyRef key = check(PyUnicode_FromString(dropped));
        const int has = PyDict_Contains(options.get(), key.get());
        if (has < 0 || (has == 1 && PyDict_DelItem(options.get(), key.get()) < 0))
            throw PythonError{};
    }
    return options;
}

PyRef reduce_to(const char* restore, PyObject* options, const std::vector<std::uint8_t>& state) {
    PyRef module = check(PyImport_ImportModule("kestrelopt_native"));
    PyRef function = check(PyObject_GetAttrString(module.get(), restore));
    PyRef bytes = check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(state.data()),
                                                  static_cast<Py_ssize_t>(state.size())));
    return check(Py_BuildValue("(O(OO))", function.get(), options, bytes.get()));
}

PyRef construct_from(PyObject* type, PyObject* options, PyObject* state,
                     std::span<const std::uint8_t>& bytes) {
    if (!PyDict_Check(options))
        raise(PyExc_TypeError, "a checkpoint's options must be a dict, got " + type_name(options));
    if (!PyBytes_Check(state))
        raise(PyExc_TypeError, "a checkpoint's state must be bytes, got " + type_name(state));
    PyRef no_args = check(PyTuple_New(0));
    PyRef object = check(PyObject_Call(type, no_args.get(), options));
    if (Py_TYPE(object.get()) != reinterpret_cast<PyTypeObject*>(type))
        raise(PyExc_TypeError, "a checkpoint did not rebuild its class");
    bytes = std::span<const std::uint8_t>(
        reinterpret_cast<const std::uint8_t*>(PyBytes_AsString(state)),
        static_cast<std::size_t>(PyBytes_Size(state)));
    return object;
}

void raise_ended(StopReason reason) {
    raise(PyExc_ValueError, "the run has ended (" + std::string(stop_reason_text(reason)) +
                                "); its outcome is kept, and ask() has nothing more to give");
}

PyObject* create_driver_class(const DriverClassSpec& spec) {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(spec.doc)},
        {Py_tp_getset, spec.getters},
        {Py_tp_methods, spec.methods},
        {Py_tp_repr, reinterpret_cast<void*>(spec.repr)},
        {Py_tp_new, reinterpret_cast<void*>(spec.constructor)},
        {Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)},
        {0, nullptr},
    };
    PyType_Spec type_spec = {spec.qualified_name, spec.basicsize, 0, Py_TPFLAGS_DEFAULT, slots};
    return PyType_FromSpec(&type_spec);
}

PyRef stop_reason_or_none(std::optional<StopReason> reason) {
    if (!reason) return PyRef::borrow(Py_None);
    const std::string_view text = stop_reason_text(*reason);
    return check(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
}

}  // namespace kestrelopt::native
