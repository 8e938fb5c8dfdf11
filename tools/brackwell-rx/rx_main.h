// The whole brackwell-rx run: options, checks, the receive loop, the output
// files and the closing line. Messages go to standard error, each one line
// starting "brackwell-rx: ".
#pragma once

#include <span>
#include <string_view>

namespace bw::rx {

// Runs the tool with the arguments after the program name and returns the
// exit status (tool_error.h: 0, 1, 2 or 130).
int rxMain(std::span<const std::string_view> args);

}  // namespace bw::rx
