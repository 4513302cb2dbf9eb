#include "convert/float_matrix.hpp"

#include <cstdint>
#include <cstring>
#include <string_view>

#include "convert/numpy_api.hpp"
#include "cpython/panic.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

namespace {

// An array's elements: `data` addresses element (0, 0), and element (i, j) lies i * row_step +
// j * col_step bytes further (a vector is one row).
struct Elements {
    const char* data;
    std::size_t rows;
    std::size_t cols;
    std::intptr_t row_step;
    std::intptr_t col_step;
};

// The C type of an element, from NumPy's type number or a buffer's format character.
enum class Element : std::uint8_t {
    Bool,
    Byte,
    UByte,
    Short,
    UShort,
    Int,
    UInt,
    Long,
    ULong,
    LongLong,
    ULongLong,
    Float,
    Double,
    Other
};

Element from_type_num(int type_num) {
    // NPY_BOOL (0) to NPY_DOUBLE (12), in the order of the enumeration.
    return type_num >= 0 && type_num <= 12 ? static_cast<Element>(type_num) : Element::Other;
}

Element from_format(std::string_view format) {
    if (format.size() == 2 && format[0] == '@') format.remove_prefix(1);
    if (format.size() != 1) return Element::Other;
    constexpr std::string_view kCodes = "?bBhHiIlLqQfd";
    const std::size_t at = kCodes.find(format[0]);
    return at == std::string_view::npos ? Element::Other : static_cast<Element>(at);
}

template <class T>
void convert(const Elements& e, double* out) {
    for (std::size_t i = 0; i < e.rows; ++i) {
        const char* item = e.data + static_cast<std::intptr_t>(i) * e.row_step;
        for (std::size_t j = 0; j < e.cols; ++j, item += e.col_step) {
            T value;
            std::memcpy(&value, item, sizeof(T));
            *out++ = static_cast<double>(value);
        }
    }
}

// Copies the elements into `out` (rows * cols values in C order).
void copy_elements(const Elements& e, Element type, double* out) {
    if (e.rows == 0 || e.cols == 0) return;
    const auto width = static_cast<std::intptr_t>(sizeof(double));
    if (type == Element::Double && e.col_step == width &&
        (e.rows == 1 || e.row_step == width * static_cast<std::intptr_t>(e.cols))) {
        std::memcpy(out, e.data, e.rows * e.cols * sizeof(double));
        return;
    }
    switch (type) {
        case Element::Bool:
            return convert<unsigned char>(e, out);  // 0 or 1, as NumPy stores it
        case Element::Byte:
            return convert<signed char>(e, out);
        case Element::UByte:
            return convert<unsigned char>(e, out);
        case Element::Short:
            return convert<short>(e, out);
        case Element::UShort:
            return convert<unsigned short>(e, out);
        case Element::Int:
            return convert<int>(e, out);
        case Element::UInt:
            return convert<unsigned int>(e, out);
        case Element::Long:
            return convert<long>(e, out);
        case Element::ULong:
            return convert<unsigned long>(e, out);
        case Element::LongLong:
            return convert<long long>(e, out);
        case Element::ULongLong:
            return convert<unsigned long long>(e, out);
        case Element::Float:
            return convert<float>(e, out);
        case Element::Double:
            return convert<double>(e, out);
        case Element::Other:
            return;
    }
}

std::size_t element_size(Element type) {
    switch (type) {
        case Element::Bool:
        case Element::Byte:
        case Element::UByte:
            return 1;
        case Element::Short:
        case Element::UShort:
            return sizeof(short);
        case Element::Int:
        case Element::UInt:
            return sizeof(int);
        case Element::Long:
        case Element::ULong:
            return sizeof(long);
        case Element::LongLong:
        case Element::ULongLong:
            return sizeof(long long);
        case Element::Float:
            return sizeof(float);
        case Element::Double:
            return sizeof(double);
        case Element::Other:
            return 0;
    }
    return 0;
}

// Whether NumPy's array API is there to tell arrays apart: an array can only exist once NumPy
// is imported, and the module never imports it for this.
bool numpy_loaded() {
    static PyObject* numpy_name = PyUnicode_InternFromString("numpy");
    static bool loaded = false;
    if (loaded) return true;
    if (numpy_name == nullptr) return false;
    PyRef numpy(PyImport_GetModule(numpy_name));
    if (!numpy) {
        if (PyErr_Occurred()) throw PythonError{};
        return false;
    }
    numpy::load_api();
    loaded = true;
    return true;
}

// The elements of an exact ndarray of `nd` dimensions and a numeric type in native byte
// order. False for anything else.
bool array_elements(PyObject* object, int nd, Elements& e, Element& type) {
    numpy::ArrayLayout layout{};
    if (!numpy::exact_array_layout(object, layout)) return false;
    type = from_type_num(layout.type_num);
    if (layout.nd != nd || !layout.native_order || type == Element::Other) return false;
    e.data = layout.data;
    e.rows = nd == 2 ? static_cast<std::size_t>(layout.shape[0]) : 1;
    e.cols = static_cast<std::size_t>(layout.shape[nd - 1]);
    e.row_step = nd == 2 ? layout.strides[0] : 0;
    e.col_step = layout.strides[nd - 1];
    return true;
}

std::intptr_t integer_attribute(PyObject* object, const char* name) {
    PyRef value(PyObject_GetAttrString(object, name));
    if (!value) throw PythonError{};
    const Py_ssize_t n = PyLong_AsSsize_t(value.get());
    if (n == -1 && PyErr_Occurred()) throw PythonError{};
    return n;
}

// A memoryview of `object` when it exports a buffer of `nd` dimensions of numbers, its C-order
// bytes in `bytes` and its layout in `e`; false when it does not. Lists, tuples, strings and
// NumPy arrays never get here.
bool buffer_elements(PyObject* object, int nd, PyRef& bytes, Elements& e, Element& type) {
    PyRef view(PyMemoryView_FromObject(object));
    if (!view) {
        if (!PyErr_ExceptionMatches(PyExc_TypeError)) throw PythonError{};
        PyErr_Clear();  // no buffer: the caller's own reading says what is wrong
        return false;
    }
    if (integer_attribute(view.get(), "ndim") != nd) return false;
    PyRef format(PyObject_GetAttrString(view.get(), "format"));
    if (!format) throw PythonError{};
    Py_ssize_t length = 0;
    PyRef encoded(PyUnicode_AsUTF8String(format.get()));
    if (!encoded) throw PythonError{};
    char* text = nullptr;
    if (PyBytes_AsStringAndSize(encoded.get(), &text, &length) < 0) throw PythonError{};
    type = from_format(std::string_view(text, static_cast<std::size_t>(length)));
    if (type == Element::Other) return false;
    PyRef shape(PyObject_GetAttrString(view.get(), "shape"));
    if (!shape) throw PythonError{};
    std::size_t dims[2] = {1, 0};
    for (int k = 0; k < nd; ++k) {
        PyObject* dim = PyTuple_GetItem(shape.get(), k);  // borrowed
        if (dim == nullptr) throw PythonError{};
        dims[2 - nd + k] = PyLong_AsSize_t(dim);
        if (PyErr_Occurred()) throw PythonError{};
    }
    bytes.reset(PyObject_CallMethod(view.get(), "tobytes", nullptr));
    if (!bytes) throw PythonError{};
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) throw PythonError{};
    const std::size_t width = element_size(type);
    if (static_cast<std::size_t>(size) != dims[0] * dims[1] * width) return false;
    e = {data, dims[0], dims[1], static_cast<std::intptr_t>(width * dims[1]),
         static_cast<std::intptr_t>(width)};
    return true;
}

// The elements of `object` when it holds an array of `nd` dimensions of numbers; `bytes`
// keeps a memoryview's copy alive.
bool elements(PyObject* object, int nd, PyRef& bytes, Elements& e, Element& type) {
    if (PyList_CheckExact(object) || PyTuple_CheckExact(object) || PyUnicode_Check(object))
        return false;
    if (numpy_loaded() && numpy::is_array(object)) return array_elements(object, nd, e, type);
    return buffer_elements(object, nd, bytes, e, type);
}

}  // namespace

bool read_float_matrix(PyObject* object, FloatMatrix& out) {
    PyRef bytes;
    Elements e{};
    Element type = Element::Other;
    if (!elements(object, 2, bytes, e, type)) return false;
    out.rows = e.rows;
    out.cols = e.cols;
    out.values.resize(e.rows * e.cols);
    copy_elements(e, type, out.values.data());
    return true;
}

bool read_float_vector(PyObject* object, std::vector<double>& out) {
    PyRef bytes;
    Elements e{};
    Element type = Element::Other;
    if (!elements(object, 1, bytes, e, type)) return false;
    out.resize(e.cols);
    copy_elements(e, type, out.data());
    return true;
}

}  // namespace kestrelopt::native
