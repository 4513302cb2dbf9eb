// The argument tuple of the calls of one evaluation, and the form of its candidate: a list
// of floats, a list of ints (integer space) or, with array input, a read-only array.
#pragma once

#include <Python.h>

#include <cstdint>
#include <span>
#include <utility>
#include <vector>

#include "adapters/candidate_array.hpp"
#include "adapters/candidate_list.hpp"
#include "convert/binder.hpp"
#include "convert/numpy_api.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

enum class CandidateForm : std::uint8_t { Floats, Integers, Array };

inline CandidateForm candidate_form(bool integer_space, bool array_input) {
    if (array_input) return CandidateForm::Array;
    return integer_space ? CandidateForm::Integers : CandidateForm::Floats;
}

// Reads what a callable returned as a point: a one-dimensional float64 array directly, any
// other non-str sequence of numbers item by item. False with the error set.
inline bool to_point(PyObject* object, std::vector<double>& out, CandidateForm form) {
    // Arrays are only expected back from callables that were handed arrays.
    if (form == CandidateForm::Array && numpy::read_float64_vector(object, out)) return true;
    return to_double_list(object, out);
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
        if (PyObject* list = own_candidate(); list != nullptr && data_ == nullptr) {
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
