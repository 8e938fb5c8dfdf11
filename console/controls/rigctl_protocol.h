// Hamlib's NET rigctl protocol (what rigctld speaks on TCP port 4532, and
// what the "NET rigctl" rig model of digital-mode programs sends), answered
// for the console's receiver. Text lines in, text out: no sockets here, so
// every answer can be checked without a network.
//
// Commands understood, by short and long name: f/F (get_freq/set_freq,
// absolute Hz = LO + tuning offset: the carrier's in every mode), m/M
// (get_mode/set_mode: USB LSB CW CWR AM AMS SAH SAL FM and the passband
// width in Hz, which each mode takes within its limits), v/V
// (get_vfo/set_vfo: every VFO name selects the one tuning, reported as
// "VFOA"), t/T (get_ptt/set_ptt: always receiving), s/S (get_split_vfo/set_split_vfo: never split),
// \get_powerstat (always on), \get_lock_mode (never locked), \chk_vfo,
// \dump_state and q/Q. A line starting with '+' is answered in the extended
// form (command echo, "Key: value" records, "RPRT n"); another punctuation
// character does the same with that character between the records.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "controls/receiver_settings.h"

namespace lanternfly {

// The receiver as rig control sees it. settings() is read for every answer;
// apply() takes settings that differ from settings() only in the tuning
// offset, the mode or the passband, all already checked.
class RigControlTarget {
 public:
  virtual ~RigControlTarget() = default;
  virtual ReceiverSettings settings() const = 0;
  virtual void apply(const ReceiverSettings& settings) = 0;
};

// Hamlib's error numbers, sent negated as "RPRT -n".
inline constexpr int kRigInvalidArgument = 1;  // RIG_EINVAL
inline constexpr int kRigNotImplemented = 4;   // RIG_ENIMPL: unknown command
inline constexpr int kRigNotAvailable = 11;    // RIG_ENAVAIL: transmitting, split

// Passband width (Hz) a "set_mode" width of 0 (the rig's default) selects;
// the console's first-start passband, 300..2700 Hz.
inline constexpr int kRigDefaultLowCutHz = 300;
inline constexpr int kRigDefaultHighCutHz = 2700;

// The answer to one command line, without its line end. Empty lines get no
// answer. `quit` is set when the line asked to end the connection (the
// answer is still to be sent).
std::string answerRigctlLine(std::string_view line, RigControlTarget& rig, bool& quit);

// One client's byte stream: splits it into lines ('\n', an optional '\r'
// before it dropped) and answers each; what follows the last line end waits
// for its own. A line longer than kMaxLineBytes is dropped as it arrives
// and answered with one "RPRT -1" at its end, so memory stays bounded
// whatever the client sends.
class RigctlConversation {
 public:
  static constexpr std::size_t kMaxLineBytes = 256;

  explicit RigctlConversation(RigControlTarget& rig) : rig_(rig) {}

  // Takes received bytes; returns the answers to the lines they complete.
  // Nothing after a quit command is read.
  std::string receive(std::string_view bytes);
  // True once the client asked to end the connection.
  bool finished() const { return finished_; }
  // Lines answered (empty ones get no answer), and over-long lines
  // dropped, so far.
  std::uint64_t linesAnswered() const { return linesAnswered_; }
  std::uint64_t linesDropped() const { return linesDropped_; }

 private:
  RigControlTarget& rig_;
  std::string line_;
  bool overlong_ = false;
  bool finished_ = false;
  std::uint64_t linesAnswered_ = 0;
  std::uint64_t linesDropped_ = 0;
};

}  // namespace lanternfly
