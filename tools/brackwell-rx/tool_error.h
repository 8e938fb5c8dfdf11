// The one exception of brackwell-rx: a message line for the user and the
// exit status it calls for. Thrown only outside the block loop's hot path
// (opening, reading and writing files) and caught in rx_main.
#pragma once

#include <stdexcept>
#include <string>

namespace bw::rx {

constexpr int kExitOk = 0;
constexpr int kExitFailure = 1;     // something failed while running
constexpr int kExitBadInput = 2;    // bad file, format or option
constexpr int kExitInterrupted = 130;

class ToolError : public std::runtime_error {
 public:
  ToolError(int exitCode, const std::string& message)
      : std::runtime_error(message), exitCode_(exitCode) {}
  int exitCode() const { return exitCode_; }

 private:
  int exitCode_;
};

}  // namespace bw::rx
