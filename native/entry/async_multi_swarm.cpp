// AsyncMultiSwarm: a multi-objective run in the sequential mode with several evaluations in
// flight, driven by the caller with ask and tell by ticket. Options are read as MultiSwarm
// reads them; a tell reads its arguments, then checks the object, then commits, with no
// Python code in between; pickling is by value, tickets in flight included.
#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "convert/binder.hpp"
#include "convert/bounds.hpp"
#include "convert/factories.hpp"
#include "convert/init_rows.hpp"
#include "convert/numpy_api.hpp"
#include "convert/swarm_options.hpp"
#include "cpython/panic.hpp"
#include "docs/async_swarm_docs.hpp"
#include "docs/swarm_docs.hpp"
#include "entry/entry_points.hpp"
#include "entry/multi_swarm_params.hpp"
#include "entry/steppable.hpp"
#include "kestrelopt/mopso/engine.hpp"
#include "results/result_records.hpp"

namespace kestrelopt::native {

namespace {

using namespace multi_swarm_params;

constexpr Signature kSignature{"AsyncMultiSwarm()", kParams};

constexpr Param kTellParams[] = {
    required("ticket", Kind::Object),
    required("objectives", Kind::Object),
    real("violation", 0.0),
};
constexpr Signature kTellSignature{"tell()", kTellParams};

constexpr char kRestoreAsyncMultiSwarm[] = "_restore_async_multi_swarm";

constexpr std::uint64_t kAsyncMultiSwarmMagic = 0x316D726177536D41ULL;  // "AmSwarm1"

class AsyncMultiDriver {
  public:
    virtual ~AsyncMultiDriver() = default;
    virtual std::uint64_t ask(PyRef& position) = 0;
    virtual void tell(std::uint64_t ticket, std::span<const double> objectives,
                      double violation) = 0;
    virtual std::optional<AskBlock> blocked() const = 0;
    virtual PyRef position_of(std::uint64_t ticket) = 0;
    virtual std::span<const AsyncTicket> pending() const = 0;
    virtual std::size_t particles() const = 0;
    virtual std::size_t dimensions() const = 0;
    virtual std::size_t asked() const = 0;
    virtual std::size_t budget() const = 0;
    virtual std::optional<StopReason> stopped() const = 0;
    virtual std::size_t iteration() const = 0;
    virtual std::size_t evaluations() const = 0;
    virtual PyParetoFront front() const = 0;
    virtual std::vector<std::uint8_t> save() const = 0;
    virtual void load(std::span<const std::uint8_t> bytes) = 0;

    // The number of objectives, fixed by the first tell.
    std::optional<std::size_t> objectives;
    // The last objective vector told, its buffer reused from tell to tell.
    std::vector<double> told;
};

template <class Space>
class AsyncMultiDriverOf final : public AsyncMultiDriver {
  public:
    AsyncMultiDriverOf(MopsoConfig config, Space space, std::unique_ptr<Velocity> velocity)
        : engine_(std::move(config), std::move(space), std::move(velocity)),
          steps_(engine_.async_steps()) {}

    std::uint64_t ask(PyRef& position) override {
        // The array first: when it cannot be made, the particle is not handed out.
        const std::size_t shape[1] = {steps_.dimensions()};
        double* data = nullptr;
        PyRef array = numpy::new_array(shape, data);
        if (!array) throw PythonError{};
        const auto ticket = steps_.ask();
        const auto x = steps_.position(ticket.particle);
        std::copy(x.begin(), x.end(), data);  // integers become doubles
        position = std::move(array);
        return ticket.ticket;
    }
    void tell(std::uint64_t ticket, std::span<const double> values, double violation) override {
        steps_.tell(ticket, values, violation);
    }
    std::optional<AskBlock> blocked() const override { return steps_.blocked(); }
    PyRef position_of(std::uint64_t ticket) override {
        std::size_t particle = 0;
        for (const AsyncTicket& t : steps_.pending())
            if (t.ticket == ticket) particle = t.particle;
        const auto x = steps_.position(particle);
        const std::size_t shape[1] = {x.size()};
        double* data = nullptr;
        PyRef array = numpy::new_array(shape, data);
        if (!array) throw PythonError{};
        std::copy(x.begin(), x.end(), data);
        return array;
    }
    std::span<const AsyncTicket> pending() const override { return steps_.pending(); }
    std::size_t particles() const override { return engine_.config().n_particles; }
    std::size_t dimensions() const override { return steps_.dimensions(); }
    std::size_t asked() const override { return steps_.asked(); }
    std::size_t budget() const override { return steps_.budget(); }
    std::optional<StopReason> stopped() const override { return steps_.stopped(); }
    std::size_t iteration() const override { return steps_.iteration(); }
    std::size_t evaluations() const override { return steps_.evaluations(); }
    PyParetoFront front() const override {
        return running_report(steps_, [](auto r) { return to_front_record(std::move(r)); });
    }
    std::vector<std::uint8_t> save() const override {
        return tagged_state(steps_, kAsyncMultiSwarmMagic);
    }
    void load(std::span<const std::uint8_t> bytes) override {
        load_tagged_state(steps_, bytes, kAsyncMultiSwarmMagic, "it is not an AsyncMultiSwarm's");
        objectives = steps_.objective_count();
    }

  private:
    Mopso<Space> engine_;
    AsyncMopsoSteps<Space> steps_;
};

using Instance = DriverInstance<AsyncMultiDriver>;

AsyncMultiDriver& async_multi(PyObject* self) {
    return driver_of<AsyncMultiDriver>(self);
}

PyObject* g_async_multi_swarm_type = nullptr;

PyObject* async_multi_swarm_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            check_positional(args, "AsyncMultiSwarm()");
            Arguments a(kSignature, args, kwargs);
            check_single_leader(a.text(kVelocity));
            std::vector<Bound> pairs = resolve_bounds(a.object(kBounds), a.optional_count(kDim));
            VelocityLimits limits;
            std::unique_ptr<Velocity> velocity;
            MopsoConfig config = multi_config<P>(a, limits, pairs.size(), velocity);
            std::optional<std::vector<VarType>> types =
                var_types_of<P>(a, pairs.size(), var_types_match_message);
            numpy::load_api();
            PyRef options = checkpoint_options(kwargs, pairs);
            AsyncMultiDriver* driver = with_space(
                std::move(pairs), std::move(types), a.boolean(kBinary), a.boolean(kInteger),
                [&](auto space) -> AsyncMultiDriver* {
                    using Space = decltype(space);
                    auto rule =
                        limit_velocity(std::move(velocity), limits, space.span(), kDimensions);
                    config.init = init_rows(a.object(kInit), space.span(), config.n_particles);
                    return new AsyncMultiDriverOf<Space>(std::move(config), std::move(space),
                                                         std::move(rule));
                });
            return adopt_driver(reinterpret_cast<PyObject*>(type), driver, std::move(options))
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_multi_swarm_ask(PyObject* self, PyObject*) {
    return guarded(
        [&] {
            AsyncMultiDriver& m = async_multi(self);
            if (const auto block = m.blocked())
                raise_blocked(*block, m.stopped(), m.budget(), m.pending().size(), m.particles());
            PyRef position;
            const std::uint64_t ticket = m.ask(position);
            PyRef number = check(PyLong_FromUnsignedLongLong(ticket));
            return check(PyTuple_Pack(2, number.get(), position.get())).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_multi_swarm_tell(PyObject* self, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            // Reading the arguments can run Python code that uses this object: read them
            // all, then check, then commit.
            AsyncMultiDriver& m = async_multi(self);
            Arguments a(kTellSignature, args, kwargs);
            PyRef index = ticket_index(a.object(0));
            const double violation = a.real(2);
            TellValues told(m.told);
            const std::vector<double>& objectives =
                told.read(a.object(1), "tell() got",
                          "; it takes one number per objective (a sequence or an array)");
            const std::uint64_t ticket = ticket_in_flight(index.get(), m.pending(), m.asked());
            if (objectives.empty())
                raise(PyExc_ValueError, "tell() needs at least one objective value");
            if (m.objectives && objectives.size() != *m.objectives)
                raise(PyExc_ValueError, "tell() got " + std::to_string(objectives.size()) +
                                            " objective values, but earlier points had " +
                                            std::to_string(*m.objectives));
            m.tell(ticket, objectives, violation);
            m.objectives = objectives.size();
            return PyRef::borrow(Py_None).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_multi_swarm_position(PyObject* self, PyObject* arg) {
    return guarded(
        [&] {
            PyRef index = ticket_index(arg);
            AsyncMultiDriver& m = async_multi(self);
            return m.position_of(ticket_in_flight(index.get(), m.pending(), m.asked())).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_multi_swarm_violations(PyObject*, PyObject* args, PyObject* kwargs) {
    return constraint_sums(args, kwargs, false);
}

PyObject* async_multi_swarm_front(PyObject* self, PyObject*) {
    return guarded([&] { return make_result(async_multi(self).front()).release(); },
                   static_cast<PyObject*>(nullptr));
}

PyObject* get_pending(PyObject* self, void*) {
    return guarded(
        [&] {
            const auto pending = async_multi(self).pending();
            PyRef tuple = check(PyTuple_New(static_cast<Py_ssize_t>(pending.size())));
            for (std::size_t k = 0; k < pending.size(); ++k)
                PyTuple_SetItem(tuple.get(), static_cast<Py_ssize_t>(k),
                                check(PyLong_FromUnsignedLongLong(pending[k].ticket)).release());
            return tuple.release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* async_multi_swarm_repr(PyObject* self) {
    return guarded(
        [&] {
            const AsyncMultiDriver& m = async_multi(self);
            const std::string text = describe_run("AsyncMultiSwarm", m) +
                                     ", in_flight=" + std::to_string(m.pending().size()) + ")";
            return check(PyUnicode_FromString(text.c_str())).release();
        },
        static_cast<PyObject*>(nullptr));
}

using Driver = AsyncMultiDriver;

PyGetSetDef async_multi_swarm_getters[] = {
    {"pending", get_pending, nullptr, kAsyncSwarmPendingDoc, nullptr},
    {"asked", size_getter<Driver, &Driver::asked>, nullptr, kAsyncSwarmAskedDoc, nullptr},
    {"iteration", size_getter<Driver, &Driver::iteration>, nullptr, kAsyncSwarmIterationDoc,
     nullptr},
    {"evaluations", size_getter<Driver, &Driver::evaluations>, nullptr,
     "Objective vectors told so far.", nullptr},
    {"stop_reason", stop_reason_getter<Driver>, nullptr,
     "Why the run ended (as ParetoFront.stop_reason), or None while it goes on.", nullptr},
    {"n_particles", size_getter<Driver, &Driver::particles>, nullptr, "Number of particles.",
     nullptr},
    {"dim", size_getter<Driver, &Driver::dimensions>, nullptr, "Number of dimensions.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},
};

PyMethodDef async_multi_swarm_methods[] = {
    {"ask", async_multi_swarm_ask, METH_NOARGS, kAsyncMultiSwarmAskDoc},
    {"tell", as_method(async_multi_swarm_tell), METH_VARARGS | METH_KEYWORDS,
     kAsyncMultiSwarmTellDoc},
    {"position", async_multi_swarm_position, METH_O, kAsyncSwarmPositionDoc},
    {"violations", as_method(async_multi_swarm_violations),
     METH_VARARGS | METH_KEYWORDS | METH_STATIC, kMultiSwarmViolationsDoc},
    {"front", async_multi_swarm_front, METH_NOARGS, kAsyncMultiSwarmFrontDoc},
    {"__reduce__", reduce_driver<Driver, kRestoreAsyncMultiSwarm>, METH_NOARGS,
     "A checkpoint of the run, for pickle and copy."},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* async_multi_swarm_class() {
    if (g_async_multi_swarm_type == nullptr)
        g_async_multi_swarm_type = create_driver_class(
            {"kestrelopt_native.AsyncMultiSwarm", kAsyncMultiSwarmDoc, sizeof(Instance),
             async_multi_swarm_getters, async_multi_swarm_methods, async_multi_swarm_repr,
             async_multi_swarm_new, dealloc_driver<AsyncMultiDriver>});
    return g_async_multi_swarm_type;
}

PyMethodDef restore_async_multi_swarm_method = {
    kRestoreAsyncMultiSwarm, restore_driver<AsyncMultiDriver, async_multi_swarm_class>,
    METH_VARARGS, "An AsyncMultiSwarm rebuilt from its checkpoint (pickle)."};

}  // namespace kestrelopt::native
