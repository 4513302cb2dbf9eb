// benchmark_info and grey_benchmark_info: the metadata tables of the native benchmarks;
// presets: the option sets that preset= names.
#include "kestrelopt/benchmarks/functions.hpp"
#include "kestrelopt/benchmarks/grey.hpp"

#include "convert/binder.hpp"
#include "convert/presets.hpp"
#include "cpython/panic.hpp"
#include "docs/presets_doc.hpp"
#include "entry/entry_points.hpp"

namespace kestrelopt::native {

namespace {

constexpr Param kNameParam[] = {required("name", Kind::Text)};
constexpr Signature kBenchmarkInfo{"benchmark_info()", kNameParam};
constexpr Signature kGreyBenchmarkInfo{"grey_benchmark_info()", kNameParam};

PyObject* benchmark_info(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            const Arguments arguments(kBenchmarkInfo, args, kwargs);
            const std::string& name = arguments.text(0);
            const auto meta = benchmarks::meta(name);
            if (!meta) raise(PyExc_KeyError, "unknown native benchmark: '" + name + "'");
            return check(Py_BuildValue("(dd)", meta->bound, meta->optimum_value)).release();
        },
        static_cast<PyObject*>(nullptr));
}

PyObject* grey_benchmark_info(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            const Arguments arguments(kGreyBenchmarkInfo, args, kwargs);
            const std::string& name = arguments.text(0);
            const auto meta = benchmarks::grey_meta(name);
            if (!meta) raise(PyExc_KeyError, "unknown native grey benchmark: '" + name + "'");
            return check(Py_BuildValue("(ddd)", meta->center_bound, meta->max_spread,
                                       meta->optimum_value))
                .release();
        },
        static_cast<PyObject*>(nullptr));
}

constexpr Param kPresetsParams[] = {optional("dim", Kind::Count)};
constexpr Signature kPresets{"presets()", kPresetsParams};

PyObject* presets(PyObject*, PyObject* args, PyObject* kwargs) {
    return guarded(
        [&] {
            const Arguments arguments(kPresets, args, kwargs);
            const std::optional<std::uint64_t> dim = arguments.optional_count(0);
            if (dim && *dim == 0) raise(PyExc_ValueError, "dim must be >= 1 (or None), got 0");
            PyRef table = check(PyDict_New());
            for (const Preset& preset : all_presets()) {
                PyRef settings = preset_settings(preset, dim ? *dim : 0);
                if (PyDict_SetItemString(table.get(), preset.name, settings.get()) < 0)
                    throw PythonError{};
            }
            return table.release();
        },
        static_cast<PyObject*>(nullptr));
}

}  // namespace

PyMethodDef presets_method = {"presets", as_method(presets), METH_VARARGS | METH_KEYWORDS,
                              kPresetsDoc};

PyMethodDef benchmark_info_method = {
    "benchmark_info", as_method(benchmark_info), METH_VARARGS | METH_KEYWORDS,
    "benchmark_info(name)\n"
    "--\n"
    "\n"
    "Metadata of a native benchmark: `(bound, optimum_value)`. `bound` is the\n"
    "recommended symmetric bound per dimension. Useful for auto-adjusting plot\n"
    "domains or building `bounds` without hardcoding them by hand."};

PyMethodDef grey_benchmark_info_method = {
    "grey_benchmark_info", as_method(grey_benchmark_info), METH_VARARGS | METH_KEYWORDS,
    "grey_benchmark_info(name)\n"
    "--\n"
    "\n"
    "Metadata of a native grey benchmark: ``(center_bound, max_spread,\n"
    "optimum_value)``. ``center_bound`` is the recommended symmetric bound for\n"
    "each grey variable's center; ``max_spread`` the recommended maximum spread.\n"
    "Useful for building ``bounds``/``max_spread`` without hardcoding them."};

}  // namespace kestrelopt::native
