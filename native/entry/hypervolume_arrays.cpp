// _hypervolume_sweep(points, reference) and _hypervolume_contributions(points, reference):
// the dimension sweeps of the core on NumPy arrays, behind kestrelopt.indicators. The points
// are read in place when they are a C-contiguous float64 array (anything else is converted
// once by numpy.ascontiguousarray) and checked here, so that a small set costs little more
// than its computation; the computation runs without the interpreter lock and answers
// signals (Ctrl-C) as it goes.
#include <cmath>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "convert/binder.hpp"
#include "convert/numpy_api.hpp"
#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "cpython/run_watch.hpp"
#include "entry/entry_points.hpp"
#include "kestrelopt/mopso/hypervolume_sweep.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kParams[] = {
    required("points", Kind::Object),
    required("reference", Kind::Object),
};
constexpr Signature kVolume{"_hypervolume_sweep()", kParams};
constexpr Signature kContributions{"_hypervolume_contributions()", kParams};

// `object` as a float64 array in C order, read in place: itself when it is one, else its
// conversion by numpy.ascontiguousarray, kept in `owner`. Its number of dimensions in `nd`,
// and up to two extents in `shape`.
const double* float64_data(PyObject* object, PyRef& owner, int& nd, std::size_t* shape) {
    for (nd = 1; nd <= 2; ++nd)
        if (const double* data = numpy::float64_c_data(object, nd, shape)) return data;
    PyRef module = check(PyImport_ImportModule("numpy"));
    PyRef function = check(PyObject_GetAttrString(module.get(), "ascontiguousarray"));
    PyRef positional = check(PyTuple_Pack(1, object));
    PyRef keywords = check(Py_BuildValue("{s:s}", "dtype", "float64"));
    owner = check(PyObject_Call(function.get(), positional.get(), keywords.get()));
    for (nd = 1; nd <= 2; ++nd)
        if (const double* data = numpy::float64_c_data(owner.get(), nd, shape)) return data;
    nd = 0;  // any other number of dimensions
    return nullptr;
}

// The repr of an array's shape, for messages.
std::string shape_text(PyObject* array) {
    PyRef shape = check(PyObject_GetAttrString(array, "shape"));
    PyRef text = check(PyObject_Repr(shape.get()));
    return utf8(text.get());
}

struct Input {
    PyRef points_owner;
    PyRef reference_owner;
    std::span<const double> rows;
    std::span<const double> reference;
    std::size_t count = 0;
};

// The checks and messages of kestrelopt.indicators, which hands float64 arrays over as
// they are: points of two dimensions (an empty one of one dimension is an empty set)
// without NaN, then a reference of one value per objective (unless there are no points)
// without NaN.
Input read_input(Arguments& a) {
    numpy::load_api();
    Input in;
    PyObject* points = a.object(0);
    int nd = 0;
    std::size_t shape[2] = {0, 0};
    const double* rows = float64_data(points, in.points_owner, nd, shape);
    PyObject* points_array = in.points_owner ? in.points_owner.get() : points;
    if (nd == 1 && shape[0] == 0) {
        nd = 2;  // no points
    } else if (nd != 2) {
        raise(PyExc_ValueError,
              "points must be an (n, m) array, got shape " + shape_text(points_array));
    }
    for (std::size_t k = 0; k < shape[0] * shape[1]; ++k)
        if (std::isnan(rows[k])) raise(PyExc_ValueError, "points contains NaN");
    PyObject* reference = a.object(1);
    int reference_nd = 0;
    std::size_t length[2] = {0, 0};
    const double* values = float64_data(reference, in.reference_owner, reference_nd, length);
    PyObject* reference_array = in.reference_owner ? in.reference_owner.get() : reference;
    if (shape[0] != 0 && (reference_nd != 1 || length[0] != shape[1]))
        raise(PyExc_ValueError, "reference must have one value per objective (" +
                                    std::to_string(shape[1]) + "), got shape " +
                                    shape_text(reference_array));
    const std::size_t reference_size = reference_nd == 1   ? length[0]
                                       : reference_nd == 2 ? length[0] * length[1]
                                                           : 0;
    if (reference_nd == 0) {
        // Of another number of dimensions, with no points: only NaN is refused.
        PyRef isnan = check(PyObject_CallMethod(reference_array, "__ne__", "O", reference_array));
        PyRef any = check(PyObject_CallMethod(isnan.get(), "any", nullptr));
        if (PyObject_IsTrue(any.get()) == 1) raise(PyExc_ValueError, "reference contains NaN");
    }
    for (std::size_t k = 0; k < reference_size; ++k)
        if (std::isnan(values[k])) raise(PyExc_ValueError, "reference contains NaN");
    in.count = shape[0];
    in.rows = {rows, shape[0] * shape[1]};
    in.reference = {values, shape[0] != 0 ? shape[1] : 0};
    return in;
}

// Each thread keeps its buffers from one call to the next: small sets, computed often, then
// cost no allocation. A call made while the thread's buffers are in use (by a signal
// handler that runs between two checks) gets buffers of its own.
template <class Use>
void with_thread_sweep(Use&& use) {
    struct Cached {
        HypervolumeSweep sweep;
        bool busy = false;
    };
    thread_local Cached cached;
    if (cached.busy) {
        HypervolumeSweep own;
        use(own);
        return;
    }
    struct Busy {
        bool& flag;
        explicit Busy(bool& f) : flag(f) { flag = true; }
        ~Busy() { flag = false; }
    } busy(cached.busy);
    use(cached.sweep);
}

// Runs `compute` without the lock, open to signals; raises what a signal handler raised.
template <class Compute>
void watched(Compute&& compute) {
    PendingError interrupted;
    RunWatch watch(interrupted);
    const std::optional<bool> done = run_watched(watch, true, [&] {
        compute(static_cast<WorkObserver*>(&watch));
        return true;
    });
    if (!done) {
        interrupted.restore();
        throw PythonError{};
    }
}

PyObject* py_hypervolume_sweep(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kVolume, args, kwargs);
            const Input in = read_input(a);
            double volume = 0.0;
            if (in.count != 0) {
                with_thread_sweep([&](HypervolumeSweep& sweep) {
                    watched([&](WorkObserver* watch) {
                        volume = sweep.volume(in.rows, in.reference, watch);
                    });
                });
            }
            return check(PyFloat_FromDouble(volume)).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* py_hypervolume_contributions(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            Arguments a(kContributions, args, kwargs);
            const Input in = read_input(a);
            double* out = nullptr;
            const std::size_t shape[1] = {in.count};
            PyRef result = check(numpy::new_array(shape, out).release());
            if (in.count != 0) {
                with_thread_sweep([&](HypervolumeSweep& sweep) {
                    watched([&](WorkObserver* watch) {
                        sweep.contributions(in.rows, in.reference, {out, in.count}, watch);
                    });
                });
            }
            return result.release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef hypervolume_sweep_method = {
    "_hypervolume_sweep", as_method(py_hypervolume_sweep), METH_VARARGS | METH_KEYWORDS,
    "_hypervolume_sweep(points, reference)\n"
    "--\n"
    "\n"
    "Exact hypervolume of an (n, m) float64 array of objective vectors under a\n"
    "reference of m values, by dimension sweeps (kestrelopt.indicators.hypervolume).\n"
    "Rows not strictly below the reference count for nothing; NaN is refused.\n"
    "Runs without the interpreter lock; Ctrl-C interrupts it."};

PyMethodDef hypervolume_contributions_method = {
    "_hypervolume_contributions", as_method(py_hypervolume_contributions),
    METH_VARARGS | METH_KEYWORDS,
    "_hypervolume_contributions(points, reference)\n"
    "--\n"
    "\n"
    "Exclusive hypervolume contribution of each row of an (n, m) float64 array\n"
    "(kestrelopt.indicators.hypervolume_contributions), as a float64 array of n\n"
    "values. Runs without the interpreter lock; Ctrl-C interrupts it."};

}  // namespace kestrelopt::native
