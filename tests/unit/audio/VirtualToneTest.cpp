// The virtual card's programme rendering: tones read from a table built once must be the
// samples the per-sample formula gives, across the table's wrap, a pattern's segment edges
// and a change of rate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

extern "C" {
#include "programme.h"
}

namespace {

struct Programme {
  explicit Programme(const char* text) { EXPECT_EQ(vc_parse_programme(text, &p), 0) << text; }
  ~Programme() { vc_free_programme(&p); }
  vc_programme p{};
};

// Frames [position, position + frames) rendered in chunks of `chunk` frames.
std::vector<int16_t> Render(vc_programme& p, uint64_t position, unsigned rate, size_t frames,
                            size_t chunk) {
  std::vector<int16_t> out(frames * 2);
  for (size_t done = 0; done < frames; done += chunk) {
    const size_t n = std::min(chunk, frames - done);
    vc_render(&p, position + done, rate, out.data() + 2 * done, n);
  }
  return out;
}

// The formula sample of the segment playing at each frame of a pattern.
int16_t Expected(const vc_programme& p, uint64_t at, unsigned rate) {
  uint64_t total = 0;
  for (int k = 0; k < p.segment_count; ++k)
    total += static_cast<uint64_t>(std::llround(p.segments[k].seconds * rate));
  const vc_segment* seg = &p.segments[0];
  if (total > 0) {
    uint64_t inLoop = at % total;
    for (int k = 0; k < p.segment_count; ++k) {
      const auto len = static_cast<uint64_t>(std::llround(p.segments[k].seconds * rate));
      if (inLoop < len) {
        seg = &p.segments[k];
        break;
      }
      inLoop -= len;
    }
  }
  return vc_tone_sample(seg, at, rate);
}

TEST(VirtualTone, TableGivesTheFormulasSamples) {
  struct Case {
    const char* programme;
    unsigned rate;
    uint64_t position;
    size_t chunk;
  };
  const Case cases[] = {
      {"tone -20 1000", 48000, 0, 480},               // 48 frames a cycle
      {"tone -20 1000", 44100, 12345, 441},           // 44.1 frames a cycle: a 441-frame table
      {"tone -3 997", 48000, 3'000'000'000ULL, 480},  // hours in, a one-second table
      {"tone 0 440", 48000, 7, 333},                  // full scale, odd chunks
      {"pattern tone:-20:0.01,silence:0.005,tone:-6:0.02:500", 48000, 100, 97},
  };
  for (const Case& c : cases) {
    Programme programme(c.programme);
    const size_t frames = 4 * c.rate / 10;  // 400 ms
    const std::vector<int16_t> out = Render(programme.p, c.position, c.rate, frames, c.chunk);
    int mismatches = 0;
    for (size_t i = 0; i < frames && mismatches < 5; ++i) {
      const int16_t want = Expected(programme.p, c.position + i, c.rate);
      if (std::abs(out[2 * i] - want) > 1 || out[2 * i] != out[2 * i + 1]) {
        ADD_FAILURE() << c.programme << " at " << c.rate << " Hz, frame " << c.position + i << ": "
                      << out[2 * i] << "/" << out[2 * i + 1] << ", want " << want;
        ++mismatches;
      }
    }
  }
}

TEST(VirtualTone, ARateChangeRebuildsTheTable) {
  Programme programme("tone -20 1000");
  Render(programme.p, 0, 48000, 480, 480);
  const std::vector<int16_t> out = Render(programme.p, 0, 44100, 441, 441);
  for (size_t i = 0; i < 441; ++i)
    ASSERT_NEAR(out[2 * i], vc_tone_sample(&programme.p.segments[0], i, 44100), 1) << i;
}

TEST(VirtualTone, SilenceAndUnevenTonesStillRender) {
  Programme silence("silence");
  for (int16_t v : Render(silence.p, 5, 48000, 960, 480))
    ASSERT_EQ(v, 0);
  Programme uneven("tone -20 1000.5");  // no whole number of cycles: computed per sample
  const std::vector<int16_t> out = Render(uneven.p, 0, 48000, 960, 480);
  for (size_t i = 0; i < 960; ++i)
    ASSERT_EQ(out[2 * i], vc_tone_sample(&uneven.p.segments[0], i, 48000)) << i;
}

}  // namespace
