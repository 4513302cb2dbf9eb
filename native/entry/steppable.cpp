#include "entry/steppable.hpp"

#include <algorithm>
#include <string>

#include "adapters/constraint_sums.hpp"
#include "convert/binder.hpp"
#include "convert/numpy_api.hpp"

namespace kestrelopt::native {

std::vector<double>& TellValues::read(PyObject* given, const char* head, const char* tail) {
    if (!read_column(given, get())) {
        explain_reading_error(given, head, tail, true);
        throw PythonError{};
    }
    return get();
}

namespace {

constexpr Param kViolationsParams[] = {
    required("constraints", Kind::Object),
    optional("equality_constraints", Kind::Object),
};
constexpr Signature kViolationsSignature{"violations()", kViolationsParams};

// The rows of the argument named `name`; a TypeError names it.
void read_argument_rows(PyObject* given, const char* name, FloatRows& out,
                        std::vector<double>& scratch) {
    if (read_rows(given, out, scratch, name)) return;
    wrap_type_error(name);
    throw PythonError{};
}

template <class Terms>
PyObject* sums_of(PyObject* args, PyObject* kwargs) {
    Arguments a(kViolationsSignature, args, kwargs);
    numpy::load_api();
    FloatRows rows;
    std::vector<double> scratch;
    read_argument_rows(a.object(0), "constraints", rows, scratch);
    const std::size_t n = rows.size();
    const std::size_t shape[1] = {n};
    double* data = nullptr;
    PyRef sums = numpy::new_array(shape, data);
    if (!sums) throw PythonError{};
    const std::span<double> out(data, n);
    std::fill(out.begin(), out.end(), 0.0);
    add_rows<Terms>(out, rows, ConstraintKind::Inequality);
    if (PyObject* equalities = a.object(1)) {
        read_argument_rows(equalities, "equality_constraints", rows, scratch);
        if (rows.size() != n)
            raise(PyExc_ValueError, "equality_constraints has " + std::to_string(rows.size()) +
                                        " rows and constraints " + std::to_string(n) +
                                        ": both need one row per particle");
        add_rows<Terms>(out, rows, ConstraintKind::Equality);
    }
    return sums.release();
}

}  // namespace

PyObject* constraint_sums(PyObject* args, PyObject* kwargs, bool penalty) {
    return guarded(
        [&] {
            return penalty ? sums_of<PenaltyTerms>(args, kwargs)
                           : sums_of<ViolationTerms>(args, kwargs);
        },
        static_cast<PyObject*>(nullptr));
}

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
    // The values, not the caller's objects: a v_max array or var_types list the caller
    // changes after construction must not change what later checkpoints resume.
    PyRef copy = check(PyImport_ImportModule("copy"));
    return check(PyObject_CallMethod(copy.get(), "deepcopy", "O", options.get()));
}

PyRef reduce_to(const char* restore, PyObject* options, const std::vector<std::uint8_t>& state) {
    PyRef module = check(PyImport_ImportModule("kestrelopt_native"));
    PyRef function = check(PyObject_GetAttrString(module.get(), restore));
    PyRef bytes = check(PyBytes_FromStringAndSize(reinterpret_cast<const char*>(state.data()),
                                                  static_cast<Py_ssize_t>(state.size())));
    return check(Py_BuildValue("(O(OO))", function.get(), options, bytes.get()));
}

namespace {

// Building the object allocates in proportion to its particles and dimensions; a state
// holds, per particle, at least a position, a velocity and a personal best, each a count
// and its values. A state shorter than that is malformed whatever else it holds, and is
// refused before anything is built, so that a few bytes claiming a huge swarm cost nothing.
void check_state_size(PyObject* options, std::size_t state_bytes) {
    PyObject* particles = PyDict_GetItemString(options, "n_particles");  // borrowed
    PyObject* bounds = PyDict_GetItemString(options, "bounds");          // borrowed
    if (particles == nullptr || bounds == nullptr || !PyLong_Check(particles) ||
        !PyList_Check(bounds))
        return;  // the constructor reports options it cannot take
    const std::size_t n = PyLong_AsSize_t(particles);
    if (n == static_cast<std::size_t>(-1) && PyErr_Occurred()) {
        PyErr_Clear();  // negative or too large: the constructor says which
        return;
    }
    const auto dims = static_cast<std::size_t>(PyList_Size(bounds));
    const std::size_t per_particle = 3 * 8 * (dims + 1);
    if (n > state_bytes / per_particle)
        raise(PyExc_ValueError, "malformed checkpoint: its state is " +
                                    std::to_string(state_bytes) + " bytes, too short for " +
                                    std::to_string(n) + " particles in " + std::to_string(dims) +
                                    " dimensions");
}

}  // namespace

PyRef construct_from(PyObject* type, PyObject* options, PyObject* state,
                     std::span<const std::uint8_t>& bytes) {
    if (!PyDict_Check(options))
        raise(PyExc_TypeError, "a checkpoint's options must be a dict, got " + type_name(options));
    if (!PyBytes_Check(state))
        raise(PyExc_TypeError, "a checkpoint's state must be bytes, got " + type_name(state));
    check_state_size(options, static_cast<std::size_t>(PyBytes_Size(state)));
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

void raise_blocked(AskBlock block, std::optional<StopReason> reason, std::size_t budget,
                   std::size_t in_flight, std::size_t particles) {
    switch (block) {
        case AskBlock::Ended:
            raise_ended(reason.value_or(StopReason::MaxIterations));
        case AskBlock::BudgetAsked:
            raise(PyExc_ValueError, "every evaluation of the budget (" + std::to_string(budget) +
                                        ") has been asked; the run ends when the " +
                                        std::to_string(in_flight) + " in flight are told");
        case AskBlock::AllInFlight:
            break;
    }
    raise(PyExc_ValueError,
          "every particle is in flight (n_particles=" + std::to_string(particles) +
              "); tell() a value before asking again");
}

PyRef ticket_index(PyObject* given) {
    PyRef index(PyNumber_Index(given));
    if (!index) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};  // its own error
        PyErr_Clear();
        raise(PyExc_TypeError, "a ticket is an int given by ask(), got " + type_name(given));
    }
    return index;
}

std::uint64_t ticket_in_flight(PyObject* index, std::span<const AsyncTicket> pending,
                               std::size_t asked) {
    int overflow = 0;
    const long long value = PyLong_AsLongLongAndOverflow(index, &overflow);
    if (value == -1 && PyErr_Occurred()) throw PythonError{};
    const bool fits = overflow == 0 && value >= 0;
    const auto ticket = static_cast<std::uint64_t>(value);
    if (fits)
        for (const AsyncTicket& t : pending)
            if (t.ticket == ticket) return ticket;
    PyRef text = check(PyObject_Str(index));
    raise(PyExc_ValueError, "ticket " + utf8(text.get()) + " is not in flight: " +
                                (!fits || ticket >= asked ? "ask() has not given it yet"
                                                          : "its value has been told already"));
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
