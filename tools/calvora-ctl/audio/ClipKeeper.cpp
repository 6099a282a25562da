#include "ClipKeeper.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "ClipNames.h"
#include "NewFile.h"
#include "OggOpusEncoder.h"

namespace calvora::ctl {

namespace fs = std::filesystem;

namespace {

// The ring holds both sides of an event and the time the clip thread may take to come round.
constexpr std::chrono::seconds kRingLength{25};
// How often the clip thread looks for clips whose time after has passed.
constexpr std::chrono::milliseconds kCheckEvery{100};
// A clip is written as a file, not listened to: its pages may wait a second.
constexpr int kFilePageDelayMs = 1000;

}  // namespace

ClipKeeper::ClipKeeper(ClipFolder folder, int bitrate, Report report)
    : folder_(std::move(folder)),
      worker_(
          std::chrono::milliseconds(3000),
          [folder = folder_, bitrate, report = std::move(report)](State& state) {
            Work(state, folder, bitrate, report);
          },
          std::chrono::milliseconds(kRingLength)) {}

ClipKeeper::~ClipKeeper() = default;

void ClipKeeper::OnAudio(int sampleRate, int channels, std::span<const int16_t> samples,
                         Clock::time_point at) {
  std::lock_guard lock(worker_->mutex);
  worker_->ring.Append(at, sampleRate, channels, samples);
}

std::string ClipKeeper::OnEvent(const StationEvent& event, Clock::time_point at) {
  std::string name = ClipName(event.at, event.kind);
  std::lock_guard lock(worker_->mutex);
  worker_->pending.push_back({at, name});
  return name;
}

ClipFigures ClipKeeper::Figures() const {
  std::lock_guard lock(worker_->mutex);
  return worker_->figures;
}

void ClipKeeper::Work(State& state, const ClipFolder& folder, int bitrate, const Report& report) {
  const uint64_t keptAtStart = folder.Prune();  // what an earlier run left, within bounds now
  std::unique_lock lock(state.mutex);
  state.figures.bytesKept = keptAtStart;
  while (!state.quit) {
    state.wake.wait_for(lock, kCheckEvery, [&] { return state.quit; });
    const auto now = Clock::now();
    while (!state.quit && !state.pending.empty() && state.pending.front().at + kAround <= now) {
      const Pending clip = state.pending.front();
      state.pending.erase(state.pending.begin());
      int rate = 0, channels = 0;
      const auto samples = state.ring.Take(clip.at - kAround, clip.at + kAround, rate, channels);
      lock.unlock();
      uint64_t bytes = 0;
      const std::string error =
          samples.empty() ? std::string()
                          : WriteClip(folder, clip.name, bitrate, rate, channels, samples, bytes);
      const uint64_t kept = error.empty() && !samples.empty() ? folder.Prune() : 0;
      lock.lock();
      if (samples.empty())
        continue;  // no programme received yet: nothing to keep
      if (!error.empty()) {
        ++state.figures.failed;
        if (!state.figures.stopped)
          report("clips stopped: " + clip.name + " not written (" + error +
                 "); the monitor goes on, and clips resume when one can be written");
        state.figures.stopped = true;
        state.figures.why = error;
        continue;
      }
      if (state.figures.stopped)
        report("clips resumed: " + clip.name + " written");
      state.figures.stopped = false;
      ++state.figures.written;
      state.figures.bytesKept = kept;
    }
  }
}

std::string ClipKeeper::WriteClip(const ClipFolder& folder, const std::string& name, int bitrate,
                                  int rate, int channels, const std::vector<int16_t>& samples,
                                  uint64_t& bytes) {
  // Paths stay in the system's own form (wide on Windows) down to the file's opening, so a
  // folder under any user name is the one written to.
  const fs::path target = folder.Root() / name;
  fs::path temporary = target.parent_path() / ".";
  temporary += target.filename();
  temporary += ".tmp";
  std::error_code made;
  fs::create_directories(target.parent_path(), made);
  if (made)
    return made.message();
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
  bytes = static_cast<uint64_t>(std::ftell(file));
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
