#include "OggOpusEncoder.h"

#include <opusenc.h>

#include <algorithm>
#include <vector>

namespace calvora::ctl {

OggOpusEncoder::OggOpusEncoder(int sampleRate, int channels, int bitrate, int maxPageDelayMs,
                               Sink sink)
    : sampleRate_(sampleRate), channels_(channels), sink_(std::move(sink)) {
  OggOpusComments* comments = ope_comments_create();
  if (!comments) {
    error_ = "no memory for the stream's comments";
    return;
  }
  ope_comments_add(comments, "ENCODER", "calvora-ctl");
  const OpusEncCallbacks callbacks{&OggOpusEncoder::WritePage, &OggOpusEncoder::Close};
  int result = OPE_OK;
  encoder_ = ope_encoder_create_callbacks(&callbacks, this, comments, sampleRate, channels,
                                          channels > 2 ? 1 : 0, &result);
  ope_comments_destroy(comments);
  if (!encoder_) {
    error_ = std::string("cannot start the Opus encoder: ") + ope_strerror(result);
    return;
  }
  // The delays are counted in 48 kHz samples. The library holds audio back for its decisions
  // (two seconds unless told): no longer than a page may wait.
  const int delay = maxPageDelayMs * 48;
  Check(ope_encoder_ctl(encoder_, OPUS_SET_BITRATE(bitrate)), "setting the bitrate") &&
      Check(ope_encoder_ctl(encoder_, OPE_SET_DECISION_DELAY(delay)), "setting the delay") &&
      Check(ope_encoder_ctl(encoder_, OPE_SET_MUXING_DELAY(delay)), "setting the page delay");
}

OggOpusEncoder::~OggOpusEncoder() {
  if (encoder_)
    ope_encoder_destroy(encoder_);
}

bool OggOpusEncoder::Check(int result, const char* doing) {
  if (result == OPE_OK)
    return true;
  if (error_.empty())
    error_ = std::string(doing) + ": " + ope_strerror(result);
  return false;
}

bool OggOpusEncoder::Write(std::span<const int16_t> samples) {
  if (!Ok() || finished_)
    return false;
  const auto frames = static_cast<int>(samples.size() / static_cast<std::size_t>(channels_));
  return frames == 0 || Check(ope_encoder_write(encoder_, samples.data(), frames), "encoding");
}

bool OggOpusEncoder::WriteSilence(std::size_t frames) {
  static const std::vector<int16_t> kQuiet(4800 * 2, 0);
  const std::size_t chunk = kQuiet.size() / static_cast<std::size_t>(channels_);
  while (frames > 0 && Ok()) {
    const std::size_t n = std::min(frames, chunk);
    if (!Write(std::span(kQuiet).first(n * static_cast<std::size_t>(channels_))))
      return false;
    frames -= n;
  }
  return Ok();
}

bool OggOpusEncoder::FlushHeaders() {
  return Ok() && Check(ope_encoder_flush_header(encoder_), "writing the headers");
}

bool OggOpusEncoder::Finish() {
  if (!Ok() || finished_)
    return false;
  finished_ = true;
  return Check(ope_encoder_drain(encoder_), "ending the stream");
}

int OggOpusEncoder::WritePage(void* self, const unsigned char* bytes, int32_t size) {
  auto& encoder = *static_cast<OggOpusEncoder*>(self);
  if (encoder.sink_(bytes, static_cast<std::size_t>(size)))
    return 0;
  if (encoder.error_.empty())
    encoder.error_ = "the stream's reader has gone";
  return 1;  // the library stops writing
}

int OggOpusEncoder::Close(void*) {
  return 0;
}

}  // namespace calvora::ctl
