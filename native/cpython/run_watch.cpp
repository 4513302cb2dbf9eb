#include "cpython/run_watch.hpp"

#include "cpython/py_ref.hpp"

namespace kestrelopt::native {

namespace {

// Enough work between two readings of the clock that reading it costs nothing measurable
// (tens of microseconds of native work), little enough that a check is never late.
constexpr std::size_t kWorkPerClockRead = std::size_t{1} << 15;

// Signals are checked this often: well inside the 0.1 s a user waits for Ctrl-C, and rare
// enough that taking the lock back costs nothing measurable.
constexpr std::chrono::milliseconds kCheckInterval{10};

// The identifier of the interpreter's main thread, the one that runs signal handlers; 0
// (every thread checks) if it cannot be read. Read from the threading module at the first
// run and kept. A plain global, not a guarded static: the reading runs Python code, during
// which another thread may take the lock and start a run (the lock orders the writes).
unsigned long g_main_ident = 0;
bool g_main_known = false;

unsigned long main_thread_ident() {
    if (g_main_known) return g_main_ident;
    unsigned long found = 0;
    PyRef threading(PyImport_ImportModule("threading"));
    PyRef main(threading ? PyObject_CallMethod(threading.get(), "main_thread", nullptr) : nullptr);
    PyRef value(main ? PyObject_GetAttrString(main.get(), "ident") : nullptr);
    if (value) found = PyLong_AsUnsignedLong(value.get());
    if (PyErr_Occurred()) {
        PyErr_Clear();
        found = 0;
    }
    g_main_ident = found;
    g_main_known = true;
    return found;
}

}  // namespace

RunWatch::RunWatch(PendingError& pending)
    : pending_(pending),
      budget_(kWorkPerClockRead),
      next_check_(std::chrono::steady_clock::now() + kCheckInterval) {
    const unsigned long main = main_thread_ident();
    main_thread_ = main == 0 || main == PyThread_get_thread_ident();
}

void RunWatch::poll() {
    budget_ = kWorkPerClockRead;
    if (!main_thread_) return;
    const auto now = std::chrono::steady_clock::now();
    if (now < next_check_) return;
    next_check_ = now + kCheckInterval;
    const bool was_released = released();
    hold();
    const bool raised = PyErr_CheckSignals() != 0;
    if (raised) pending_.store_current();
    if (was_released) release();
    if (raised) throw StopRun{};
}

}  // namespace kestrelopt::native
