#include "convert/presets.hpp"

#include <array>
#include <cmath>
#include <iterator>
#include <string_view>

#include "cpython/panic.hpp"

namespace kestrelopt::native {

namespace {

using Type = PresetValue::Type;

constexpr PresetValue count_value(const char* option, std::uint64_t value) {
    return {option, Type::Count, value};
}
constexpr PresetValue float_value(const char* option, double value) {
    return {option, Type::Float, 0, value};
}
constexpr PresetValue text_value(const char* option, const char* value) {
    return {option, Type::Text, 0, 0.0, value};
}
constexpr PresetValue swarm_size_value() {
    return {"n_particles", Type::SwarmSize};
}

// The values and the reasons for them are in docs/guide/velocity-and-topology.md, from the
// runs of bench/bbob/tune.py on instances 1-5 of the bbob functions.
// exploit is the first kSwarmValues of robust: the same swarm without its restarts.
constexpr std::size_t kSwarmValues = 3;
constexpr PresetValue kRobust[] = {
    text_value("velocity", "spso2011_uniform_radius"),
    text_value("topology", "adaptive_random"),
    swarm_size_value(),
    count_value("restarts", 1000),
    float_value("restart_growth", 2.0),
    float_value("min_diameter", 1e-9),
    count_value("patience", 100),
    float_value("tol", 1e-10),
};

// The values of a preset and one more.
template <std::size_t N>
constexpr std::array<PresetValue, N + 1> and_value(const PresetValue (&values)[N],
                                                   PresetValue extra) {
    std::array<PresetValue, N + 1> out{};
    for (std::size_t i = 0; i < N; ++i) out[i] = values[i];
    out[N] = extra;
    return out;
}

// robust, with a share of the moves recombining a particle's best with its leader's.
constexpr auto kRobustCrossover = and_value(kRobust, float_value("crossover", 0.4));

constexpr PresetValue kSeparable[] = {
    text_value("velocity", "fips"),     text_value("topology", "von_neumann"),
    count_value("n_particles", 30),     count_value("restarts", 1000),
    float_value("restart_growth", 2.0), float_value("min_diameter", 1e-9),
};

constexpr Preset kPresets[] = {
    {"recommended", "robust", kRobust},
    {"robust", nullptr, kRobust},
    {"robust_crossover", nullptr, kRobustCrossover},
    {"exploit", nullptr, std::span<const PresetValue>(kRobust, kSwarmValues)},
    {"separable", nullptr, kSeparable},
};

constexpr const char* kSwarmSizeFormula = "10 + floor(2 * sqrt(dim))";

PyRef value_object(const PresetValue& value, std::size_t dims) {
    switch (value.type) {
        case Type::Count:
            return check(PyLong_FromUnsignedLongLong(value.count));
        case Type::Float:
            return check(PyFloat_FromDouble(value.real));
        case Type::Text:
            return check(PyUnicode_FromString(value.text));
        case Type::SwarmSize:
            if (dims == 0) return check(PyUnicode_FromString(kSwarmSizeFormula));
            return check(PyLong_FromUnsignedLongLong(swarm_size_2011(dims)));
    }
    return check(nullptr);
}

}  // namespace

std::span<const Preset> all_presets() {
    return kPresets;
}

const Preset& find_preset(const std::string& name) {
    for (const Preset& preset : kPresets)
        if (name == preset.name) return preset;
    std::string names;
    for (std::size_t i = 0; i < std::size(kPresets); ++i)
        names += (i == 0 ? "'" : ", '") + std::string(kPresets[i].name) + "'";
    raise(PyExc_ValueError, "preset must be one of " + names + " (or None), got '" + name + "'");
}

std::uint64_t swarm_size_2011(std::size_t dims) {
    return 10 + static_cast<std::uint64_t>(std::floor(2.0 * std::sqrt(static_cast<double>(dims))));
}

void apply_preset(Arguments& a, std::size_t preset, std::size_t dims, bool restarts) {
    if (!a.present(preset)) return;
    for (const PresetValue& value : find_preset(a.text(preset)).values) {
        const std::string_view option = value.option;
        if (!restarts && (option == "restarts" || option == "restart_growth")) continue;
        switch (value.type) {
            case Type::Count:
                a.supply(value.option, value.count);
                break;
            case Type::Float:
                a.supply(value.option, value.real);
                break;
            case Type::Text:
                a.supply(value.option, std::string(value.text));
                break;
            case Type::SwarmSize:
                a.supply(value.option, swarm_size_2011(dims));
                break;
        }
    }
}

PyRef preset_settings(const Preset& preset, std::size_t dims) {
    PyRef settings = check(PyDict_New());
    for (const PresetValue& value : preset.values) {
        PyRef object = value_object(value, dims);
        if (PyDict_SetItemString(settings.get(), value.option, object.get()) < 0)
            throw PythonError{};
    }
    return settings;
}

}  // namespace kestrelopt::native
