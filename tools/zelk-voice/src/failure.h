// How the tool reports a failure: one line of text and the exit status.
#pragma once

#include <stdexcept>
#include <string>

namespace zv {

inline constexpr int EXIT_FILE_FAILURE = 1;  // an input could not be processed or written
inline constexpr int EXIT_USAGE = 2;         // the command line itself is wrong

// Thrown with a complete one-line message, normally "FILE: what went wrong".
class Failure : public std::runtime_error {
 public:
  explicit Failure(const std::string& message, int exitStatus = EXIT_FILE_FAILURE)
      : std::runtime_error(message), exitStatus_(exitStatus) {}
  int ExitStatus() const { return exitStatus_; }

 private:
  int exitStatus_;
};

inline Failure UsageFailure(const std::string& message) { return Failure(message, EXIT_USAGE); }

}  // namespace zv
