#include "convert/numpy_api.hpp"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "convert/binder.hpp"
#include "cpython/fetched_error.hpp"
#include "cpython/panic.hpp"
#include "kestrelopt/failure.hpp"

namespace kestrelopt::native::numpy {

namespace {

using npy_intp = std::intptr_t;

// Slots of the API table.
constexpr int kGetNDArrayCVersion = 0;
constexpr int kArrayType = 2;
constexpr int kArrayNew = 93;
constexpr int kSetBaseObject = 282;

using GetVersionFn = unsigned int (*)();
using ArrayNewFn = PyObject* (*)(PyTypeObject*, int, const npy_intp*, int, const npy_intp*, void*,
                                 int, int, PyObject*);
using SetBaseObjectFn = int (*)(PyObject*, PyObject*);

constexpr int kNpyDouble = 12;
constexpr int kNpyIntp = sizeof(long) == sizeof(npy_intp) ? 7 : 9;  // NPY_LONG or NPY_LONGLONG
constexpr int kCArrayFlags = 0x0001 | 0x0100;                       // C-contiguous, aligned
constexpr int kWriteableFlag = 0x0400;

// Leading fields of PyArrayObject and PyArray_Descr (unchanged from NumPy 1.x to 2.x).
struct ArrayFields {
    PyObject ob_base;
    char* data;
    int nd;
    npy_intp* dimensions;
    npy_intp* strides;
    PyObject* base;
    PyObject* descr;
    int flags;
};
struct DescrFields {
    PyObject ob_base;
    PyTypeObject* typeobj;
    char kind;
    char type;
    char byteorder;
    char former_flags;
    int type_num;
};

void** g_api = nullptr;
PyObject* g_capsule = nullptr;  // keeps the table alive for the life of the process

[[noreturn]] void fail_capsule(const std::string& reason) {
    fail("Failed to access NumPy array API capsule: " + reason);
}

// "Type: message" of the pending Python error, which is cleared.
std::string take_error_text() {
    const FetchedError error = fetch_error(true);
    std::string text = "unknown error";
    if (error.type) {
        PyRef name(PyObject_GetAttrString(error.type.get(), "__name__"));
        PyRef message(error.value ? PyObject_Str(error.value.get()) : nullptr);
        PyErr_Clear();
        text = (name && PyUnicode_Check(name.get()) ? utf8(name.get()) : "Exception") + ": " +
               (message ? utf8(message.get()) : "");
    }
    return text;
}

PyRef import_multiarray() {
    PyRef module(PyImport_ImportModule("numpy._core.multiarray"));
    if (module) return module;
    if (!PyErr_ExceptionMatches(PyExc_ImportError)) fail_capsule(take_error_text());
    PyErr_Clear();
    module.reset(PyImport_ImportModule("numpy.core.multiarray"));
    if (!module) fail_capsule(take_error_text());
    return module;
}

void free_buffer(PyObject* capsule) {
    std::free(PyCapsule_GetPointer(capsule, PyCapsule_GetName(capsule)));
}

}  // namespace

void load_api() {
    if (g_api != nullptr) return;
    PyRef multiarray = import_multiarray();
    PyRef capsule(PyObject_GetAttrString(multiarray.get(), "_ARRAY_API"));
    if (!capsule) fail_capsule(take_error_text());
    if (!PyCapsule_CheckExact(capsule.get())) fail_capsule("_ARRAY_API is not a capsule");
    auto** api = static_cast<void**>(PyCapsule_GetPointer(capsule.get(), nullptr));
    if (api == nullptr) fail_capsule(take_error_text());
    // The struct layouts above hold for the C ABI of NumPy 1.x (0x01...) and 2.x (0x02...).
    const unsigned int abi = reinterpret_cast<GetVersionFn>(api[kGetNDArrayCVersion])();
    const unsigned int major = abi >> 24;
    if (major != 1 && major != 2)
        fail_capsule("unsupported NumPy C ABI version " + std::to_string(abi));
    g_capsule = capsule.release();
    g_api = api;
}

PyRef array_over(double* buffer, std::span<const std::size_t> shape, Access access) {
    PyRef owner(PyCapsule_New(buffer, "kestrelopt.array_buffer", free_buffer));
    if (!owner) {
        std::free(buffer);
        return owner;
    }
    auto* array_type = static_cast<PyTypeObject*>(g_api[kArrayType]);
    const std::size_t nd = std::min<std::size_t>(shape.size(), 2);
    npy_intp dims[2] = {0, 0};
    for (std::size_t i = 0; i < nd; ++i) dims[i] = static_cast<npy_intp>(shape[i]);
    const int flags = kCArrayFlags | (access == Access::Writeable ? kWriteableFlag : 0);
    auto array_new = reinterpret_cast<ArrayNewFn>(g_api[kArrayNew]);
    PyRef array(array_new(array_type, static_cast<int>(nd), dims, kNpyDouble, nullptr, buffer, 0,
                          flags, nullptr));
    if (!array) return array;  // the capsule still frees the buffer
    // Steals the capsule, also on failure; from now on the array frees the buffer.
    auto set_base = reinterpret_cast<SetBaseObjectFn>(g_api[kSetBaseObject]);
    if (set_base(array.get(), owner.release()) < 0) return PyRef();
    return array;
}

PyRef new_array(std::span<const std::size_t> shape, double*& data) {
    auto* array_type = static_cast<PyTypeObject*>(g_api[kArrayType]);
    const std::size_t nd = std::min<std::size_t>(shape.size(), 2);
    npy_intp dims[2] = {0, 0};
    for (std::size_t i = 0; i < nd; ++i) dims[i] = static_cast<npy_intp>(shape[i]);
    auto array_new = reinterpret_cast<ArrayNewFn>(g_api[kArrayNew]);
    PyRef array(array_new(array_type, static_cast<int>(nd), dims, kNpyDouble, nullptr, nullptr, 0,
                          0, nullptr));
    if (array) data = reinterpret_cast<double*>(reinterpret_cast<ArrayFields*>(array.get())->data);
    return array;
}

PyRef view_over(const double* data, std::span<const std::size_t> shape, PyObject* owner) {
    if (shape.size() > 3) fail("an array view has at most three dimensions");
    auto* array_type = static_cast<PyTypeObject*>(g_api[kArrayType]);
    npy_intp dims[3] = {0, 0, 0};
    for (std::size_t i = 0; i < shape.size(); ++i) dims[i] = static_cast<npy_intp>(shape[i]);
    // Never written through: the flags leave the array read-only. An empty record may have
    // no buffer at all; NumPy is handed a valid address all the same.
    static const double kNothing = 0.0;
    if (data == nullptr) data = &kNothing;
    auto array_new = reinterpret_cast<ArrayNewFn>(g_api[kArrayNew]);
    PyRef array(array_new(array_type, static_cast<int>(shape.size()), dims, kNpyDouble, nullptr,
                          const_cast<double*>(data), 0, kCArrayFlags, nullptr));
    if (!array) throw PythonError{};
    auto set_base = reinterpret_cast<SetBaseObjectFn>(g_api[kSetBaseObject]);
    if (set_base(array.get(), PyRef::borrow(owner).release()) < 0) throw PythonError{};  // steals
    return array;
}

namespace {

// The array fields of `object` when it is a float64 NumPy array of `nd` dimensions in native
// byte order; null otherwise.
const ArrayFields* float64_array(PyObject* object, int nd) {
    if (g_api == nullptr) return nullptr;
    auto* array_type = static_cast<PyTypeObject*>(g_api[kArrayType]);
    if (!PyObject_TypeCheck(object, array_type)) return nullptr;
    const auto* array = reinterpret_cast<const ArrayFields*>(object);
    const auto* descr = reinterpret_cast<const DescrFields*>(array->descr);
    if (array->nd != nd || descr->type_num != kNpyDouble || descr->byteorder == '>') return nullptr;
    return array;
}

}  // namespace

bool is_array(PyObject* object) {
    return g_api != nullptr &&
           PyObject_TypeCheck(object, static_cast<PyTypeObject*>(g_api[kArrayType]));
}

bool exact_array_layout(PyObject* object, ArrayLayout& out) {
    if (g_api == nullptr) return false;
    if (reinterpret_cast<PyObject*>(Py_TYPE(object)) != static_cast<PyObject*>(g_api[kArrayType]))
        return false;
    const auto* array = reinterpret_cast<const ArrayFields*>(object);
    const auto* descr = reinterpret_cast<const DescrFields*>(array->descr);
    out = {array->data,    array->nd,       array->dimensions,
           array->strides, descr->type_num, descr->byteorder != '>'};
    return true;
}

PyRef new_index_array(std::size_t n, std::intptr_t*& data) {
    auto* array_type = static_cast<PyTypeObject*>(g_api[kArrayType]);
    const npy_intp dims[1] = {static_cast<npy_intp>(n)};
    auto array_new = reinterpret_cast<ArrayNewFn>(g_api[kArrayNew]);
    PyRef array(array_new(array_type, 1, dims, kNpyIntp, nullptr, nullptr, 0, 0, nullptr));
    if (array)
        data = reinterpret_cast<std::intptr_t*>(reinterpret_cast<ArrayFields*>(array.get())->data);
    return array;
}

bool read_float64_matrix(PyObject* object, std::size_t& rows, std::size_t& cols,
                         std::vector<double>& out) {
    const ArrayFields* array = float64_array(object, 2);
    if (array == nullptr) return false;
    rows = static_cast<std::size_t>(array->dimensions[0]);
    cols = static_cast<std::size_t>(array->dimensions[1]);
    out.resize(rows * cols);
    double* target = out.data();
    for (std::size_t i = 0; i < rows; ++i) {
        const char* item = array->data + static_cast<npy_intp>(i) * array->strides[0];
        for (std::size_t j = 0; j < cols; ++j, item += array->strides[1])
            std::memcpy(target++, item, sizeof(double));
    }
    return true;
}

const double* float64_c_data(PyObject* object, int nd, std::size_t* shape) {
    const ArrayFields* array = float64_array(object, nd);
    if (array == nullptr || (array->flags & kCArrayFlags) != kCArrayFlags) return nullptr;
    for (int i = 0; i < nd; ++i) shape[i] = static_cast<std::size_t>(array->dimensions[i]);
    return reinterpret_cast<const double*>(array->data);
}

bool read_float64_vector(PyObject* object, std::vector<double>& out) {
    const ArrayFields* array = float64_array(object, 1);
    if (array == nullptr) return false;
    const npy_intp size = array->dimensions[0];
    const npy_intp stride = array->strides[0];
    out.resize(static_cast<std::size_t>(size));
    const char* item = array->data;
    for (npy_intp i = 0; i < size; ++i, item += stride)
        std::memcpy(&out[static_cast<std::size_t>(i)], item, sizeof(double));
    return true;
}

}  // namespace kestrelopt::native::numpy
