/* calvora-demo-programme: writes the demo's programme for the virtual capture device, a
 * 16-bit stereo PCM WAV file of three minutes at 48000 Hz that sounds like a talk show on a
 * quiet line:
 *
 *   - speech-like sound: voiced syllables (a pulse train at a gliding pitch through two vowel
 *     resonances) and hissing consonants, peaking between about -14 and -6 dBFS;
 *   - short pauses between phrases, 0.4 to 2.5 seconds, which a silence detector set to 5 seconds
 *     must not take for dead air;
 *   - four longer silences of 11.5 to 15.5 seconds, the dead air it must catch;
 *   - under all of it a noise floor near -66 dBFS, as a real line has.
 *
 * The sound is made from a fixed seed, so every build writes the same file.
 *
 *   calvora-demo-programme OUTPUT.wav
 */
#include <errno.h>
#include <math.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#define RATE 48000
#define SECONDS 180
#define FRAMES ((size_t)RATE * SECONDS)
#define PI 3.14159265358979323846

/* The programme, in order: each entry is speech or silence for about that many seconds. */
struct part {
  int speech;
  double seconds;
};
static const struct part kParts[] = {
    {1, 15.0}, {0, 12.0}, /* first dead air early, so the demo shows a verdict soon */
    {1, 28.0}, {0, 15.0}, {1, 30.0}, {0, 11.0}, {1, 26.0}, {0, 13.0}, {1, 30.0},
};

static uint32_t rng_state = 0x2545F491u;

static double uniform(void) { /* 0 <= x < 1, xorshift32 */
  rng_state ^= rng_state << 13;
  rng_state ^= rng_state >> 17;
  rng_state ^= rng_state << 5;
  return (double)rng_state / 4294967296.0;
}

static double between(double low, double high) {
  return low + (high - low) * uniform();
}

/* A two-pole resonator: one vowel formant. */
struct resonator {
  double a1, a2, gain, y1, y2;
};

static void tune(struct resonator* r, double hz, double bandwidth) {
  const double radius = exp(-PI * bandwidth / RATE);
  r->a1 = 2.0 * radius * cos(2.0 * PI * hz / RATE);
  r->a2 = -radius * radius;
  r->gain = 1.0 - radius;
}

static double resonate(struct resonator* r, double x) {
  const double y = r->gain * x + r->a1 * r->y1 + r->a2 * r->y2;
  r->y2 = r->y1;
  r->y1 = y;
  return y;
}

/* First and second formant of a few vowels, Hz. */
static const double kVowels[][2] = {{730, 1090}, {530, 1840}, {270, 2290}, {570, 840},
                                    {300, 870},  {660, 1720}, {490, 1350}};
#define VOWEL_COUNT (sizeof kVowels / sizeof kVowels[0])

struct voice {
  struct resonator f1, f2;
  double phase;    /* of the glottal pulse, 0..1 */
  double pitch;    /* Hz */
  double previous; /* for the consonants' high-pass */
};

/* Adds one syllable of `frames` frames at `at` into the mono buffer, with peak near `peak`. */
static void syllable(struct voice* v, float* out, size_t at, size_t frames, double peak) {
  const double* vowel = kVowels[(size_t)(uniform() * VOWEL_COUNT)];
  tune(&v->f1, vowel[0], 90.0);
  tune(&v->f2, vowel[1], 120.0);
  const double glide = between(-0.35, 0.25) * v->pitch / (double)frames;
  const size_t hiss = uniform() < 0.45 ? (size_t)(between(0.03, 0.08) * RATE) : 0;
  double loudest = 1e-9;
  float* s = out + at;
  for (size_t i = 0; i < frames; ++i) {
    double x = 0.0;
    if (i < hiss) { /* a fricative before the vowel: high-passed noise */
      const double noise = between(-1.0, 1.0);
      x = 0.35 * (noise - v->previous);
      v->previous = noise;
    } else {
      v->phase += (v->pitch + glide * (double)i) / RATE;
      if (v->phase >= 1.0) {
        v->phase -= 1.0;
        x = 1.0; /* glottal pulse */
      }
      x = resonate(&v->f1, x) * 3.0 + resonate(&v->f2, x) * 1.6;
    }
    const double t = (double)i / (double)frames; /* rise fast, hold, fall */
    const double envelope = t < 0.1   ? sin(t / 0.1 * PI / 2)
                            : t < 0.6 ? 1.0 - 0.3 * (t - 0.1) / 0.5
                                      : 0.7 * cos((t - 0.6) / 0.4 * PI / 2);
    s[i] = (float)(x * envelope);
    if (fabs(s[i]) > loudest)
      loudest = fabs(s[i]);
  }
  for (size_t i = 0; i < frames; ++i)
    s[i] = (float)(s[i] / loudest * peak);
}

/* Fills [start, end) with phrases of syllables and short pauses. */
static void speak(struct voice* v, float* out, size_t start, size_t end) {
  size_t at = start;
  while (at < end) {
    v->pitch = between(95.0, 210.0);
    const int words = 5 + (int)(uniform() * 10);
    for (int w = 0; w < words && at < end; ++w) {
      const int syllables = 1 + (int)(uniform() * 3);
      for (int k = 0; k < syllables && at < end; ++k) {
        size_t frames = (size_t)(between(0.15, 0.32) * RATE);
        if (at + frames > end)
          frames = end - at;
        syllable(v, out, at, frames, pow(10.0, between(-14.0, -6.0) / 20.0));
        at += frames + (size_t)(between(0.01, 0.04) * RATE);
        v->pitch *= between(0.96, 1.03);
      }
      at += (size_t)(between(0.05, 0.15) * RATE); /* between words */
    }
    at += (size_t)(between(0.4, 2.5) * RATE); /* between phrases: a short pause */
  }
}

static void put_le(uint8_t* p, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i)
    p[i] = (uint8_t)(value >> (8 * i));
}

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: calvora-demo-programme OUTPUT.wav\n");
    return 2;
  }
  float* mono = calloc(FRAMES, sizeof *mono);
  int16_t* pcm = malloc(FRAMES * 2 * sizeof *pcm);
  if (!mono || !pcm) {
    fprintf(stderr, "calvora-demo-programme: out of memory\n");
    return 1;
  }
  struct voice voice;
  memset(&voice, 0, sizeof voice);
  size_t at = 0;
  for (size_t p = 0; p < sizeof kParts / sizeof kParts[0]; ++p) {
    size_t end = at + (size_t)(kParts[p].seconds * RATE);
    if (end > FRAMES || p + 1 == sizeof kParts / sizeof kParts[0])
      end = FRAMES;
    /* The last syllables may run into the silence a little; the silence stays long. */
    if (kParts[p].speech)
      speak(&voice, mono, at, end - (size_t)(0.5 * RATE));
    at = end;
  }

  /* The right channel a little quieter than the left; the noise floor under both. */
  const double floor_peak = pow(10.0, -66.0 / 20.0);
  const double right_gain = pow(10.0, -1.5 / 20.0);
  for (size_t i = 0; i < FRAMES; ++i) {
    const double left = mono[i] + between(-floor_peak, floor_peak);
    const double right = mono[i] * right_gain + between(-floor_peak, floor_peak);
    pcm[2 * i] = (int16_t)lrint(fmax(-1.0, fmin(1.0, left)) * 32767.0);
    pcm[2 * i + 1] = (int16_t)lrint(fmax(-1.0, fmin(1.0, right)) * 32767.0);
  }

  const uint32_t data_bytes = (uint32_t)(FRAMES * 4);
  uint8_t header[44];
  memcpy(header, "RIFF", 4);
  put_le(header + 4, 36 + data_bytes, 4);
  memcpy(header + 8, "WAVEfmt ", 8);
  put_le(header + 16, 16, 4);       /* format chunk size */
  put_le(header + 20, 1, 2);        /* PCM */
  put_le(header + 22, 2, 2);        /* channels */
  put_le(header + 24, RATE, 4);     /* sample rate */
  put_le(header + 28, RATE * 4, 4); /* bytes per second */
  put_le(header + 32, 4, 2);        /* bytes per frame */
  put_le(header + 34, 16, 2);       /* bits per sample */
  memcpy(header + 36, "data", 4);
  put_le(header + 40, data_bytes, 4);

  FILE* file = fopen(argv[1], "wb");
  if (!file || fwrite(header, 1, sizeof header, file) != sizeof header ||
      fwrite(pcm, sizeof *pcm, FRAMES * 2, file) != FRAMES * 2 || fclose(file) != 0) {
    fprintf(stderr, "calvora-demo-programme: %s: %s\n", argv[1], strerror(errno));
    return 1;
  }
  free(mono);
  free(pcm);
  return 0;
}
