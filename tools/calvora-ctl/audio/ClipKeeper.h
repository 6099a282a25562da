#pragma once
// Keeps the sound of each event: the programme from kAround before the event to kAround after
// it, as one Ogg Opus file under the clips folder (ClipNames), written once the time after has
// passed. Until an event comes the audio lives only in a bounded ring in memory; a clip is
// encoded and written on a thread of its own, to a temporary file renamed into place, so a
// reader never sees half a clip and the bus handler never waits for the disk. After each clip
// the folder is pruned to its bounds. A clip that cannot be written (a full disk) is reported
// once until one is written again; the monitor goes on.
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "ClipFolder.h"
#include "ProgrammeRing.h"
#include "actions/WorkerThread.h"
#include "events/StationEvents.h"

namespace calvora::ctl {

struct ClipFigures {
  uint64_t written = 0;    // clips written since the start
  uint64_t failed = 0;     // clips that could not be written
  uint64_t bytesKept = 0;  // the clips' bytes in the folder after the last pruning
  bool stopped = false;    // the last clip could not be written
  std::string why;         // what stopped them
};

class ClipKeeper {
 public:
  using Clock = ProgrammeRing::Clock;
  static constexpr std::chrono::seconds kAround{10};
  // A message for the station's operator, from the clip thread: clips stopped, or resumed.
  using Report = std::function<void(const std::string& line)>;

  ClipKeeper(ClipFolder folder, int bitrate, Report report);
  ~ClipKeeper();  // writes no more; a clip being written is finished within a short time

  // A block of the programme as received (interleaved 16-bit samples), from the bus handler.
  void OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
               Clock::time_point at = Clock::now());
  // An event at `at`: its clip's name under the folder, written kAround later.
  std::string OnEvent(const StationEvent& event, Clock::time_point at = Clock::now());

  ClipFigures Figures() const;
  const ClipFolder& Folder() const { return folder_; }

 private:
  struct Pending {
    Clock::time_point at;
    std::string name;
  };
  struct State : WorkerState {
    explicit State(std::chrono::milliseconds ringLength) : ring(ringLength) {}
    ProgrammeRing ring;
    std::vector<Pending> pending;
    ClipFigures figures;
  };
  static void Work(State& state, const ClipFolder& folder, int bitrate, const Report& report);
  // Encodes and writes one clip; an error's text, or empty.
  static std::string WriteClip(const ClipFolder& folder, const std::string& name, int bitrate,
                               int rate, int channels, const std::vector<int16_t>& samples,
                               uint64_t& bytes);

  const ClipFolder folder_;
  WorkerThread<State> worker_;
};

}  // namespace calvora::ctl
