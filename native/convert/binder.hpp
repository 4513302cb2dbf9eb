// Argument binding and conversion shared by every function and method of the module.
//
// A function describes its parameters once, in a static table (name, conversion kind,
// default); `Arguments` binds the call's positional and keyword arguments against that
// table (all binding errors before any conversion), then converts each argument in table
// order, wrapping a conversion TypeError as "argument '{name}': {message}".
//
// The free conversion functions follow the CPython convention (false with a Python error
// set) because the objective adapters call them once per evaluation.
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

enum class Kind : std::uint8_t {
    Object,                // kept as given
    Boolean,               // bool or NumPy boolean
    Count,                 // unsigned 64-bit, through the index protocol (ValueError out of range)
    Float,                 // the interpreter's float conversion
    Text,                  // str, read as UTF-8
    FloatList,             // non-str sequence of floats
    FloatOrList,           // a float, or a non-str sequence of floats
    FloatRows,             // non-str sequence of non-str sequences of floats, stored flat
    TextList,              // non-str sequence of str
    ObjectList,            // non-str sequence of anything
    ObjectListOrReturned,  // ObjectList, or the str "returned"
};

// The value of an ObjectListOrReturned parameter that stands for values the objective
// returns rather than callables.
inline constexpr const char* kReturned = "returned";

struct Param {
    enum class Default : std::uint8_t { Required, None, Bool, Count, Float, Text };

    const char* name;
    Kind kind;
    Default default_kind = Default::Required;
    bool bool_default = false;
    std::uint64_t count_default = 0;
    double float_default = 0.0;
    const char* text_default = nullptr;
    bool accepts_none = false;  // None given reads as absent, whatever the default
};

constexpr Param required(const char* name, Kind kind) {
    return {name, kind};
}
// A parameter whose default is None: passing None is the same as leaving it out.
constexpr Param optional(const char* name, Kind kind) {
    return {name, kind, Param::Default::None};
}
constexpr Param flag(const char* name, bool value) {
    return {name, Kind::Boolean, Param::Default::Bool, value};
}
constexpr Param count(const char* name, std::uint64_t value) {
    return {name, Kind::Count, Param::Default::Count, false, value};
}
// A count with a default for which None means something else (no limit): absent.
constexpr Param count_or_none(const char* name, std::uint64_t value) {
    return {name, Kind::Count, Param::Default::Count, false, value, 0.0, nullptr, true};
}
constexpr Param real(const char* name, double value) {
    return {name, Kind::Float, Param::Default::Float, false, 0, value};
}
constexpr Param text(const char* name, const char* value) {
    return {name, Kind::Text, Param::Default::Text, false, 0, 0.0, value};
}

struct Signature {
    const char* function;  // as it appears in messages, e.g. "minimize()"
    std::span<const Param> params;
};

// Rows of floats, of any lengths, one after the other in one buffer: a list of lists costs
// two allocations however many rows it has.
struct FloatRows {
    std::vector<double> values;
    std::vector<std::size_t> ends;  // row i is values[ends[i - 1], ends[i]), from 0

    std::size_t size() const { return ends.size(); }
    std::span<const double> row(std::size_t i) const {
        const std::size_t begin = i == 0 ? 0 : ends[i - 1];
        return std::span<const double>(values).subspan(begin, ends[i] - begin);
    }
};

// A converted argument; monostate means absent (optional and not given, or None).
using Value =
    std::variant<std::monostate, bool, std::uint64_t, double, std::string, std::vector<double>,
                 FloatRows, std::vector<std::string>, std::vector<PyRef>, PyRef>;

class Arguments {
  public:
    // Binds and converts; throws PythonError with the binding or conversion error set.
    Arguments(const Signature& signature, PyObject* args, PyObject* kwargs);

    bool present(std::size_t i) const {
        return !std::holds_alternative<std::monostate>(values_[i]);
    }
    // Whether the caller passed the argument (positionally or by keyword), a default's
    // value included.
    bool given(std::size_t i) const { return given_[i]; }

    bool boolean(std::size_t i) const { return std::get<bool>(values_[i]); }
    std::uint64_t count(std::size_t i) const { return std::get<std::uint64_t>(values_[i]); }
    double real(std::size_t i) const { return std::get<double>(values_[i]); }
    const std::string& text(std::size_t i) const { return std::get<std::string>(values_[i]); }
    // Of an ObjectListOrReturned argument: whether it was given as "returned".
    bool returned(std::size_t i) const { return std::holds_alternative<std::string>(values_[i]); }
    std::optional<std::uint64_t> optional_count(std::size_t i) const;
    std::optional<double> optional_real(std::size_t i) const;
    // Borrowed (the Arguments keep it alive); null when absent.
    PyObject* object(std::size_t i) const;
    // The converted list, or an empty one when absent (or "returned").
    std::vector<PyRef> take_objects(std::size_t i);
    std::vector<std::string> take_texts(std::size_t i);
    std::vector<double> take_floats(std::size_t i);
    // Of a FloatOrList argument: whether it was given as a sequence, and that sequence.
    bool holds_floats(std::size_t i) const {
        return std::holds_alternative<std::vector<double>>(values_[i]);
    }
    const std::vector<double>& floats(std::size_t i) const {
        return std::get<std::vector<double>>(values_[i]);
    }
    FloatRows take_float_rows(std::size_t i);

    // Sets the parameter called `name` to `value`, as if the caller had passed it, unless
    // the caller did pass it (a preset's values give way to the caller's). `name` must be
    // in the signature.
    void supply(const char* name, Value value);

  private:
    std::span<const Param> params_;
    std::vector<Value> values_;
    std::vector<bool> given_;
};

// Replaces a pending TypeError by TypeError("argument '{name}': {message}"), keeping its
// cause. Errors of other types stay as they are.
void wrap_type_error(const char* name);

// UTF-8 text of a str object; "" (with the error cleared) if it cannot be encoded.
std::string utf8(PyObject* text);

// Type name of an object for messages ("int", "NoneType", ...).
std::string type_name(PyObject* object);

// What an object is, for messages: "None", "a float", "an ndarray of shape (3,)".
std::string describe_value(PyObject* object);

// Replaces a pending TypeError from reading `given` by TypeError("{head} {what}{tail}"),
// `what` being describe_value(given), followed with `items` by the first item that is not a
// number (" whose item 1 is None"); the reading's error becomes the cause. Other errors
// stay as they are. For error paths only: it may run Python code.
void explain_reading_error(PyObject* given, const std::string& head, const std::string& tail,
                           bool items);

// Sets TypeError "'{type}' object cannot be converted to '{target}'".
void set_cannot_convert(PyObject* object, const char* target);

// A str as UTF-8; TypeError "... cannot be converted to 'PyString'" for anything else.
bool to_text(PyObject* object, std::string& out);
// The interpreter's float conversion.
bool to_double(PyObject* object, double& out);
// The truth value of a bool or a NumPy boolean; `is_boolean` is false for anything else.
bool boolean_value(PyObject* object, bool& is_boolean, bool& out);
// Non-str sequence of floats into `out` (cleared first; capacity is reused).
bool to_double_list(PyObject* object, std::vector<double>& out);
bool to_double_lists(PyObject* object, std::vector<std::vector<double>>& out);
// The same conversion, with the same errors, into rows stored flat (cleared first).
bool to_double_rows(PyObject* object, FloatRows& out);

}  // namespace kestrelopt::native
