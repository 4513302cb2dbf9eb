// Candidates: the Python object handed to the caller's callables for one evaluation, a list
// (of floats, or of ints for an integer space) or, with array input, a read-only float64
// NumPy array.
#pragma once

#include <Python.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>
#include <span>
#include <utility>
#include <vector>

#include "binder.hpp"
#include "numpy_api.hpp"
#include "object_layout.hpp"
#include "py_ref.hpp"

namespace kestrelopt::native {

enum class CandidateForm : std::uint8_t { Floats, Integers, Array };

inline CandidateForm candidate_form(bool integer_space, bool array_input) {
    if (array_input) return CandidateForm::Array;
    return integer_space ? CandidateForm::Integers : CandidateForm::Floats;
}

// The shape of a candidate array: (n,) or (n, 2).
struct ArrayShape {
    std::array<std::size_t, 2> dims{0, 0};
    std::size_t rank = 1;

    static ArrayShape vector(std::size_t n) { return {{n, 0}, 1}; }
    static ArrayShape pairs(std::size_t n) { return {{n, 2}, 2}; }
    std::size_t count() const { return rank == 1 ? dims[0] : dims[0] * dims[1]; }
    std::span<const std::size_t> span() const { return {dims.data(), rank}; }
    friend bool operator==(const ArrayShape&, const ArrayShape&) = default;
};

// A new read-only float64 array of `shape` whose values fill(double*) writes; `data` is set
// to its buffer. Null with the error set. Needs numpy::load_api().
template <class Fill>
PyRef candidate_array(ArrayShape shape, Fill&& fill, double*& data) {
    const std::size_t count = shape.count();
    auto* buffer = static_cast<double*>(std::malloc((count > 0 ? count : 1) * sizeof(double)));
    if (buffer == nullptr) throw std::bad_alloc();
    fill(buffer);
    PyRef array = numpy::array_over(buffer, shape.span(), numpy::Access::ReadOnly);
    data = array ? buffer : nullptr;
    return array;
}

// Reads what a callable returned as a point: a one-dimensional float64 array directly, any
// other non-str sequence of numbers item by item. False with the error set.
inline bool to_point(PyObject* object, std::vector<double>& out, CandidateForm form) {
    // Arrays are only expected back from callables that were handed arrays.
    if (form == CandidateForm::Array && numpy::read_float64_vector(object, out)) return true;
    return to_double_list(object, out);
}

// Truncation toward zero with saturation; NaN gives 0.
inline long long truncate_to_i64(double x) {
    if (x != x) return 0;
    constexpr double kTwo63 = 9223372036854775808.0;
    if (x >= kTwo63) return std::numeric_limits<long long>::max();
    if (x <= -kTwo63) return std::numeric_limits<long long>::min();
    return static_cast<long long>(x);
}

// Python int (truncated, `integers`) or float for one element, taken as a double first, so
// integers beyond 2^53 arrive rounded. Null with the error set.
template <class Element>
PyObject* candidate_item(Element element, bool integers) {
    const auto value = static_cast<double>(element);
    return integers ? PyLong_FromLongLong(truncate_to_i64(value)) : PyFloat_FromDouble(value);
}

// Stores the items of `values` into `list`, which has exactly that length.
template <class Element>
bool fill_candidate_list(PyObject* list, std::span<const Element> values, bool integers) {
    for (std::size_t i = 0; i < values.size(); ++i) {
        PyObject* item = candidate_item(values[i], integers);
        if (item == nullptr) return false;
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), item);  // steals; drops the old item
    }
    return true;
}

// Refills a list of floats from the previous evaluation. A float that only this list holds
// gets its value rewritten in place: nobody else can see it, and it spares an allocation
// and a deallocation per coordinate. Any other item is replaced by a new float.
// Rewrites `item` to `value` when it is a float only the list holds; false otherwise.
inline bool rewrite_own_float(PyObject* item, double value) {
    if (Py_TYPE(item) != &PyFloat_Type || Py_REFCNT(item) != 1) return false;
    std::memcpy(float_value_slot(item), &value, sizeof value);
    return true;
}

template <class Element>
bool refill_float_list(PyObject* list, std::span<const Element> values) {
    if (!float_layout_known()) return fill_candidate_list(list, values, false);
    std::size_t i = 0;
    if (list_layout_known()) {
        // Nothing in this loop can run Python code, so the items stay where they are.
        PyObject** items = list_items(list);
        while (i < values.size() && rewrite_own_float(items[i], static_cast<double>(values[i])))
            ++i;
    }
    // Dropping an item the objective put in may run its code, so from the first such item
    // on every item is fetched (and bounds-checked) anew.
    for (; i < values.size(); ++i) {
        const auto value = static_cast<double>(values[i]);
        PyObject* item = PyList_GetItem(list, static_cast<Py_ssize_t>(i));  // borrowed
        if (item == nullptr) return false;
        if (rewrite_own_float(item, value)) continue;
        PyObject* fresh = PyFloat_FromDouble(value);
        if (fresh == nullptr) return false;
        PyList_SetItem(list, static_cast<Py_ssize_t>(i), fresh);  // steals; drops the old item
    }
    return true;
}

// A new candidate list; null with the error set.
template <class Element>
PyObject* candidate_list(std::span<const Element> values, bool integers) {
    PyRef list(PyList_New(static_cast<Py_ssize_t>(values.size())));
    if (!list || !fill_candidate_list(list.get(), values, integers)) return nullptr;
    return list.release();
}

// Writes `values` as doubles (integers of an integer space become integral floats).
template <class Element>
auto doubles_of(std::span<const Element> values) {
    return [values](double* out) {
        for (std::size_t i = 0; i < values.size(); ++i) out[i] = static_cast<double>(values[i]);
    };
}

// The argument tuple of the calls of one evaluation, (candidate,), kept from one evaluation
// to the next. Calling through a ready tuple spares building the argument vector on every
// call. While nothing else holds the tuple and its candidate, the candidate is refilled in
// place: no one can tell the difference (an array is read-only to Python, and one that
// nobody else references has no view or buffer export either), and it spares the
// allocations (and the garbage-collector tracking of a list) per evaluation. Otherwise a
// new candidate (and, if needed, a new tuple) is made.
class CandidateArgs {
  public:
    // Puts the candidate made of `values` in place; false with the error set.
    template <class Element>
    bool prepare(std::span<const Element> values, CandidateForm form) {
        if (form == CandidateForm::Array)
            return prepare_array(ArrayShape::vector(values.size()), doubles_of(values));
        const bool integers = form == CandidateForm::Integers;
        if (PyObject* list = own_candidate()) {
            if (Py_REFCNT(list) == 1 && PyList_Size(list) == static_cast<Py_ssize_t>(values.size()))
                return integers ? fill_candidate_list(list, values, true)
                                : refill_float_list(list, values);
        }
        return place(PyRef(candidate_list(values, integers)), nullptr, {});
    }

    // Puts a read-only float64 array of `shape` in place, its values written by
    // fill(double*); false with the error set.
    template <class Fill>
    bool prepare_array(ArrayShape shape, Fill&& fill) {
        if (PyObject* array = own_candidate()) {
            if (data_ != nullptr && Py_REFCNT(array) == 1 && shape_ == shape) {
                fill(data_);
                return true;
            }
        }
        double* data = nullptr;
        PyRef fresh = candidate_array(shape, fill, data);
        return place(std::move(fresh), data, shape);
    }

    // callable(candidate): a new reference, or null with the error set.
    PyObject* call(PyObject* callable) const {
        return PyObject_Call(callable, args_.get(), nullptr);
    }

  private:
    // The candidate of the tuple when only this object holds the tuple; null otherwise.
    PyObject* own_candidate() const {
        if (!args_ || Py_REFCNT(args_.get()) != 1) return nullptr;
        return PyTuple_GetItem(args_.get(), 0);  // borrowed; never fails on a 1-tuple
    }

    // Makes `fresh` (null with the error set) the candidate; `data` is its buffer when it
    // is an array of `shape`.
    bool place(PyRef fresh, double* data, ArrayShape shape) {
        data_ = nullptr;
        if (!fresh) {
            args_.reset();
            return false;
        }
        if (own_candidate() != nullptr) {
            // Steals `fresh`; drops the old candidate.
            if (PyTuple_SetItem(args_.get(), 0, fresh.release()) < 0) {
                args_.reset();
                return false;
            }
        } else {
            args_.reset(PyTuple_Pack(1, fresh.get()));
            if (!args_) return false;
        }
        data_ = data;
        shape_ = shape;
        return true;
    }

    PyRef args_;
    double* data_ = nullptr;  // buffer of the array in args_; null when it holds a list
    ArrayShape shape_;
};

}  // namespace kestrelopt::native
