// How a run is ended or watched from outside without the core knowing by whom: an objective,
// a callback or a WorkObserver throws StopRun, and the engines return what they have found.
#pragma once

#include <cstddef>

namespace kestrelopt {

// Thrown by an objective, a per-iteration callback or a WorkObserver to end a run at once.
// Once every particle of the first swarm holds a value, an engine catches it and returns
// its result so far with StopReason::Interrupted; before that there is nothing to return and
// it propagates to the engine's caller.
struct StopRun {};

// Called by long computations that have no objective to call (the hypervolume) with the
// work done since the last call, so that their caller can look at the clock, let other
// threads run or stop the computation by throwing.
class WorkObserver {
  public:
    virtual void progress(std::size_t work) = 0;

  protected:
    ~WorkObserver() = default;
};

}  // namespace kestrelopt
