// sdrSetGlobal, sdrStart and sdrStop from several threads at once on the
// simulated devices, while others send parameter blocks and read the
// spectrum and the reading. Meant for the sanitizer builds: a buffer renewed
// under a running capture shows up as a use after free or a race. Each call
// must answer one of its documented statuses.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>
#include <vector>

#include "brackwell/brackwell.h"
#include "core/lifecycle.h"
#include "dsp/receive_params.h"
#include "support/engine_fixture.h"

namespace bw {
namespace {

TEST(ControlHammer, ConfigureStartAndStopRaceWithoutHarm) {
  engineAttach();
  const test::SimulatedDevices devices = test::findSimulatedDevices();
  const int in = devices.in, out = devices.out;
  ASSERT_GT(in, 1);
  ASSERT_GT(out, 1);
  ASSERT_EQ(sdrSetGlobal(in, out, 4, 8, 48000, 16), SDR_OK);
  std::uint8_t block[SDR_PARAM_BLOCK_BYTES];
  encodeParams(consoleParams(), block);

  std::atomic<bool> done{false};
  std::atomic<long> wrong{0}, configured{0}, started{0}, stopped{0};
  auto expectOneOf = [&](int status, std::initializer_list<int> allowed) {
    for (int a : allowed) {
      if (status == a) return status;
    }
    wrong.fetch_add(1);
    return status;
  };
  std::vector<std::thread> threads;
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&, t] {
      constexpr int kOrders[] = {8, 11, 16, 9};
      for (int k = t; !done.load(); ++k) {
        const int status = sdrSetGlobal(in, out, 2 + k % 7, kOrders[k % 4], 48000, 16);
        if (expectOneOf(status, {SDR_OK, SDR_RUNNING}) == SDR_OK) ++configured;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
  }
  for (int t = 0; t < 3; ++t) {
    threads.emplace_back([&] {
      while (!done.load()) {
        if (expectOneOf(sdrStart(&test::countBlock), {SDR_OK, SDR_RUNNING}) == SDR_OK) ++started;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
        if (expectOneOf(sdrStop(), {SDR_OK, SDR_NOT_RUNNING}) == SDR_OK) ++stopped;
      }
    });
  }
  threads.emplace_back([&] {
    std::vector<double> spectrum(std::size_t{2} << 16);
    while (!done.load()) {
      expectOneOf(sdrSetNewParam(block), {SDR_OK});
      expectOneOf(sdrGetSpectrum(spectrum.data()), {SDR_OK, SDR_NOT_RUNNING});
      sdrGetSmetr();
    }
  });
  std::this_thread::sleep_for(std::chrono::seconds(3));
  done = true;
  for (std::thread& t : threads) t.join();
  sdrStop();
  engineDetach();

  EXPECT_EQ(wrong.load(), 0);
  EXPECT_GT(configured.load(), 0);
  EXPECT_GT(started.load(), 0);
  EXPECT_GT(stopped.load(), 0);
}

}  // namespace
}  // namespace bw
