#pragma once
// Ogg Opus from 16-bit interleaved samples, through libopusenc: the pages go to a sink as the
// library finishes them, the stream's headers first. The library resamples any rate to Opus's
// 48 kHz itself.
#include <cstdint>
#include <functional>
#include <span>
#include <string>

struct OggOpusEnc;

namespace calvora::ctl {

class OggOpusEncoder {
 public:
  // Takes the bytes of finished pages; false stops the encoder (the reader has gone).
  using Sink = std::function<bool(const unsigned char* bytes, std::size_t size)>;

  // `maxPageDelayMs` bounds how long audio waits in the encoder before its page is written:
  // short for a listener, long for a file (fewer, fuller pages).
  OggOpusEncoder(int sampleRate, int channels, int bitrate, int maxPageDelayMs, Sink sink);
  ~OggOpusEncoder();
  OggOpusEncoder(const OggOpusEncoder&) = delete;
  OggOpusEncoder& operator=(const OggOpusEncoder&) = delete;

  // False when the encoder could not be made or has stopped; Error() says why.
  bool Ok() const { return encoder_ && error_.empty(); }
  const std::string& Error() const { return error_; }
  int SampleRate() const { return sampleRate_; }
  int Channels() const { return channels_; }

  // Writes frames of interleaved samples (frames x channels values).
  bool Write(std::span<const int16_t> samples);
  bool WriteSilence(std::size_t frames);
  // Writes the headers at once, before any audio (a listener sees a stream start at once).
  bool FlushHeaders();
  // Encodes what waits and ends the stream with its last page.
  bool Finish();

 private:
  static int WritePage(void* self, const unsigned char* bytes, int32_t size);
  static int Close(void*);
  bool Check(int result, const char* doing);

  const int sampleRate_;
  const int channels_;
  Sink sink_;
  OggOpusEnc* encoder_ = nullptr;
  bool finished_ = false;
  std::string error_;
};

}  // namespace calvora::ctl
