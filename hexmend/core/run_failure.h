// Run-time failures: the faults the run does not check for (a file that
// exists but cannot be opened, a target that cannot be written, a failed
// console write, a zlib error). One is thrown where it happens and caught by
// the front-end's entry only, which prints its description after the
// program's name on standard error and ends with exit code 1. An
// interruption (a request to end the program, see InterruptionCatcher)
// unwinds the run the same way, as a RunInterrupted, which the entry ends by
// that request instead.
#pragma once

#include <stdexcept>
#include <string>

namespace hexmend {

class RunTimeFailure : public std::runtime_error {
  public:
    // description names what failed without the program's name ("cannot
    // read x: ..."); the entry puts its program's name before it.
    explicit RunTimeFailure(const std::string& description) : std::runtime_error(description) {}
};

class RunInterrupted : public RunTimeFailure {
  public:
    explicit RunInterrupted(const std::string& description) : RunTimeFailure(description) {}
};

}  // namespace hexmend
