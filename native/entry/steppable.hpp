// What the classes a caller steps through a run (Swarm, MultiSwarm and their Async forms)
// share: the instance layout (a native driver and the options it was made with), the options kept
// for a checkpoint, pickling by value, and the creation of the class object.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "cpython/panic.hpp"
#include "cpython/py_ref.hpp"
#include "kestrelopt/failure.hpp"
#include "kestrelopt/history.hpp"
#include "kestrelopt/state_codec.hpp"
#include "kestrelopt/ticket_book.hpp"
#include "kestrelopt/traits.hpp"

namespace kestrelopt::native {

template <class Driver>
struct DriverInstance {
    PyObject ob_base;
    Driver* driver;
    PyObject* options;  // owned: the constructor's keyword arguments, bounds resolved
};

template <class Driver>
Driver& driver_of(PyObject* self) {
    return *reinterpret_cast<DriverInstance<Driver>*>(self)->driver;
}

// TypeError unless `args` holds at most one positional argument (the bounds).
void check_positional(PyObject* args, const char* function);

// A deep copy of the keyword arguments of a constructor call, with the bounds as resolved
// (a list of (low, high) tuples) and without "dim" and "init", which a restored object does
// not need.
PyRef checkpoint_options(PyObject* kwargs, const std::vector<Bound>& pairs);

// (restore, (options, state)) for __reduce__, `restore` being the module function named.
PyRef reduce_to(const char* restore, PyObject* options, const std::vector<std::uint8_t>& state);

// The class's instance built from `options`, and the bytes of `state`, for a restore
// function: TypeError when they are not a dict and bytes.
PyRef construct_from(PyObject* type, PyObject* options, PyObject* state,
                     std::span<const std::uint8_t>& bytes);

// Runs `load`; a malformed checkpoint (the core's failure) becomes a ValueError.
template <class Load>
void load_checkpoint(Load&& load) {
    try {
        load();
    } catch (const InternalFailure& failure) {
        raise(PyExc_ValueError, failure.what());
    }
}

// A heap class named "kestrelopt_native.<name>" that cannot be subclassed.
struct DriverClassSpec {
    const char* qualified_name;
    const char* doc;
    int basicsize;
    PyGetSetDef* getters;
    PyMethodDef* methods;
    reprfunc repr;
    newfunc constructor;
    destructor dealloc;
};
PyObject* create_driver_class(const DriverClassSpec& spec);

// A new instance of `type` owning `driver` and `options`; deletes the driver on failure.
template <class Driver>
PyRef adopt_driver(PyObject* type, Driver* driver, PyRef options) {
    PyObject* self = PyType_GenericAlloc(reinterpret_cast<PyTypeObject*>(type), 0);
    if (self == nullptr) {
        delete driver;
        throw PythonError{};
    }
    auto* instance = reinterpret_cast<DriverInstance<Driver>*>(self);
    instance->driver = driver;
    instance->options = options.release();
    return PyRef(self);
}

template <class Driver>
void dealloc_driver(PyObject* self) {
    PyTypeObject* type = Py_TYPE(self);
    auto* instance = reinterpret_cast<DriverInstance<Driver>*>(self);
    delete instance->driver;
    Py_XDECREF(instance->options);
    auto free_slot = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free_slot(self);
    Py_DECREF(type);
}

// The stop reason's text, or None while the run goes on.
PyRef stop_reason_or_none(std::optional<StopReason> reason);

// Getters and methods every driver class has, over the driver's own accessors.
template <class Driver, std::size_t (Driver::*Read)() const>
PyObject* size_getter(PyObject* self, void*) {
    return guarded(
        [&] { return check(PyLong_FromSize_t((driver_of<Driver>(self).*Read)())).release(); },
        static_cast<PyObject*>(nullptr));
}

template <class Driver>
PyObject* stop_reason_getter(PyObject* self, void*) {
    return guarded([&] { return stop_reason_or_none(driver_of<Driver>(self).stopped()).release(); },
                   static_cast<PyObject*>(nullptr));
}

// __reduce__: the module function named `restore` rebuilds the object.
template <class Driver, const char* Restore>
PyObject* reduce_driver(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            auto* instance = reinterpret_cast<DriverInstance<Driver>*>(self);
            return reduce_to(Restore, instance->options, instance->driver->save()).release();
        },
        static_cast<PyObject*>(nullptr));
}

// The module function that __reduce__ names: the class `Type()` called with the options,
// then the state loaded (ValueError for a malformed one).
template <class Driver, PyObject* (*Type)()>
PyObject* restore_driver(PyObject*, PyObject* args) {
    return guarded(
        [&] {
            PyObject* options = nullptr;
            PyObject* state = nullptr;
            if (!PyArg_UnpackTuple(args, "restore", 2, 2, &options, &state)) throw PythonError{};
            PyObject* type = Type();
            if (type == nullptr) throw PythonError{};
            std::span<const std::uint8_t> bytes;
            PyRef object = construct_from(type, options, state, bytes);
            load_checkpoint([&] { driver_of<Driver>(object.get()).load(bytes); });
            return object.release();
        },
        static_cast<PyObject*>(nullptr));
}

// A buffer a driver reuses from call to call, taken out of it for one call. Reading a tell
// can run Python code (a user __float__, a sequence's __iter__), during which another
// thread or a re-entrant call may use the same object: the buffer is taken out meanwhile
// (such a call reads into a fresh one), so callers read first and only then check the
// object's state and commit, with no Python code in between.
template <class Buffer>
class Lent {
  public:
    explicit Lent(Buffer& home) : home_(home), buffer_(std::move(home)) {}
    ~Lent() { home_ = std::move(buffer_); }
    Lent(const Lent&) = delete;
    Lent& operator=(const Lent&) = delete;

    Buffer& get() { return buffer_; }

  private:
    Buffer& home_;
    Buffer buffer_;
};

// The values of a tell, read into a lent buffer.
class TellValues : public Lent<std::vector<double>> {
  public:
    using Lent::Lent;

    // Reads a float64 array or a sequence of numbers; PythonError when neither, with a
    // TypeError "{head} {what was given}{tail}".
    std::vector<double>& read(PyObject* given, const char* head, const char* tail);
};

// The static method violations(constraints, equality_constraints=None) of Swarm
// (`penalty`: the sums of minimize's penalty) and MultiSwarm (minimize_multi's total
// violations): a new float64 array of one sum per row of constraint values.
PyObject* constraint_sums(PyObject* args, PyObject* kwargs, bool penalty);

// ValueError naming the stop reason, for an ask() once the run has ended.
[[noreturn]] void raise_ended(StopReason reason);

// ask(): what the driver asks next, or the ValueError of a run that has ended.
template <class Driver>
PyObject* ask_driver(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            Driver& driver = driver_of<Driver>(self);
            if (const auto reason = driver.stopped()) raise_ended(*reason);
            return driver.ask().release();
        },
        static_cast<PyObject*>(nullptr));
}

// For the classes with evaluations in flight (AsyncSwarm, AsyncMultiSwarm):

// The ValueError of an ask() that `block` stops: naming the stop reason of a run that has
// ended, the budget and the tickets in flight, or the particles all in flight.
[[noreturn]] void raise_blocked(AskBlock block, std::optional<StopReason> reason,
                                std::size_t budget, std::size_t in_flight, std::size_t particles);

// The int a ticket argument gives: TypeError for anything but an int (through the index
// protocol, which can run Python code, so a tell converts it before it checks anything).
PyRef ticket_index(PyObject* given);

// The ticket that `index` (an int from ticket_index) names when it is in flight, else a
// ValueError saying whether it was never given or told already; `asked` asks so far.
std::uint64_t ticket_in_flight(PyObject* index, std::span<const AsyncTicket> pending,
                               std::size_t asked);

// "<name>(n_particles=.., dim=.., iteration=.., evaluations=..", the start of a repr.
template <class Driver>
std::string describe_run(const char* name, const Driver& driver) {
    return std::string(name) + "(n_particles=" + std::to_string(driver.particles()) +
           ", dim=" + std::to_string(driver.dimensions()) +
           ", iteration=" + std::to_string(driver.iteration()) +
           ", evaluations=" + std::to_string(driver.evaluations());
}

// The stop reason of a result taken while the run goes on.
inline constexpr const char* kRunning = "running";

// The steps' result so far, made a record by `convert`; its stop reason is kRunning while
// the run goes on.
template <class Steps, class Convert>
auto running_report(const Steps& steps, Convert&& convert) {
    auto record = convert(steps.report(steps.stopped().value_or(StopReason::MaxIterations)));
    if (!steps.stopped()) record.stop_reason = kRunning;
    return record;
}

// The steps' state behind `tag`, which tells a class's checkpoints from anything else; and
// its reading back, "malformed checkpoint: <not_ours>" when the tag is another.
template <class Steps>
std::vector<std::uint8_t> tagged_state(const Steps& steps, std::uint64_t tag) {
    StateWriter out;
    out.u64(tag);
    steps.save(out);
    return out.take();
}
template <class Steps>
void load_tagged_state(Steps& steps, std::span<const std::uint8_t> bytes, std::uint64_t tag,
                       const char* not_ours) {
    StateReader in(bytes);
    if (in.u64() != tag) StateReader::malformed(not_ours);
    steps.load(in);
    in.finish();
}

}  // namespace kestrelopt::native
