#include "convert/binder.hpp"

#include <cmath>
#include <string_view>
#include <utility>

#include "convert/sequence.hpp"
#include "cpython/fetched_error.hpp"
#include "cpython/object_layout.hpp"
#include "cpython/panic.hpp"

namespace kestrelopt::native {

namespace {

// ValueError for a count out of [0, 2**64): "{name} must be a non-negative whole number,
// got -3" or "... below 2**64, got ...", in place of the conversion's OverflowError.
void set_count_range_error(const char* name, PyObject* index) {
    PyErr_Clear();
    PyRef zero(PyLong_FromLong(0));
    const int negative = zero ? PyObject_RichCompareBool(index, zero.get(), Py_LT) : -1;
    if (negative < 0) return;
    PyErr_Format(PyExc_ValueError,
                 negative ? "%s must be a non-negative whole number, got %R"
                          : "%s must be a whole number below 2**64, got %R",
                 name, index);
}

bool to_count(const char* name, PyObject* object, std::uint64_t& out) {
    PyRef index(PyNumber_Index(object));
    if (!index) return false;
    const unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        if (PyErr_ExceptionMatches(PyExc_OverflowError)) set_count_range_error(name, index.get());
        return false;
    }
    out = value;
    return true;
}

}  // namespace

bool to_text(PyObject* object, std::string& out) {
    if (!PyUnicode_Check(object)) {
        set_cannot_convert(object, "PyString");
        return false;
    }
    PyRef bytes(PyUnicode_AsUTF8String(object));
    if (!bytes) return false;
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) return false;
    out.assign(data, static_cast<std::size_t>(size));
    return true;
}

namespace {

bool to_bool(PyObject* object, bool& out) {
    bool is_boolean = false;
    if (!boolean_value(object, is_boolean, out)) return false;
    if (!is_boolean) {
        set_cannot_convert(object, "PyBool");
        return false;
    }
    return true;
}

template <class T, class Convert>
bool to_list(PyObject* object, std::vector<T>& out, Convert&& convert) {
    out.clear();
    if (!check_sequence(object)) return false;
    out.reserve(size_hint(object));
    return for_each_item(object, [&](PyObject* item) {
        T value{};
        if (!convert(item, value)) return false;
        out.push_back(std::move(value));
        return true;
    });
}

bool to_object(PyObject* item, PyRef& out) {
    out = PyRef::borrow(item);
    return true;
}

std::string quoted_list(const std::vector<const char*>& names) {
    std::string out;
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (i > 0) {
            if (names.size() == 2)
                out += " and ";
            else if (i + 1 == names.size())
                out += ", and ";
            else
                out += ", ";
        }
        out += '\'';
        out += names[i];
        out += '\'';
    }
    return out;
}

[[noreturn]] void raise_type_error(const std::string& message) {
    raise(PyExc_TypeError, message);
}

// Finds the parameter named by a keyword; params.size() when none.
std::size_t find_param(std::span<const Param> params, PyObject* key) {
    if (!PyUnicode_Check(key)) return params.size();
    for (std::size_t i = 0; i < params.size(); ++i)
        if (PyUnicode_CompareWithASCIIString(key, params[i].name) == 0) return i;
    return params.size();
}

Value default_value(const Param& param) {
    switch (param.default_kind) {
        case Param::Default::Bool:
            return param.bool_default;
        case Param::Default::Count:
            return param.count_default;
        case Param::Default::Float:
            return param.float_default;
        case Param::Default::Text:
            return std::string(param.text_default);
        case Param::Default::Required:
        case Param::Default::None:
            break;
    }
    return std::monostate{};
}

// Converts one given argument by its kind; false with the (unwrapped) error set.
bool convert(const Param& param, PyObject* given, Value& out) {
    if ((param.default_kind == Param::Default::None || param.accepts_none) && given == Py_None) {
        out = std::monostate{};
        return true;
    }
    switch (param.kind) {
        case Kind::Object:
            out = PyRef::borrow(given);
            return true;
        case Kind::Boolean: {
            bool value = false;
            if (!to_bool(given, value)) return false;
            out = value;
            return true;
        }
        case Kind::Count: {
            std::uint64_t value = 0;
            if (!to_count(param.name, given, value)) return false;
            out = value;
            return true;
        }
        case Kind::Float: {
            double value = 0.0;
            if (!to_double(given, value)) return false;
            out = value;
            return true;
        }
        case Kind::Text: {
            std::string value;
            if (!to_text(given, value)) return false;
            out = std::move(value);
            return true;
        }
        case Kind::FloatList: {
            std::vector<double> value;
            if (!to_double_list(given, value)) return false;
            out = std::move(value);
            return true;
        }
        case Kind::FloatOrList: {
            // A 0-d NumPy array passes the sequence check but reads as one float.
            if (!PyUnicode_Check(given) && PySequence_Check(given)) {
                std::vector<double> values;
                if (to_double_list(given, values)) {
                    out = std::move(values);
                    return true;
                }
                if (!PyErr_ExceptionMatches(PyExc_TypeError)) return false;
                FetchedError error = fetch_error(false);
                double value = 0.0;
                if (to_double(given, value)) {
                    out = value;
                    return true;
                }
                // The sequence reading's error says more than the float conversion's.
                PyErr_Restore(error.type.release(), error.value.release(),
                              error.traceback.release());
                return false;
            }
            double value = 0.0;
            if (!to_double(given, value)) return false;
            out = value;
            return true;
        }
        case Kind::FloatRows: {
            FloatRows value;
            if (!to_double_rows(given, value)) return false;
            out = std::move(value);
            return true;
        }
        case Kind::TextList: {
            std::vector<std::string> value;
            if (!to_list(given, value, to_text)) return false;
            out = std::move(value);
            return true;
        }
        case Kind::ObjectList: {
            std::vector<PyRef> value;
            if (!to_list(given, value, to_object)) return false;
            out = std::move(value);
            return true;
        }
        case Kind::ObjectListOrReturned: {
            if (PyUnicode_Check(given)) {
                if (PyUnicode_CompareWithASCIIString(given, kReturned) == 0) {
                    out = std::string(kReturned);
                    return true;
                }
                PyErr_Format(PyExc_TypeError, "%R is neither a list of callables nor \"%s\"", given,
                             kReturned);
                return false;
            }
            std::vector<PyRef> value;
            if (!to_list(given, value, to_object)) return false;
            out = std::move(value);
            return true;
        }
    }
    return false;
}

}  // namespace

void wrap_type_error(const char* name) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    const FetchedError error = fetch_error(true);
    if (!error.value) return;  // nothing to wrap; the fetched error is gone with the refs
    PyRef message(PyObject_Str(error.value.get()));
    if (!message) return;
    PyRef text(PyUnicode_FromFormat("argument '%s': %U", name, message.get()));
    if (!text) return;
    PyRef wrapped(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr));
    if (!wrapped) return;
    if (PyRef cause{PyException_GetCause(error.value.get())})
        PyException_SetCause(wrapped.get(), cause.release());
    PyErr_SetObject(PyExc_TypeError, wrapped.get());
}

std::string utf8(PyObject* text) {
    PyRef bytes(PyUnicode_AsUTF8String(text));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!bytes || PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) {
        PyErr_Clear();
        return {};
    }
    return std::string(data, static_cast<std::size_t>(size));
}

std::string type_name(PyObject* object) {
    PyRef name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    if (name && PyUnicode_Check(name.get())) return utf8(name.get());
    PyErr_Clear();
    return "object";
}

std::string describe_value(PyObject* object) {
    if (object == Py_None) return "None";
    const std::string name = type_name(object);
    // "an ndarray", as it is read aloud.
    const bool vowel =
        name == "ndarray" ||
        (!name.empty() && std::string_view("aeiouAEIOU").find(name[0]) != std::string_view::npos);
    std::string text = (vowel ? "an " : "a ") + name;
    if (PyUnicode_Check(object) || PyLong_Check(object) || PyFloat_Check(object)) return text;
    PyRef shape(PyObject_GetAttrString(object, "shape"));
    PyRef shown(shape && PyTuple_Check(shape.get()) ? PyObject_Repr(shape.get()) : nullptr);
    if (shown)
        text += " of shape " + utf8(shown.get());
    else
        PyErr_Clear();
    return text;
}

namespace {

// " whose item {i} is {what}" for the first item of a non-str sequence that is not a number;
// "" when there is none, or no such sequence.
std::string first_bad_item(PyObject* sequence) {
    if (PyUnicode_Check(sequence) || PyBytes_Check(sequence) || !PySequence_Check(sequence))
        return {};
    const Py_ssize_t n = PySequence_Size(sequence);
    for (Py_ssize_t i = 0; i < n; ++i) {
        PyRef item(PySequence_GetItem(sequence, i));
        if (!item) break;
        if (PyFloat_AsDouble(item.get()) == -1.0 && PyErr_Occurred()) {
            PyErr_Clear();
            return " whose item " + std::to_string(i) + " is " + describe_value(item.get());
        }
    }
    PyErr_Clear();
    return {};
}

}  // namespace

void explain_reading_error(PyObject* given, const std::string& head, const std::string& tail,
                           bool items) {
    if (!PyErr_ExceptionMatches(PyExc_TypeError)) return;
    const FetchedError error = fetch_error(true);
    std::string message = head + " " + describe_value(given);
    if (items) message += first_bad_item(given);
    message += tail;
    PyRef text(PyUnicode_FromString(message.c_str()));
    PyRef explained(text ? PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr)
                         : nullptr);
    if (!explained) return;  // that error replaces the reading's
    if (error.value)
        PyException_SetCause(explained.get(), PyRef::borrow(error.value.get()).release());
    PyErr_SetObject(PyExc_TypeError, explained.get());
}

void set_cannot_convert(PyObject* object, const char* target) {
    const std::string name = type_name(object);
    PyErr_Format(PyExc_TypeError, "'%s' object cannot be converted to '%s'", name.c_str(), target);
}

bool to_double(PyObject* object, double& out) {
    const double value = PyFloat_AsDouble(object);
    if (value == -1.0 && PyErr_Occurred()) return false;
    out = value;
    return true;
}

bool boolean_value(PyObject* object, bool& is_boolean, bool& out) {
    if (PyBool_Check(object)) {
        is_boolean = true;
        out = object == Py_True;
        return true;
    }
    // A NumPy boolean can only exist once NumPy is imported; never import it here.
    static PyObject* numpy_name = PyUnicode_InternFromString("numpy");
    is_boolean = false;
    if (numpy_name == nullptr) return false;
    PyRef numpy(PyImport_GetModule(numpy_name));
    if (!numpy) {
        PyErr_Clear();
        return true;
    }
    PyRef bool_type(PyObject_GetAttrString(numpy.get(), "bool_"));
    if (!bool_type) {
        PyErr_Clear();
        return true;
    }
    if (reinterpret_cast<PyObject*>(Py_TYPE(object)) != bool_type.get()) return true;
    const int truth = PyObject_IsTrue(object);
    if (truth < 0) return false;
    is_boolean = true;
    out = truth != 0;
    return true;
}

bool to_double_list(PyObject* object, std::vector<double>& out) {
    // An exact list of exact floats, what objectives mostly return, is read in place:
    // nothing here runs Python code, and each value is what PyFloat_AsDouble gives.
    if (PyList_CheckExact(object) && list_layout_known() && float_layout_known()) {
        const Py_ssize_t n = PyList_Size(object);
        PyObject* const* items = list_items(object);
        out.clear();
        Py_ssize_t i = 0;
        for (; i < n && PyFloat_CheckExact(items[i]); ++i)
            out.push_back(*float_value_slot(items[i]));
        if (i == n) return true;
    }
    return to_list(object, out, to_double);
}

bool to_double_lists(PyObject* object, std::vector<std::vector<double>>& out) {
    return to_list(object, out, to_double_list);
}

bool to_double_rows(PyObject* object, FloatRows& out) {
    out.values.clear();
    out.ends.clear();
    if (!check_sequence(object)) return false;
    const std::size_t rows = size_hint(object);
    out.ends.reserve(rows);
    return for_each_item(object, [&](PyObject* row) {
        if (!check_sequence(row)) return false;
        const bool converted = for_each_item(row, [&](PyObject* item) {
            double value = 0.0;
            if (!to_double(item, value)) return false;
            out.values.push_back(value);
            return true;
        });
        if (!converted) return false;
        out.ends.push_back(out.values.size());
        // Rows are usually alike: room for all of them once the first is known.
        const std::size_t first = out.values.size();
        if (out.ends.size() == 1 && rows > 1 && first > 0 && first <= out.values.max_size() / rows)
            out.values.reserve(first * rows);
        return true;
    });
}

Arguments::Arguments(const Signature& signature, PyObject* args, PyObject* kwargs)
    : params_(signature.params) {
    const std::span<const Param> params = signature.params;
    const std::size_t n = params.size();
    const std::size_t given = args ? static_cast<std::size_t>(PyTuple_Size(args)) : 0;

    if (given > n) {
        std::size_t required_count = 0;
        for (const Param& p : params)
            if (p.default_kind == Param::Default::Required) ++required_count;
        const char* verb = given == 1 ? "was" : "were";
        std::string message = std::string(signature.function) + " takes ";
        if (required_count < n)
            message += "from " + std::to_string(required_count) + " to " + std::to_string(n);
        else
            message += std::to_string(n);
        message += " positional arguments but " + std::to_string(given) + " " + verb + " given";
        raise_type_error(message);
    }

    std::vector<PyRef> slots(n);
    for (std::size_t i = 0; i < given; ++i)
        slots[i] = PyRef::borrow(PyTuple_GetItem(args, static_cast<Py_ssize_t>(i)));

    if (kwargs != nullptr) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (PyDict_Next(kwargs, &position, &key, &value)) {
            const std::size_t i = find_param(params, key);
            if (i == n) {
                PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'",
                             signature.function, key);
                throw PythonError{};
            }
            if (slots[i]) {
                raise_type_error(std::string(signature.function) +
                                 " got multiple values for argument '" + params[i].name + "'");
            }
            slots[i] = PyRef::borrow(value);
        }
    }

    std::vector<const char*> missing;
    for (std::size_t i = 0; i < n; ++i)
        if (!slots[i] && params[i].default_kind == Param::Default::Required)
            missing.push_back(params[i].name);
    if (!missing.empty()) {
        raise_type_error(std::string(signature.function) + " missing " +
                         std::to_string(missing.size()) + " required positional " +
                         (missing.size() == 1 ? "argument" : "arguments") + ": " +
                         quoted_list(missing));
    }

    values_.resize(n);
    given_.resize(n);
    for (std::size_t i = 0; i < n; ++i) {
        given_[i] = static_cast<bool>(slots[i]);
        if (!slots[i]) {
            values_[i] = default_value(params[i]);
        } else if (!convert(params[i], slots[i].get(), values_[i])) {
            wrap_type_error(params[i].name);
            throw PythonError{};
        }
    }
}

std::optional<std::uint64_t> Arguments::optional_count(std::size_t i) const {
    if (!present(i)) return std::nullopt;
    return count(i);
}

std::optional<double> Arguments::optional_real(std::size_t i) const {
    if (!present(i)) return std::nullopt;
    return real(i);
}

PyObject* Arguments::object(std::size_t i) const {
    if (!present(i)) return nullptr;
    return std::get<PyRef>(values_[i]).get();
}

std::vector<PyRef> Arguments::take_objects(std::size_t i) {
    // Empty when absent, and for "returned".
    if (auto* objects = std::get_if<std::vector<PyRef>>(&values_[i])) return std::move(*objects);
    return {};
}

std::vector<std::string> Arguments::take_texts(std::size_t i) {
    if (!present(i)) return {};
    return std::move(std::get<std::vector<std::string>>(values_[i]));
}

std::vector<double> Arguments::take_floats(std::size_t i) {
    if (!present(i)) return {};
    return std::move(std::get<std::vector<double>>(values_[i]));
}

void Arguments::supply(const char* name, Value value) {
    for (std::size_t i = 0; i < params_.size(); ++i) {
        if (std::string_view(params_[i].name) != name) continue;
        if (!given_[i]) {
            values_[i] = std::move(value);
            given_[i] = true;
        }
        return;
    }
    raise(PyExc_SystemError, std::string("no parameter '") + name + "' to supply");
}

FloatRows Arguments::take_float_rows(std::size_t i) {
    if (!present(i)) return {};
    return std::move(std::get<FloatRows>(values_[i]));
}

}  // namespace kestrelopt::native
