// to_numpy() of the result classes: the records as read-only float64 NumPy arrays. The
// recorded traces and curves are viewed in place (the arrays keep the result alive, and a
// result never changes), so even a record of millions of numbers costs O(1); only a front's
// positions and objectives, kept one vector per member, are copied (they are small).
#include <Python.h>

#include <cstdlib>
#include <cstring>
#include <new>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "convert/numpy_api.hpp"
#include "cpython/panic.hpp"
#include "results/results.hpp"

namespace kestrelopt::native {

namespace {

// A grey best position is viewed as (variables, 2): each pair is two adjacent doubles.
static_assert(sizeof(std::pair<double, double>) == 2 * sizeof(double));

PyRef view(std::span<const double> values, PyObject* owner) {
    const std::size_t shape[] = {values.size()};
    return numpy::view_over(values.data(), shape, owner);
}

// The (T, rows, columns) block of a trace whose snapshots share one shape; an empty trace
// gives (0, 0, columns).
PyRef trace_view(const Trace& trace, std::size_t columns, const char* name, PyObject* owner) {
    const auto shape = trace.uniform_shape();
    if (!shape)
        raise(PyExc_ValueError,
              std::string(name) + " cannot be one array: its snapshots differ in shape");
    const std::size_t dims[] = {trace.size(), shape->first,
                                trace.empty() ? columns : shape->second};
    return numpy::view_over(trace.values().data(), dims, owner);
}

// Rows of one length, copied into a new read-only (rows, columns) array.
PyRef rows_copy(const std::vector<std::vector<double>>& rows, const char* name) {
    const std::size_t columns = rows.empty() ? 0 : rows.front().size();
    const std::size_t count = rows.size() * columns;
    auto* buffer = static_cast<double*>(std::malloc((count > 0 ? count : 1) * sizeof(double)));
    if (buffer == nullptr) throw std::bad_alloc();
    for (std::size_t i = 0; i < rows.size(); ++i) {
        if (rows[i].size() != columns) {
            std::free(buffer);
            raise(PyExc_ValueError, std::string(name) +
                                        " cannot be one array: rows differ in "
                                        "length");
        }
        if (columns > 0)
            std::memcpy(buffer + i * columns, rows[i].data(), columns * sizeof(double));
    }
    const std::size_t shape[] = {rows.size(), columns};
    PyRef array = numpy::array_over(buffer, shape, numpy::Access::ReadOnly);
    if (!array) throw PythonError{};
    return array;
}

// One (members, objectives) array per snapshot of the front's trace, each viewed in place.
PyRef snapshot_views(const Trace& trace, std::size_t objectives, PyObject* owner) {
    PyRef list = check(PyList_New(static_cast<Py_ssize_t>(trace.size())));
    for (std::size_t t = 0; t < trace.size(); ++t) {
        const RowsView snapshot = trace[t];
        const std::size_t columns = snapshot.empty() ? objectives : snapshot[0].size();
        for (const std::span<const double> row : snapshot)
            if (row.size() != columns)
                raise(PyExc_ValueError,
                      "front_history cannot be arrays: a snapshot's rows differ in length");
        const std::size_t shape[] = {snapshot.size(), columns};
        const double* data = snapshot.empty() ? nullptr : snapshot[0].data();
        PyList_SetItem(list.get(), static_cast<Py_ssize_t>(t),
                       numpy::view_over(data, shape, owner).release());
    }
    return list;
}

void put(PyObject* dict, const char* key, PyRef value) {
    if (PyDict_SetItemString(dict, key, value.get()) < 0) throw PythonError{};
}

template <class Fill>
PyObject* arrays_of(Fill&& fill) {
    return guarded(
        [&] {
            numpy::load_api();
            PyRef dict = check(PyDict_New());
            fill(dict.get());
            return dict.release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyObject* pso_result_to_numpy(PyObject* self, PyObject*) {
    return arrays_of([&](PyObject* dict) {
        const PyPsoResult& r = pso_result_record(self);
        put(dict, "best_position", view(r.best_position, self));
        put(dict, "convergence", view(r.convergence, self));
        put(dict, "history", trace_view(r.history, r.best_position.size(), "history", self));
    });
}

PyObject* grey_result_to_numpy(PyObject* self, PyObject*) {
    return arrays_of([&](PyObject* dict) {
        const PyGreyResult& r = grey_result_record(self);
        const std::size_t shape[] = {r.best_position.size(), 2};
        const auto* pairs = reinterpret_cast<const double*>(r.best_position.data());
        put(dict, "best_position", numpy::view_over(pairs, shape, self));
        put(dict, "best_centers", view(r.best_centers, self));
        put(dict, "best_spreads", view(r.best_spreads, self));
        put(dict, "convergence", view(r.convergence, self));
    });
}

PyObject* pareto_front_to_numpy(PyObject* self, PyObject*) {
    return arrays_of([&](PyObject* dict) {
        const PyParetoFront& r = pareto_front_record(self);
        const std::size_t dims = r.positions.empty() ? 0 : r.positions.front().size();
        const std::size_t objectives = r.objectives.empty() ? 0 : r.objectives.front().size();
        put(dict, "positions", rows_copy(r.positions, "positions"));
        put(dict, "objectives", rows_copy(r.objectives, "objectives"));
        put(dict, "violations", view(r.violations, self));
        put(dict, "swarm_history", trace_view(r.swarm_history, dims, "swarm_history", self));
        put(dict, "front_history", snapshot_views(r.front_history, objectives, self));
    });
}

const char kPsoResultToNumpyDoc[] =
    "to_numpy($self, /)\n"
    "--\n"
    "\n"
    "The record as read-only float64 NumPy arrays, in a dict:\n"
    "``best_position`` (D,), ``convergence`` (T,) and ``history`` (T, N, D)\n"
    "(``(0, 0, D)`` without a recorded history).\n"
    "\n"
    "The arrays look at the result's own memory, so they cost no copy however\n"
    "long the run, and keep the result alive. The list attributes stay as they are.";

const char kGreyResultToNumpyDoc[] =
    "to_numpy($self, /)\n"
    "--\n"
    "\n"
    "The record as read-only float64 NumPy arrays, in a dict:\n"
    "``best_position`` (D, 2) of ``(lower, upper)`` rows, ``best_centers`` (D,),\n"
    "``best_spreads`` (D,) and ``convergence`` (T,).\n"
    "\n"
    "The arrays look at the result's own memory and keep the result alive.";

const char kParetoFrontToNumpyDoc[] =
    "to_numpy($self, /)\n"
    "--\n"
    "\n"
    "The front as read-only float64 NumPy arrays, in a dict: ``positions`` (n, D),\n"
    "``objectives`` (n, M), ``violations`` (n,), ``swarm_history`` (T, N, D) and\n"
    "``front_history``, a list of T arrays of shape (k_t, M) (the archive's size\n"
    "varies).\n"
    "\n"
    "The histories look at the result's own memory, so they cost no copy however\n"
    "long the run, and keep the result alive.";

}  // namespace kestrelopt::native
