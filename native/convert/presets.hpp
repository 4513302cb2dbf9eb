// Presets: named sets of option values for the single-objective swarm entry points
// (minimize, Swarm, AsyncSwarm), chosen from measurements on COCO's bbob suite
// (bench/bbob/tune.py). A preset fills in the options the caller did not pass; what the
// caller passes wins.
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "convert/binder.hpp"
#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

// One option of a preset.
struct PresetValue {
    enum class Type : std::uint8_t {
        Count,
        Float,
        Text,
        SwarmSize,  // n_particles = 10 + floor(2 sqrt(D)), the 2011 standard's size
    };
    const char* option;
    Type type;
    std::uint64_t count = 0;
    double real = 0.0;
    const char* text = nullptr;
};

struct Preset {
    const char* name;
    const char* alias_of;  // the preset this name stands for, or nullptr
    std::span<const PresetValue> values;
};

// Every preset and alias, in the order presets() lists them.
std::span<const Preset> all_presets();

// The preset called `name` (an alias resolved); ValueError listing the names otherwise.
const Preset& find_preset(const std::string& name);

// The 2011 standard's swarm size for `dims` dimensions.
std::uint64_t swarm_size_2011(std::size_t dims);

// Fills every option of the preset named by argument `preset` (if present) that the
// caller did not pass, as if passed; `dims` sizes a swarm that depends on the dimension.
// Without `restarts` (a search that cannot restart), the preset's restarts and
// restart_growth are left out: its min_diameter then ends the run where it would restart.
void apply_preset(Arguments& a, std::size_t preset, std::size_t dims, bool restarts);

// {option: value} of one preset; a swarm size that depends on the dimension is the size
// for `dims` dimensions, or its formula as a str when `dims` is 0.
PyRef preset_settings(const Preset& preset, std::size_t dims);

}  // namespace kestrelopt::native
