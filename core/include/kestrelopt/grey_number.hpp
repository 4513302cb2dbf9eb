// Grey: one grey number, the interval [center - spread, center + spread].
#pragma once

namespace kestrelopt {

struct Grey {
    double center = 0.0;
    double spread = 0.0;  // half-width, never negative

    friend bool operator==(const Grey&, const Grey&) = default;
};

}  // namespace kestrelopt
