#pragma once
// Keeps the sound of each event: the programme from the event's detection time plus kBefore
// ahead of it (so the clip holds the moment the fault began, not only the moment it was
// noticed) to kAfter after it, as one Ogg Opus file under the clips folder (ClipNames),
// written once the time after has passed. Until an event comes the audio lives only in a
// bounded ring in memory; a clip holds only audio that was received. A clip is encoded and
// written on a thread of its own, to a temporary file renamed into place, so a reader never
// sees half a clip and the bus handler never waits for the disk. After each clip the folder is
// pruned to its bounds. A clip that cannot be written (a full disk) is reported once until one
// is written again; the monitor goes on.
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "ClipFolder.h"
#include "ProgrammeRing.h"
#include "events/StationEvents.h"
#include "system/WorkerThread.h"

namespace calvora::ctl {

struct ClipFigures {
  uint64_t written = 0;    // clips written since the start
  uint64_t failed = 0;     // clips that could not be written
  uint64_t bytesKept = 0;  // the clips' bytes in the folder after the last pruning
  bool stopped = false;    // the last clip could not be written
  std::string why;         // what stopped them
};

// How long after a fault began its event comes, by EventKind.
using DetectionTimes = std::array<std::chrono::milliseconds, kEventKindCount>;

class ClipKeeper {
 public:
  using Clock = ProgrammeRing::Clock;
  static constexpr std::chrono::seconds kBefore{10};
  static constexpr std::chrono::seconds kAfter{10};
  // The most of a detection time a clip reaches back for: the ring holds that much more audio
  // in memory (about 190 kB a second of 48 kHz stereo), so a check set to hold for an hour
  // keeps the last two minutes before its event rather than an hour.
  static constexpr std::chrono::seconds kLongestDetection{120};
  // No clip this program writes comes near this size (140 s at Opus's highest bitrate is 9 MB):
  // a larger file in the folder is none of its clips and is not served.
  static constexpr uint64_t kLargestClipBytes = 16ull * 1024 * 1024;
  // A message for the station's operator, from the clip thread: clips stopped, or resumed.
  using Report = std::function<void(const std::string& line)>;

  ClipKeeper(ClipFolder folder, int bitrate, Report report, const DetectionTimes& detection = {});
  // Writes every clip still due with the audio there is (as WriteDueNow), waiting a bounded
  // time for the disk.
  ~ClipKeeper();

  // A block of the programme as received (interleaved 16-bit samples), from the bus handler.
  void OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
               Clock::time_point at = Clock::now());
  // An event at `at`: its clip's name under the folder, written kAfter later; empty when no
  // clip will be written (no programme received in the clip's time), so no line names one.
  std::string OnEvent(const StationEvent& event, Clock::time_point at = Clock::now());
  // Writes every clip due now, with the audio received so far, and returns once they are
  // written (or after a bounded wait): for the end of the programme, when the utility leaves or
  // the monitor ends, so that every clip named is a clip written.
  void WriteDueNow();

  ClipFigures Figures() const;
  const ClipFolder& Folder() const { return folder_; }

 private:
  struct Pending {
    Clock::time_point from;
    Clock::time_point to;
    std::string name;
  };
  struct State : WorkerState {
    explicit State(std::chrono::milliseconds ringLength) : ring(ringLength) {}
    ProgrammeRing ring;
    std::vector<Pending> pending;
    ClipFigures figures;
    uint64_t writeNowAsked = 0;  // rounds of WriteDueNow asked for, and done
    uint64_t writeNowDone = 0;
    std::condition_variable writtenNow;
  };
  static void Work(State& state, const ClipFolder& folder, int bitrate, const Report& report);
  // Writes the clip, or tells why it could not be.
  static void Keep(State& state, std::unique_lock<std::mutex>& lock, const Pending& clip,
                   const ClipFolder& folder, int bitrate, const Report& report);
  // Encodes and writes one clip; an error's text, or empty.
  static std::string WriteClip(const ClipFolder& folder, const std::string& name, int bitrate,
                               int rate, int channels, const std::vector<int16_t>& samples);

  const ClipFolder folder_;
  DetectionTimes detection_;
  WorkerThread<State> worker_;
};

}  // namespace calvora::ctl
