/* The programme a virtual capture device plays and the device's run-time state, shared by the
 * ALSA plugin and its control program. Both live in a small text file,
 * $CALVORA_VIRTUAL_CARD_DIR/<device>.state, with one "key value" line each:
 *
 *   device present | refuse | vanished
 *   programme silence
 *   programme tone <dBFS> [<Hz>]
 *   programme pattern <segment>,<segment>,...   segments tone:<dBFS>:<s>[:<Hz>] or silence:<s>,
 *                                               played in a loop
 *   programme file <path>                       a PCM WAV (16-bit) or raw 16-bit stereo file,
 *                                               played in a loop at the device's rate
 */
#ifndef CALVORA_VIRTUAL_CAPTURE_PROGRAMME_H
#define CALVORA_VIRTUAL_CAPTURE_PROGRAMME_H

#include <stddef.h>
#include <stdint.h>

#define VC_MAX_SEGMENTS 32
#define VC_TEXT_MAX 1024

enum vc_device_state { VC_PRESENT = 0, VC_REFUSE, VC_VANISHED };

struct vc_segment {
  double level_db; /* below -200: silence */
  double hz;
  double seconds; /* 0: endless */
  /* One whole number of cycles of the tone at table_rate, filled on first use: a sample is
   * read from here instead of computed. NULL while not built, or for a tone whose cycles
   * never end on a whole frame (those are computed per sample). */
  int16_t* table;
  size_t table_frames;
  unsigned table_rate;
};

struct vc_programme {
  int segment_count;
  struct vc_segment segments[VC_MAX_SEGMENTS];
  int16_t* file_frames; /* interleaved stereo, owned */
  size_t file_frame_count;
};

struct vc_state {
  enum vc_device_state device;
  char programme[VC_TEXT_MAX];
};

/* Directory of the state files, from the environment; NULL when unset. */
const char* vc_state_dir(void);
/* Fills path with <dir>/<device>.state; 0 on success. */
int vc_state_path(const char* device, char* path, size_t size);
/* Reads the state file; a missing file leaves the defaults in *state. 0 on success. */
int vc_read_state(const char* path, struct vc_state* state);
/* Writes the state file atomically (temporary file and rename). 0 on success. */
int vc_write_state(const char* path, const struct vc_state* state);

/* Parses a programme text; 0 on success, negative errno otherwise. */
int vc_parse_programme(const char* text, struct vc_programme* programme);
void vc_free_programme(struct vc_programme* programme);
/* Writes `frames` stereo frames of the programme from frame `position` at `rate`. Builds the
 * tones' tables for `rate` on first use. */
void vc_render(struct vc_programme* programme, uint64_t position, unsigned rate, int16_t* out,
               size_t frames);
/* One sample of a segment's tone at `position`, computed without the table. */
int16_t vc_tone_sample(const struct vc_segment* segment, uint64_t position, unsigned rate);

#endif
