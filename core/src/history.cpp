#include "kestrelopt/history.hpp"

namespace kestrelopt {

std::string_view stop_reason_text(StopReason reason) {
    switch (reason) {
        case StopReason::MaxIterations:
            return "max_iterations";
        case StopReason::Target:
            return "target";
        case StopReason::MaxEvaluations:
            return "max_evaluations";
        case StopReason::Stagnation:
            return "stagnation";
        case StopReason::MaxTime:
            return "max_time";
        case StopReason::Callback:
            return "callback";
        case StopReason::Interrupted:
            return "interrupted";
    }
    return "max_iterations";
}

}  // namespace kestrelopt
