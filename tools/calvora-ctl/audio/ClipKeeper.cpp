#include "ClipKeeper.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ClipNames.h"
#include "OggOpusEncoder.h"
#include "system/ClipFiles.h"
#include "system/NewFile.h"

namespace calvora::ctl {

namespace fs = std::filesystem;

namespace {

// The ring holds a clip's whole time and the time the clip thread may take to come round.
constexpr std::chrono::seconds kRingSlack{5};
// How often the clip thread looks for clips whose time after has passed.
constexpr std::chrono::milliseconds kCheckEvery{100};
// A clip is written as a file, not listened to: its pages may wait a second.
constexpr int kFilePageDelayMs = 1000;
// How long the end of the monitor waits for the clips due to be written: a few clips of two
// minutes take about a second to encode; a disk that hangs longer does not keep it alive.
constexpr std::chrono::seconds kWriteDueWithin{5};

DetectionTimes Bounded(DetectionTimes detection) {
  for (auto& time : detection)
    time = std::clamp<std::chrono::milliseconds>(time, {}, ClipKeeper::kLongestDetection);
  return detection;
}

std::chrono::milliseconds RingLength(const DetectionTimes& detection) {
  return *std::max_element(detection.begin(), detection.end()) + ClipKeeper::kBefore +
         ClipKeeper::kAfter + kRingSlack;
}

}  // namespace

ClipKeeper::ClipKeeper(ClipFolder folder, int bitrate, Report report,
                       const DetectionTimes& detection)
    : folder_(std::move(folder)),
      detection_(Bounded(detection)),
      worker_(
          kWriteDueWithin,
          [folder = folder_, bitrate, report = std::move(report)](State& state) {
            Work(state, folder, bitrate, report);
          },
          RingLength(detection_)) {}

ClipKeeper::~ClipKeeper() = default;  // the worker writes what is due when it is told to quit

void ClipKeeper::OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
                         Clock::time_point at) {
  std::lock_guard lock(worker_->mutex);
  worker_->ring.Append(at, sampleRate, channels, samples);
}

std::string ClipKeeper::OnEvent(const StationEvent& event, Clock::time_point at) {
  const auto from = at - kBefore - detection_[static_cast<std::size_t>(event.kind)];
  std::lock_guard lock(worker_->mutex);
  // With audio of the clip's time in the ring the clip will hold at least that: it is named.
  if (!worker_->ring.HoldsAudioAfter(from))
    return {};
  std::string name = ClipName(event.at, event.kind);
  worker_->pending.push_back({from, at + kAfter, name});
  return name;
}

void ClipKeeper::WriteDueNow() {
  std::unique_lock lock(worker_->mutex);
  const uint64_t round = ++worker_->writeNowAsked;
  worker_->wake.notify_all();
  worker_->writtenNow.wait_for(lock, kWriteDueWithin,
                               [&] { return worker_->writeNowDone >= round || worker_->ended; });
}

ClipFigures ClipKeeper::Figures() const {
  std::lock_guard lock(worker_->mutex);
  return worker_->figures;
}

void ClipKeeper::Work(State& state, const ClipFolder& folder, int bitrate, const Report& report) {
  const uint64_t keptAtStart = folder.Prune();  // what an earlier run left, within bounds now
  std::unique_lock lock(state.mutex);
  state.figures.bytesKept = keptAtStart;
  for (;;) {
    state.wake.wait_for(lock, kCheckEvery,
                        [&] { return state.quit || state.writeNowAsked > state.writeNowDone; });
    // At the end, or when asked, every clip is due, with the audio received so far.
    const uint64_t asked = state.writeNowAsked;
    const bool all = state.quit || asked > state.writeNowDone;
    while (!state.pending.empty() && (all || state.pending.front().to <= Clock::now())) {
      const Pending clip = state.pending.front();
      state.pending.erase(state.pending.begin());
      Keep(state, lock, clip, folder, bitrate, report);
    }
    state.writeNowDone = asked;
    state.writtenNow.notify_all();
    if (state.quit)
      return;
  }
}

void ClipKeeper::Keep(State& state, std::unique_lock<std::mutex>& lock, const Pending& clip,
                      const ClipFolder& folder, int bitrate, const Report& report) {
  int rate = 0, channels = 0;
  const auto samples = state.ring.Take(clip.from, clip.to, rate, channels);
  lock.unlock();
  // The clip was named with audio in the ring; only a change of format or a writer held up
  // past the ring's length loses it.
  const std::string error = samples.empty()
                                ? std::string("its audio was let go before it could be written")
                                : WriteClip(folder, clip.name, bitrate, rate, channels, samples);
  const uint64_t kept = error.empty() ? folder.Prune() : 0;
  lock.lock();
  if (!error.empty()) {
    ++state.figures.failed;
    if (!state.figures.stopped)
      report("clips stopped: " + clip.name + " not written (" + error +
             "); the monitor goes on, and clips resume when one can be written");
    state.figures.stopped = true;
    state.figures.why = error;
    return;
  }
  if (state.figures.stopped)
    report("clips resumed: " + clip.name + " written");
  state.figures.stopped = false;
  ++state.figures.written;
  state.figures.bytesKept = kept;
}

std::string ClipKeeper::WriteClip(const ClipFolder& folder, const std::string& name, int bitrate,
                                  int rate, int channels, const std::vector<int16_t>& samples) {
  // Paths stay in the system's own form (wide on Windows) down to the file's opening, so a
  // folder under any user name is the one written to.
  const fs::path target = folder.Root() / name;
  const fs::path temporary = folder.Root() / ClipTemporaryName(name);
  std::error_code made;
  fs::create_directories(target.parent_path(), made);
  if (made)
    return made.message();
  // A day's folder that is a link leads outside the folder: nothing is written through it.
  if (EntryKindOf(target.parent_path()) != EntryKind::kFolder)
    return "the day's folder is no folder of its own";
  std::FILE* file = OpenNewFile(temporary);
  if (!file)
    return std::strerror(errno);
  int writeError = 0;
  OggOpusEncoder encoder(rate, channels, bitrate, kFilePageDelayMs,
                         [&](const unsigned char* data, std::size_t size) {
                           if (std::fwrite(data, 1, size, file) == size)
                             return true;
                           writeError = errno;
                           return false;
                         });
  const bool encoded = encoder.Write(samples) && encoder.Finish();
  const bool flushed = std::fflush(file) == 0 || (writeError = errno, false);
  const bool closed =
      std::fclose(file) == 0 || (writeError = writeError ? writeError : errno, false);
  std::error_code renamed;
  if (encoded && flushed && closed)
    fs::rename(temporary, target, renamed);
  if (!encoded || !flushed || !closed || renamed) {
    std::error_code ignored;
    fs::remove(temporary, ignored);
    if (writeError)
      return std::strerror(writeError);
    return renamed ? renamed.message() : encoder.Error();
  }
  return {};
}

}  // namespace calvora::ctl
