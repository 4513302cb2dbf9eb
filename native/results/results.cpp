#include "results/results.hpp"

#include <string>

#include "cpython/keyword_method.hpp"
#include "cpython/panic.hpp"
#include "results/front_hypervolume.hpp"
#include "results/repr_format.hpp"
#include "results/result_readers.hpp"

namespace kestrelopt::native {

namespace {

// ---- native values to new Python objects -------------------------------------------

PyRef to_py(double value) {
    return check(PyFloat_FromDouble(value));
}
PyRef to_py(std::uint64_t value) {
    return check(PyLong_FromUnsignedLongLong(value));
}
PyRef to_py(const std::string& value) {
    return check(PyUnicode_FromStringAndSize(value.data(), static_cast<Py_ssize_t>(value.size())));
}
PyRef to_py(const std::pair<double, double>& pair) {
    PyRef tuple = check(PyTuple_New(2));
    PyTuple_SetItem(tuple.get(), 0, to_py(pair.first).release());
    PyTuple_SetItem(tuple.get(), 1, to_py(pair.second).release());
    return tuple;
}
// Lists are rebuilt at every level on every read.
PyRef to_py(std::span<const double> values);
PyRef to_py(RowsView rows);
PyRef to_py(const Trace& trace);
template <class T>
PyRef to_py(const std::vector<T>& items);

template <class Items>
PyRef list_of(const Items& items) {
    PyRef list = check(PyList_New(static_cast<Py_ssize_t>(items.size())));
    for (std::size_t i = 0; i < items.size(); ++i)
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), to_py(items[i]).release());
    return list;
}
PyRef to_py(std::span<const double> values) {
    return list_of(values);
}
PyRef to_py(RowsView rows) {
    return list_of(rows);
}
PyRef to_py(const Trace& trace) {
    return list_of(trace);
}
template <class T>
PyRef to_py(const std::vector<T>& items) {
    return list_of(items);
}

// ---- instances -----------------------------------------------------------------------

template <class Record>
struct Instance {
    PyObject ob_base;
    Record* record;
};

template <class Record>
const Record& record_of(PyObject* self) {
    return *reinterpret_cast<Instance<Record>*>(self)->record;
}

template <class Record, auto Member>
PyObject* get_field(PyObject* self, void*) {
    return guarded([&] { return to_py(record_of<Record>(self).*Member).release(); },
                   static_cast<PyObject*>(nullptr));
}

template <class Record>
void dealloc(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    delete reinterpret_cast<Instance<Record>*>(self)->record;
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);  // instances of heap types own a reference to their type
}

template <const char* Message>
PyObject* no_constructor(PyTypeObject*, PyObject*, PyObject*) {
    PyErr_SetString(PyExc_TypeError, Message);
    return nullptr;
}

PyObject* repr_text(const std::string& text) {
    return PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size()));
}

// The repr of both single-objective results; `position` is the best position, formatted.
template <class Record>
PyObject* best_repr(const char* name, const Record& r, const std::string& position) {
    return repr_text(std::string(name) + "(best_value=" + format_fixed6(r.best_value) +
                     ", best_position=" + position + ", iters=" +
                     std::to_string(r.convergence.size()) + ", stop_reason=" + r.stop_reason + ")");
}

PyObject* pso_result_repr(PyObject* self) {
    return guarded(
        [&] {
            const auto& r = record_of<PyPsoResult>(self);
            return best_repr("PsoResult", r, format_list(r.best_position));
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* grey_result_repr(PyObject* self) {
    return guarded(
        [&] {
            const auto& r = record_of<PyGreyResult>(self);
            return best_repr("GreyResult", r, format_pairs(r.best_position));
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* pareto_front_repr(PyObject* self) {
    return guarded(
        [&] {
            const auto& r = record_of<PyParetoFront>(self);
            return repr_text("ParetoFront(size=" + std::to_string(r.positions.size()) + ")");
        },
        static_cast<PyObject*>(nullptr));
}

// ---- class definitions ---------------------------------------------------------------

constexpr char kNoPsoResult[] = "No constructor defined for PsoResult";
constexpr char kNoGreyResult[] = "No constructor defined for GreyResult";
constexpr char kNoParetoFront[] = "No constructor defined for ParetoFront";

constexpr const char* kPsoResultDoc =
    "Result of an optimization.\n"
    "\n"
    "Attributes:\n"
    "    best_position (list[float]): best position found, already decoded\n"
    "        to the space's type (integers if ``integer=True``).\n"
    "    best_value (float): objective function value at ``best_position``.\n"
    "    convergence (list[float]): global best value after each iteration (the\n"
    "        convergence curve, useful for ``viz.plot_convergence``).\n"
    "    history (list[list[list[float]]]): positions of all particles\n"
    "        per iteration, indexed ``history[iteration][particle][dimension]``.\n"
    "        Empty if run with ``record_history=False``. Required for\n"
    "        ``viz.animate_swarm``.\n"
    "    evaluations (int): total number of objective evaluations performed.\n"
    "    stop_reason (str): why the run stopped \u2014 one of ``\"max_iterations\"``,\n"
    "        ``\"target\"``, ``\"max_evaluations\"``, ``\"stagnation\"``, ``\"max_time\"``,\n"
    "        ``\"callback\"``.";

constexpr const char* kGreyResultDoc =
    "Result of a grey optimization returned by `minimize_grey`.\n"
    "\n"
    "Attributes:\n"
    "    best_position (list[tuple[float, float]]): the best grey vector, one\n"
    "        ``(lower, upper)`` interval per grey variable.\n"
    "    best_centers (list[float]): center of each grey variable (``(lo+hi)/2``).\n"
    "    best_spreads (list[float]): half-width of each grey variable\n"
    "        (``(hi-lo)/2``, always ``>= 0``).\n"
    "    best_value (float): objective value at ``best_position`` (the\n"
    "        whitenized scalar the search minimized).\n"
    "    convergence (list[float]): best value after each iteration.\n"
    "    evaluations (int): total objective evaluations performed.\n"
    "    stop_reason (str): why the run stopped (see ``PsoResult``).";

constexpr const char* kParetoFrontDoc =
    "An approximated Pareto front returned by `minimize_multi`.\n"
    "\n"
    "Attributes:\n"
    "    positions (list[list[float]]): the non-dominated decision vectors.\n"
    "    objectives (list[list[float]]): their objective values (same order).\n"
    "    swarm_history (list[list[list[float]]]): swarm positions per iteration,\n"
    "        indexed ``swarm_history[iteration][particle][dimension]``. Empty if\n"
    "        run with ``record_history=False``.\n"
    "    front_history (list[list[list[float]]]): the Pareto-front objective\n"
    "        snapshots per iteration, indexed\n"
    "        ``front_history[iteration][member][objective]``. Lets the front's\n"
    "        evolution be animated. Empty if ``record_history=False``.\n"
    "    violations (list[float]): total constraint violation of each member\n"
    "        (same order): the sum of ``max(g, 0)`` over ``constraints`` and of\n"
    "        ``abs(h)`` over ``equality_constraints``; zeros when every member is\n"
    "        feasible, and always without constraints.\n"
    "    evaluations (int): total number of objective evaluations performed.\n"
    "    stop_reason (str): why the run stopped \u2014 ``\"max_iterations\"``,\n"
    "        ``\"max_evaluations\"``, ``\"max_time\"``, ``\"callback\"`` or\n"
    "        ``\"interrupted\"`` (the front of a ``KeyboardInterrupt``).";

template <class Pointer>
struct MemberOf;
template <class R, class T>
struct MemberOf<T R::*> {
    using Record = R;
};

// How a field is read back from the value its getter gave, when a result is unpickled.
// Each getter carries its reader as closure, so the field tables alone list the state.
struct FieldReader {
    void (*read)(PyObject* value, void* record);
};

template <class Record, auto Member>
void read_member(PyObject* value, void* record) {
    read_field(value, static_cast<Record*>(record)->*Member);
}

template <class Record, auto Member>
constexpr FieldReader kFieldReader{read_member<Record, Member>};

template <auto Member>
constexpr PyGetSetDef field(const char* name, const char* doc) {
    using Record = typename MemberOf<decltype(Member)>::Record;
    return {name, get_field<Record, Member>, nullptr, doc,
            const_cast<FieldReader*>(&kFieldReader<Record, Member>)};
}

PyGetSetDef pso_result_fields[] = {
    field<&PyPsoResult::best_position>("best_position", "Best position found (list of floats)."),
    field<&PyPsoResult::best_value>("best_value", "Best objective function value."),
    field<&PyPsoResult::convergence>("convergence", "Convergence curve: best value per iteration."),
    field<&PyPsoResult::history>("history",
                                 "Positions per iteration: history[iter][particle][dim]. Empty "
                                 "if\nrecord_history=False."),
    field<&PyPsoResult::evaluations>("evaluations",
                                     "Total number of objective evaluations performed."),
    field<&PyPsoResult::stop_reason>(
        "stop_reason", "Why the run stopped (see the class docstring for the values)."),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef grey_result_fields[] = {
    field<&PyGreyResult::best_position>("best_position",
                                        "Best grey vector as `(lower, upper)` intervals."),
    field<&PyGreyResult::best_centers>("best_centers", "Center of each grey variable."),
    field<&PyGreyResult::best_spreads>("best_spreads",
                                       "Half-width (spread) of each grey variable."),
    field<&PyGreyResult::best_value>("best_value", "Best objective value (whitenized scalar)."),
    field<&PyGreyResult::convergence>("convergence",
                                      "Convergence curve: best value per iteration."),
    field<&PyGreyResult::evaluations>("evaluations",
                                      "Total number of objective evaluations performed."),
    field<&PyGreyResult::stop_reason>("stop_reason", "Why the run stopped."),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyGetSetDef pareto_front_fields[] = {
    field<&PyParetoFront::positions>("positions", "Non-dominated decision vectors."),
    field<&PyParetoFront::objectives>("objectives", "Objective values of each solution."),
    field<&PyParetoFront::swarm_history>(
        "swarm_history", "Swarm positions per iteration (empty if record_history=False)."),
    field<&PyParetoFront::front_history>(
        "front_history",
        "Pareto-front objective snapshots per iteration (empty if\nrecord_history=False)."),
    field<&PyParetoFront::violations>(
        "violations", "Total constraint violation of each solution (zeros when feasible)."),
    field<&PyParetoFront::evaluations>("evaluations",
                                       "Total number of objective evaluations performed."),
    field<&PyParetoFront::stop_reason>(
        "stop_reason", "Why the run stopped (see the class docstring for the values)."),
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef pso_result_methods[] = {
    {"to_numpy", pso_result_to_numpy, METH_NOARGS, kPsoResultToNumpyDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef grey_result_methods[] = {
    {"to_numpy", grey_result_to_numpy, METH_NOARGS, kGreyResultToNumpyDoc},
    {nullptr, nullptr, 0, nullptr},
};

PyMethodDef pareto_front_methods[] = {
    {"hypervolume", as_method(pareto_front_hypervolume), METH_VARARGS | METH_KEYWORDS,
     kParetoFrontHypervolumeDoc},
    {"to_numpy", pareto_front_to_numpy, METH_NOARGS, kParetoFrontToNumpyDoc},
    {nullptr, nullptr, 0, nullptr},
};

struct ClassSpec {
    const char* qualified_name;  // "builtins.Name": __module__ is "builtins"
    const char* doc;
    int basicsize;
    PyGetSetDef* fields;
    PyMethodDef* methods;
    reprfunc repr;
    newfunc constructor;
    destructor dealloc;
};

PyObject* create_class(const ClassSpec& spec) {
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(spec.doc)},
        {Py_tp_getset, spec.fields},
        {Py_tp_repr, reinterpret_cast<void*>(spec.repr)},
        {Py_tp_new, reinterpret_cast<void*>(spec.constructor)},
        {Py_tp_dealloc, reinterpret_cast<void*>(spec.dealloc)},
        {spec.methods ? Py_tp_methods : 0, spec.methods},
        {0, nullptr},
    };
    // No Py_TPFLAGS_BASETYPE: the classes cannot be subclassed. No dict or weak-reference
    // offsets: instances have neither.
    PyType_Spec type_spec = {spec.qualified_name, spec.basicsize, 0, Py_TPFLAGS_DEFAULT, slots};
    return PyType_FromSpec(&type_spec);
}

template <class Record>
PyRef wrap(PyObject* type, Record&& record) {
    if (type == nullptr) throw PythonError{};
    auto* owned = new Record(std::move(record));
    PyObject* self = PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type), 0);
    if (self == nullptr) {
        delete owned;
        throw PythonError{};
    }
    reinterpret_cast<Instance<Record>*>(self)->record = owned;
    return PyRef(self);
}

PyObject* g_pso_result = nullptr;
PyObject* g_grey_result = nullptr;
PyObject* g_pareto_front = nullptr;

std::size_t field_count(const PyGetSetDef* fields) {
    std::size_t n = 0;
    while (fields[n].name != nullptr) ++n;
    return n;
}

PyRef state_of(PyObject* self, const char* name, const PyGetSetDef* fields) {
    const std::size_t n = field_count(fields);
    PyRef values = check(PyTuple_New(static_cast<Py_ssize_t>(n)));
    for (std::size_t i = 0; i < n; ++i) {
        PyObject* value = check(fields[i].get(self, fields[i].closure)).release();
        PyTuple_SetItem(values.get(), static_cast<Py_ssize_t>(i), value);
    }
    PyRef text = check(PyUnicode_FromString(name));
    PyRef state = check(PyTuple_New(2));
    PyTuple_SetItem(state.get(), 0, text.release());
    PyTuple_SetItem(state.get(), 1, values.release());
    return state;
}

// What the methods rely on beyond the field types.
void check_restored(const PyPsoResult&) {}
void check_restored(const PyGreyResult&) {}
void check_restored(const PyParetoFront& front) {
    if (front.positions.size() != front.objectives.size())
        raise(PyExc_ValueError, "a ParetoFront needs one objective vector per position");
    if (front.violations.size() != front.positions.size())
        raise(PyExc_ValueError, "a ParetoFront needs one violation per position");
    for (const std::vector<double>& objectives : front.objectives)
        if (objectives.size() != front.objectives.front().size())
            raise(PyExc_ValueError, "a ParetoFront needs objective vectors of one length");
}

// How many leading fields a pickle must hold: a ParetoFront pickled before it had
// violations, evaluations and a stop reason has only its first four.
std::size_t required_fields(const PyPsoResult&, std::size_t n) {
    return n;
}
std::size_t required_fields(const PyGreyResult&, std::size_t n) {
    return n;
}
std::size_t required_fields(const PyParetoFront&, std::size_t) {
    return 4;
}

// What the fields a pickle did not hold stand for.
void complete_restored(PyPsoResult&, std::size_t) {}
void complete_restored(PyGreyResult&, std::size_t) {}
void complete_restored(PyParetoFront& front, std::size_t given) {
    if (given > 4) return;
    // Those fronts came from unconstrained runs that always ran to max_iter.
    front.violations.assign(front.positions.size(), 0.0);
    front.stop_reason = "max_iterations";
}

template <class Record>
PyRef restore(PyObject* type, const char* name, const PyGetSetDef* fields, PyObject* values) {
    const std::size_t n = field_count(fields);
    Record record;
    const std::size_t least = required_fields(record, n);
    const Py_ssize_t given = PyTuple_Check(values) ? PyTuple_Size(values) : -1;
    if (given != static_cast<Py_ssize_t>(n) && given != static_cast<Py_ssize_t>(least))
        raise(PyExc_TypeError,
              std::string(name) + " is restored from a tuple of " + std::to_string(n) + " fields");
    for (Py_ssize_t i = 0; i < given; ++i)
        static_cast<const FieldReader*>(fields[i].closure)
            ->read(PyTuple_GetItem(values, i), &record);
    complete_restored(record, static_cast<std::size_t>(given));
    check_restored(record);
    return wrap(type, std::move(record));
}

// The pickled classes: name, class, fields, and how a record is rebuilt.
struct Pickled {
    const char* name;
    PyObject* (*type)();
    const PyGetSetDef* fields;
    PyRef (*restore)(PyObject* type, const char* name, const PyGetSetDef* fields, PyObject* values);
};

const Pickled kPickled[] = {
    {"PsoResult", pso_result_type, pso_result_fields, restore<PyPsoResult>},
    {"GreyResult", grey_result_type, grey_result_fields, restore<PyGreyResult>},
    {"ParetoFront", pareto_front_type, pareto_front_fields, restore<PyParetoFront>},
};

}  // namespace

PyObject* pso_result_type() {
    if (g_pso_result == nullptr)
        g_pso_result =
            create_class({"builtins.PsoResult", kPsoResultDoc, sizeof(Instance<PyPsoResult>),
                          pso_result_fields, pso_result_methods, pso_result_repr,
                          no_constructor<kNoPsoResult>, dealloc<PyPsoResult>});
    return g_pso_result;
}

PyObject* grey_result_type() {
    if (g_grey_result == nullptr)
        g_grey_result =
            create_class({"builtins.GreyResult", kGreyResultDoc, sizeof(Instance<PyGreyResult>),
                          grey_result_fields, grey_result_methods, grey_result_repr,
                          no_constructor<kNoGreyResult>, dealloc<PyGreyResult>});
    return g_grey_result;
}

PyObject* pareto_front_type() {
    if (g_pareto_front == nullptr)
        g_pareto_front =
            create_class({"builtins.ParetoFront", kParetoFrontDoc, sizeof(Instance<PyParetoFront>),
                          pareto_front_fields, pareto_front_methods, pareto_front_repr,
                          no_constructor<kNoParetoFront>, dealloc<PyParetoFront>});
    return g_pareto_front;
}

PyRef make_result(PyPsoResult record) {
    return wrap(pso_result_type(), std::move(record));
}
PyRef make_result(PyGreyResult record) {
    return wrap(grey_result_type(), std::move(record));
}
PyRef make_result(PyParetoFront record) {
    return wrap(pareto_front_type(), std::move(record));
}

const PyPsoResult& pso_result_record(PyObject* self) {
    return record_of<PyPsoResult>(self);
}
const PyGreyResult& grey_result_record(PyObject* self) {
    return record_of<PyGreyResult>(self);
}
const PyParetoFront& pareto_front_record(PyObject* self) {
    return record_of<PyParetoFront>(self);
}

PyRef result_state(PyObject* result) {
    for (const Pickled& entry : kPickled)
        if (reinterpret_cast<PyObject*>(Py_TYPE(result)) == entry.type())
            return state_of(result, entry.name, entry.fields);
    raise(PyExc_TypeError,
          "expected a PsoResult, GreyResult or ParetoFront, got " + type_name(result));
}

PyRef restore_result(const std::string& name, PyObject* fields) {
    for (const Pickled& entry : kPickled)
        if (name == entry.name)
            return entry.restore(entry.type(), entry.name, entry.fields, fields);
    raise(PyExc_ValueError, "no result class named '" + name + "'");
}

}  // namespace kestrelopt::native
