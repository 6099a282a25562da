// The encoder where libopus and libopusenc are not built in (the Windows build): it makes no
// stream and says why, so that nothing is written that a player could not read.
#include "OggOpusEncoder.h"

namespace calvora::ctl {

OggOpusEncoder::OggOpusEncoder(int sampleRate, int channels, int, int, Sink sink)
    : sampleRate_(sampleRate), channels_(channels), sink_(std::move(sink)) {
  error_ = "Ogg Opus is not built into this program";
}

OggOpusEncoder::~OggOpusEncoder() = default;

bool OggOpusEncoder::Write(std::span<const int16_t>) {
  return false;
}

bool OggOpusEncoder::WriteSilence(std::size_t) {
  return false;
}

bool OggOpusEncoder::FlushHeaders() {
  return false;
}

bool OggOpusEncoder::Finish() {
  return false;
}

}  // namespace calvora::ctl
