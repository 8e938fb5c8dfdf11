#include "audio/realtime_priority.h"

#include <algorithm>

#include <sched.h>
#include <sys/resource.h>

namespace bw::audio {

namespace {

bool trySchedFifo(int priority) noexcept {
  sched_param param{};
  param.sched_priority = priority;
  // On Linux, pid 0 names the calling thread, not the whole process.
  return sched_setscheduler(0, SCHED_FIFO | SCHED_RESET_ON_FORK, &param) == 0;
}

}  // namespace

bool raiseCallingThreadToRealTime(int priority) noexcept {
  if (priority < 1) return false;
  if (trySchedFifo(priority)) return true;
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) != 0 || limit.rlim_cur == 0) return false;
  const int allowed = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 99));
  return allowed < priority && trySchedFifo(allowed);
}

}  // namespace bw::audio
