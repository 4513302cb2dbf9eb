#include "adapters/minimize_run.hpp"

#include <optional>
#include <string>
#include <type_traits>
#include <utility>
#include <variant>

#include "adapters/minimize_adapters.hpp"
#include "kestrelopt/pso.hpp"
#include "kestrelopt/restarts.hpp"
#include "results/result_records.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

namespace {

// The repair operator once more on the reported best position, so that it is consistent
// with its value (which was computed on a repaired point).
void repair_best(PyObject* repair, CandidateForm form, PyPsoResult& record) {
    CandidateArgs candidate;
    if (!candidate.prepare(std::span<const double>(record.best_position), form))
        throw PythonError{};
    PyRef repaired = check(candidate.call(repair));
    std::vector<double> position;
    if (!to_point(repaired.get(), position, form)) throw PythonError{};
    if (position.size() != record.best_position.size()) {
        set_repair_length_error(position.size(), record.best_position.size());
        throw PythonError{};
    }
    record.best_position = std::move(position);
}

// The same in vectorized mode: the repair takes the best position as a (1, D) matrix.
void repair_best_row(PyObject* repair, PyPsoResult& record) {
    const std::size_t cols = record.best_position.size();
    FloatRows best;
    best.values = record.best_position;
    best.ends = {cols};
    PyRef matrix = matrix_of(best, 1, cols, numpy::Access::Writeable);
    if (!matrix) throw PythonError{};
    PyRef repaired = check(PyObject_CallFunctionObjArgs(repair, matrix.get(), nullptr));
    FloatRows rows;
    std::vector<double> scratch;
    if (!read_repaired(repaired.get(), 1, cols, rows, scratch)) throw PythonError{};
    record.best_position = std::move(rows.values);
}

// One run of `engine` in the request's mode; `shift` adjusts what its callback is told.
template <class Space, class Shift>
PsoResult<typename Space::Element> run_mode(const Pso<Space>& engine, AdapterState& state,
                                            const RunRequest& request, Shift&& shift) {
    using Element = typename Space::Element;
    state.particles = engine.config().n_particles;  // a restart's swarm is larger
    IterationAdapter adapter(state);
    auto callback = [&](const IterationInfo& info) { return adapter(shift(info)); };
    if (request.vectorized) {
        BatchRound<Space> round(state);
        if (request.callback != nullptr) return engine.run_rounds(round, callback);
        return engine.run_rounds(round);
    }
    if (request.callback != nullptr)
        return engine.run_sequential(CandidateAdapter<Element>(state), callback);
    return engine.run_sequential(CandidateAdapter<Element>(state));
}

// Runs the restart search of the request, `first` being its first run's engine. A callback
// is told the search's iteration, evaluations and best value, not the run's.
template <class Space>
PsoResult<typename Space::Element> run_restarts(const Pso<Space>& first, const Space& space,
                                                AdapterState& state, const RunRequest& request) {
    RestartSearch<typename Space::Element> search(request.config, request.restarts);
    auto shift = [&](const IterationInfo& info) {
        IterationInfo shifted = info;
        shifted.iteration += search.iterations();
        shifted.evaluations += search.evaluations();
        if (search.runs() > 0 && !better_value(info.best_value, search.best_value()))
            shifted.best_value = search.best_value();
        return shifted;
    };
    while (const std::optional<PsoConfig> config = search.next()) {
        if (search.runs() == 0) {
            search.take(run_mode(first, state, request, shift));
            continue;
        }
        auto [rule, topology] = request.remake(*config);
        const Pso<Space> engine(*config, space, std::move(rule), std::move(topology));
        try {
            search.take(run_mode(engine, state, request, shift));
        } catch (const StopRun&) {  // before this run's swarm had its values
            search.interrupt();
        }
    }
    return search.finish();
}

}  // namespace

template <class Space>
PyRef run(Space space, std::unique_ptr<Velocity> velocity, std::unique_ptr<Topology> topology,
          const RunRequest& request) {
    using Element = typename Space::Element;
    const Pso<Space> engine(request.config, space, std::move(velocity), std::move(topology));

    AdapterState state;
    if (request.native_name) {
        auto found = benchmarks::native_benchmark(*request.native_name);
        if (auto* message = std::get_if<std::string>(&found)) raise(PyExc_KeyError, *message);
        if (request.vectorized)
            raise(PyExc_ValueError,
                  "vectorized=True requires a Python objective callable, not a native benchmark");
        state.native = std::get<benchmarks::Function>(found);
    }
    state.objective = request.objective;
    state.returned = request.returned;
    state.constraints = request.constraints;
    state.equality_constraints = request.equality_constraints;
    state.repair = request.repair;
    state.callback = request.callback;
    state.penalty = request.penalty;
    state.form = candidate_form(std::is_same_v<Space, IntegerSpace>, request.array_input);
    // Only Python callables take arrays; a native run never needs NumPy.
    if (state.form == CandidateForm::Array && state.native == nullptr) numpy::load_api();

    // A native benchmark needs no Python until a callback or a signal check asks for it.
    std::optional<PsoResult<Element>> result =
        run_watched(state.watch, state.native != nullptr, [&] {
            if (request.restarts.restarts > 0) return run_restarts(engine, space, state, request);
            return run_mode(engine, state, request, [](const IterationInfo& info) { return info; });
        });
    raise_parked(state.pending, result, [](PsoResult<Element>&& partial) {
        return make_result(to_py_result(std::move(partial)));
    });

    PyPsoResult record = to_py_result(std::move(*result));
    if (request.repair != nullptr) {
        if (request.vectorized)
            repair_best_row(request.repair, record);
        else
            repair_best(request.repair, state.form, record);
    }
    return make_result(std::move(record));
}

template PyRef run(ContinuousSpace, std::unique_ptr<Velocity>, std::unique_ptr<Topology>,
                   const RunRequest&);
template PyRef run(IntegerSpace, std::unique_ptr<Velocity>, std::unique_ptr<Topology>,
                   const RunRequest&);
template PyRef run(MixedSpace, std::unique_ptr<Velocity>, std::unique_ptr<Topology>,
                   const RunRequest&);

}  // namespace kestrelopt::native
