// brackwell-rx: receives from I/Q recordings with the engine's own chain.
#include <string_view>
#include <vector>

#include "rx_main.h"

int main(int argc, char** argv) {
  std::vector<std::string_view> args;
  for (int i = 1; i < argc; ++i) args.emplace_back(argv[i]);
  return bw::rx::rxMain(args);
}
