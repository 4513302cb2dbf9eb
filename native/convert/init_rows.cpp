#include "convert/init_rows.hpp"

#include <string>

#include "convert/binder.hpp"
#include "convert/sequence.hpp"
#include "cpython/panic.hpp"
#include "kestrelopt/format.hpp"

namespace kestrelopt::native {

namespace {

std::string row_name(std::size_t r) {
    return "init row " + std::to_string(r);
}

std::string range_text(double low, double high) {
    // Appended piece by piece: GCC 12 warns falsely on a chain of + that starts with "[".
    std::string text(1, '[');
    text.append(format_float(low)).append(", ").append(format_float(high)).push_back(']');
    return text;
}

void check_row_count(std::size_t rows, std::size_t n_particles) {
    if (rows > n_particles)
        raise(PyExc_ValueError, "init has " + std::to_string(rows) + " rows, but the swarm has " +
                                    std::to_string(n_particles) + " particles");
}

// Each item of `init` as a list of floats; a clear TypeError for anything else.
std::vector<std::vector<double>> read_rows(PyObject* init) {
    std::vector<std::vector<double>> rows;
    if (!to_double_lists(init, rows)) {
        PyErr_Clear();
        raise(PyExc_TypeError,
              "init must be a sequence of positions, each a sequence of floats (one position "
              "is [position]), got " +
                  type_name(init));
    }
    return rows;
}

}  // namespace

std::vector<std::vector<double>> init_rows(PyObject* init, const std::vector<Bound>& spans,
                                           std::size_t n_particles) {
    if (init == nullptr || init == Py_None) return {};
    std::vector<std::vector<double>> rows = read_rows(init);
    check_row_count(rows.size(), n_particles);
    for (std::size_t r = 0; r < rows.size(); ++r) {
        const std::vector<double>& row = rows[r];
        if (row.size() != spans.size())
            raise(PyExc_ValueError, row_name(r) + " has " + std::to_string(row.size()) +
                                        " values, but the bounds have " +
                                        std::to_string(spans.size()) + " dimensions");
        for (std::size_t d = 0; d < row.size(); ++d) {
            const auto [low, high] = spans[d];
            if (!(row[d] >= low && row[d] <= high))
                raise(PyExc_ValueError, row_name(r) + " is outside the bounds: its value " +
                                            format_float(row[d]) + " in dimension " +
                                            std::to_string(d) + " is not in " +
                                            range_text(low, high));
        }
    }
    return rows;
}

std::vector<std::vector<double>> grey_init_rows(PyObject* init, const GreySpace& space,
                                                std::size_t n_particles) {
    if (init == nullptr || init == Py_None) return {};
    std::vector<std::vector<double>> rows;
    const bool read = for_each_item(init, [&](PyObject* row) {
        std::vector<std::vector<double>> intervals;
        if (!to_double_lists(row, intervals)) return false;
        std::vector<double> flat;
        for (const std::vector<double>& interval : intervals) {
            if (interval.size() != 2) {
                PyErr_SetString(PyExc_TypeError, "an interval is not a (lower, upper) pair");
                return false;
            }
            flat.insert(flat.end(), interval.begin(), interval.end());
        }
        rows.push_back(std::move(flat));
        return true;
    });
    if (!read) {
        PyErr_Clear();
        raise(PyExc_TypeError,
              "init must be a sequence of grey vectors, each a sequence of (lower, upper) "
              "intervals, got " +
                  type_name(init));
    }
    check_row_count(rows.size(), n_particles);
    const std::size_t variables = space.variables();
    for (std::size_t r = 0; r < rows.size(); ++r) {
        std::vector<double>& row = rows[r];
        if (row.size() != 2 * variables)
            raise(PyExc_ValueError, row_name(r) + " has " + std::to_string(row.size() / 2) +
                                        " intervals, but there are " + std::to_string(variables) +
                                        " grey variables");
        for (std::size_t i = 0; i < variables; ++i) {
            const double lower = row[2 * i];
            const double upper = row[2 * i + 1];
            const auto [low, high] = space.bounds()[i];
            const std::string which = row_name(r) + ": the interval (" + format_float(lower) +
                                      ", " + format_float(upper) + ") of variable " +
                                      std::to_string(i);
            if (!(lower <= upper)) raise(PyExc_ValueError, which + " has lower > upper");
            if (!(lower >= low && upper <= high))
                raise(PyExc_ValueError, which + " is outside the limits " + range_text(low, high));
            const double spread = (upper - lower) * 0.5;
            if (!(spread <= space.max_spread()[i]))
                raise(PyExc_ValueError, which + " has a spread above max_spread (" +
                                            format_float(space.max_spread()[i]) + ")");
            row[2 * i] = (lower + upper) * 0.5;
            row[2 * i + 1] = spread;
        }
        // Rounding of the center may leave the spread a hair beyond its limit.
        space.clamp(row);
    }
    return rows;
}

}  // namespace kestrelopt::native
