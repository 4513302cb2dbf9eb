// RunWatch: what lets a run answer while it goes. It counts the work done and, every few
// milliseconds (the clock is read only once enough work has been counted), runs the
// interpreter's signal handlers, so that Ctrl-C ends a run at once; around native work it
// releases the interpreter lock, so that other threads run meanwhile.
#pragma once

#include <Python.h>

#include <chrono>
#include <cstddef>
#include <optional>
#include <utility>

#include "cpython/panic.hpp"
#include "cpython/pending_error.hpp"
#include "kestrelopt/interrupt.hpp"

namespace kestrelopt::native {

// Work units, about one per coordinate handled natively. A call into Python costs about as
// much as this many.
inline constexpr std::size_t kPythonCallWork = 1024;

class RunWatch final : public WorkObserver {
  public:
    // With the lock held. A signal handler's exception is parked in `pending`.
    explicit RunWatch(PendingError& pending);
    // Takes the lock back if it is released (also when an exception unwinds the run).
    ~RunWatch() { hold(); }
    RunWatch(const RunWatch&) = delete;
    RunWatch& operator=(const RunWatch&) = delete;

    // Until hold(), no Python object may be touched: native work only.
    void release() {
        if (saved_ == nullptr) saved_ = PyEval_SaveThread();
    }
    void hold() {
        if (saved_ != nullptr) PyEval_RestoreThread(std::exchange(saved_, nullptr));
    }
    bool released() const { return saved_ != nullptr; }

    // Counts `work`; now and then checks for signals, and throws StopRun (the handler's
    // exception parked) when a handler raised. Returns with the lock as it found it.
    void tick(std::size_t work) {
        if (work < budget_) {
            budget_ -= work;
            return;
        }
        poll();
    }
    void progress(std::size_t work) override { tick(work); }

    // Parks the Python error that is set and ends the run.
    [[noreturn]] void stop() {
        pending_.store_current();
        throw StopRun{};
    }

  private:
    void poll();

    PendingError& pending_;
    std::size_t budget_;
    std::chrono::steady_clock::time_point next_check_;
    PyThreadState* saved_ = nullptr;
    bool main_thread_;  // only the main thread runs signal handlers
};

// Holds the lock for a scope inside a run that released it (a callback of a native run).
class LockHeld {
  public:
    explicit LockHeld(RunWatch& watch) : watch_(watch), was_released_(watch.released()) {
        watch_.hold();
    }
    ~LockHeld() {
        if (was_released_) watch_.release();
    }
    LockHeld(const LockHeld&) = delete;
    LockHeld& operator=(const LockHeld&) = delete;

  private:
    RunWatch& watch_;
    bool was_released_;
};

// Runs `engine` (the engine's run), without the lock when `release`; returns its result, or
// nothing when StopRun escaped it (a stop before the first swarm had its values). The lock
// is held again on return.
template <class Engine>
auto run_watched(RunWatch& watch, bool release, Engine&& engine)
    -> std::optional<decltype(engine())> {
    std::optional<decltype(engine())> result;
    if (release) watch.release();
    try {
        result.emplace(engine());
    } catch (const StopRun&) {
    }
    watch.hold();
    return result;
}

// When an exception is parked, raises it (PythonError); a KeyboardInterrupt first gets the
// result so far, made by `to_python`, as its attribute `partial_result`.
template <class Result, class ToPython>
void raise_parked(PendingError& pending, std::optional<Result>& result, ToPython&& to_python) {
    if (!pending.full()) return;
    if (result && pending.is_keyboard_interrupt()) {
        try {
            pending.attach("partial_result", to_python(std::move(*result)).get());
        } catch (const PythonError&) {
            PyErr_Clear();  // the interrupt matters more than what it would carry
        }
    }
    pending.restore();
    throw PythonError{};
}

}  // namespace kestrelopt::native
