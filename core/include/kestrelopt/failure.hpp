// The one exception type of the core: a broken precondition ("stop") that ends the
// current call, never the process. The message is the exact text callers see.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrelopt {

class InternalFailure : public std::runtime_error {
  public:
    using std::runtime_error::runtime_error;
};

[[noreturn]] inline void fail(const std::string& message) {
    throw InternalFailure(message);
}

}  // namespace kestrelopt
