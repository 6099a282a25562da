#include "programme.h"

#include <errno.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#define VC_SILENT_DB -1000.0

const char* vc_state_dir(void) {
  const char* dir = getenv("CALVORA_VIRTUAL_CARD_DIR");
  return dir && *dir ? dir : NULL;
}

int vc_state_path(const char* device, char* path, size_t size) {
  const char* dir = vc_state_dir();
  if (!dir)
    return -ENOENT;
  int n = snprintf(path, size, "%s/%s.state", dir, device);
  return n > 0 && (size_t)n < size ? 0 : -ENAMETOOLONG;
}

static void trim_line(char* s) {
  size_t n = strlen(s);
  while (n > 0 && (s[n - 1] == '\n' || s[n - 1] == '\r' || s[n - 1] == ' '))
    s[--n] = 0;
}

int vc_read_state(const char* path, struct vc_state* state) {
  FILE* f = fopen(path, "r");
  if (!f)
    return errno == ENOENT ? 0 : -errno;
  char line[VC_TEXT_MAX + 32];
  while (fgets(line, sizeof line, f)) {
    trim_line(line);
    if (strncmp(line, "device ", 7) == 0) {
      const char* v = line + 7;
      state->device = strcmp(v, "refuse") == 0     ? VC_REFUSE
                      : strcmp(v, "vanished") == 0 ? VC_VANISHED
                                                   : VC_PRESENT;
    } else if (strncmp(line, "programme ", 10) == 0) {
      size_t n = strlen(line + 10);
      if (n >= sizeof state->programme)
        n = sizeof state->programme - 1;
      memcpy(state->programme, line + 10, n);
      state->programme[n] = 0;
    }
  }
  fclose(f);
  return 0;
}

int vc_write_state(const char* path, const struct vc_state* state) {
  char tmp[4096];
  if (snprintf(tmp, sizeof tmp, "%s.%ld.tmp", path, (long)getpid()) >= (int)sizeof tmp)
    return -ENAMETOOLONG;
  FILE* f = fopen(tmp, "w");
  if (!f)
    return -errno;
  static const char* const names[] = {"present", "refuse", "vanished"};
  fprintf(f, "device %s\n", names[state->device]);
  if (state->programme[0])
    fprintf(f, "programme %s\n", state->programme);
  if (fclose(f) != 0 || rename(tmp, path) != 0) {
    int err = -errno;
    unlink(tmp);
    return err;
  }
  return 0;
}

/* Reads a 16-bit PCM WAV file, or failing its header a raw 16-bit stereo file, as stereo. */
static int load_file(const char* path, struct vc_programme* p) {
  FILE* f = fopen(path, "rb");
  if (!f)
    return -errno;
  fseek(f, 0, SEEK_END);
  long size = ftell(f);
  fseek(f, 0, SEEK_SET);
  if (size <= 0) {
    fclose(f);
    return -EINVAL;
  }
  unsigned char* bytes = malloc((size_t)size);
  if (!bytes || fread(bytes, 1, (size_t)size, f) != (size_t)size) {
    free(bytes);
    fclose(f);
    return -EIO;
  }
  fclose(f);

  const unsigned char* data = bytes;
  size_t data_size = (size_t)size;
  unsigned channels = 2;
  if (size >= 12 && memcmp(bytes, "RIFF", 4) == 0 && memcmp(bytes + 8, "WAVE", 4) == 0) {
    size_t at = 12;
    data = NULL;
    while (at + 8 <= (size_t)size) {
      const unsigned char* chunk = bytes + at;
      size_t len = chunk[4] | chunk[5] << 8 | chunk[6] << 16 | (size_t)chunk[7] << 24;
      if (len > (size_t)size - at - 8)
        len = (size_t)size - at - 8;
      if (memcmp(chunk, "fmt ", 4) == 0 && len >= 16) {
        unsigned tag = chunk[8] | chunk[9] << 8;
        channels = chunk[10] | chunk[11] << 8;
        unsigned bits = chunk[22] | chunk[23] << 8;
        if (tag != 1 || bits != 16 || channels < 1 || channels > 2) {
          free(bytes);
          return -EINVAL;
        }
      } else if (memcmp(chunk, "data", 4) == 0) {
        data = chunk + 8;
        data_size = len;
      }
      at += 8 + len + (len & 1);
    }
    if (!data) {
      free(bytes);
      return -EINVAL;
    }
  }
  size_t frames = data_size / (2 * channels);
  if (frames == 0) {
    free(bytes);
    return -EINVAL;
  }
  p->file_frames = malloc(frames * 2 * sizeof(int16_t));
  if (!p->file_frames) {
    free(bytes);
    return -ENOMEM;
  }
  for (size_t i = 0; i < frames; ++i) {
    for (unsigned c = 0; c < 2; ++c) {
      size_t s = i * channels + (channels == 2 ? c : 0);
      p->file_frames[i * 2 + c] = (int16_t)(uint16_t)(data[2 * s] | data[2 * s + 1] << 8);
    }
  }
  p->file_frame_count = frames;
  free(bytes);
  return 0;
}

static int parse_segment(char* text, struct vc_segment* s) {
  char* save = NULL;
  char* kind = strtok_r(text, ":", &save);
  if (!kind)
    return -EINVAL;
  s->hz = 1000;
  s->seconds = 0;
  if (strcmp(kind, "silence") == 0) {
    s->level_db = VC_SILENT_DB;
    char* secs = strtok_r(NULL, ":", &save);
    if (secs)
      s->seconds = atof(secs);
    return 0;
  }
  if (strcmp(kind, "tone") != 0)
    return -EINVAL;
  char* level = strtok_r(NULL, ":", &save);
  if (!level)
    return -EINVAL;
  s->level_db = atof(level);
  char* secs = strtok_r(NULL, ":", &save);
  if (secs)
    s->seconds = atof(secs);
  char* hz = strtok_r(NULL, ":", &save);
  if (hz)
    s->hz = atof(hz);
  return 0;
}

int vc_parse_programme(const char* text, struct vc_programme* p) {
  memset(p, 0, sizeof *p);
  char buf[VC_TEXT_MAX];
  snprintf(buf, sizeof buf, "%s", text);
  char* save = NULL;
  char* kind = strtok_r(buf, " ", &save);
  if (!kind || strcmp(kind, "silence") == 0) {
    p->segment_count = 1;
    p->segments[0].level_db = VC_SILENT_DB;
    return 0;
  }
  if (strcmp(kind, "tone") == 0) {
    char* level = strtok_r(NULL, " ", &save);
    char* hz = strtok_r(NULL, " ", &save);
    if (!level)
      return -EINVAL;
    p->segment_count = 1;
    p->segments[0].level_db = atof(level);
    p->segments[0].hz = hz ? atof(hz) : 1000;
    return 0;
  }
  if (strcmp(kind, "pattern") == 0) {
    char* list = strtok_r(NULL, "", &save);
    if (!list)
      return -EINVAL;
    char* item_save = NULL;
    for (char* item = strtok_r(list, ",", &item_save); item;
         item = strtok_r(NULL, ",", &item_save)) {
      if (p->segment_count == VC_MAX_SEGMENTS)
        return -E2BIG;
      int err = parse_segment(item, &p->segments[p->segment_count]);
      if (err)
        return err;
      if (!(p->segments[p->segment_count].seconds > 0))
        return -EINVAL;
      p->segment_count++;
    }
    return p->segment_count > 0 ? 0 : -EINVAL;
  }
  if (strcmp(kind, "file") == 0) {
    char* path = strtok_r(NULL, "", &save);
    if (!path)
      return -EINVAL;
    return load_file(path, p);
  }
  return -EINVAL;
}

void vc_free_programme(struct vc_programme* p) {
  free(p->file_frames);
  for (int k = 0; k < VC_MAX_SEGMENTS; ++k)
    free(p->segments[k].table);
  memset(p, 0, sizeof *p);
}

int16_t vc_tone_sample(const struct vc_segment* s, uint64_t position, unsigned rate) {
  if (s->level_db < -200)
    return 0;
  double amplitude = 32768.0 * pow(10.0, s->level_db / 20.0);
  if (amplitude > 32767)
    amplitude = 32767;
  /* The phase is taken modulo one cycle in whole frames to keep precision over hours. */
  double cycle = rate / s->hz;
  double phase = fmod((double)position, cycle) / cycle;
  return (int16_t)lround(amplitude * sin(2 * M_PI * phase));
}

static uint64_t gcd_u64(uint64_t a, uint64_t b) {
  while (b) {
    uint64_t t = a % b;
    a = b;
    b = t;
  }
  return a;
}

/* A whole-Hz tone repeats after rate / gcd(rate, hz) frames, at most one second: that many
 * samples are computed once. Silence and other tones get no table. */
static void build_table(struct vc_segment* s, unsigned rate) {
  free(s->table);
  s->table = NULL;
  s->table_frames = 0;
  s->table_rate = rate;
  if (s->level_db < -200 || !(s->hz > 0) || s->hz != floor(s->hz) || s->hz > 1e9 || rate == 0)
    return;
  size_t frames = (size_t)(rate / gcd_u64(rate, (uint64_t)s->hz));
  int16_t* table = malloc(frames * sizeof *table);
  if (!table)
    return;
  for (size_t i = 0; i < frames; ++i)
    table[i] = vc_tone_sample(s, i, rate);
  s->table = table;
  s->table_frames = frames;
}

/* Fills `frames` stereo frames of one segment's tone from programme frame `at`. */
static void render_segment(struct vc_segment* s, uint64_t at, unsigned rate, int16_t* out,
                           size_t frames) {
  if (s->level_db < -200) {
    memset(out, 0, frames * 2 * sizeof *out);
    return;
  }
  if (s->table_rate != rate)
    build_table(s, rate);
  if (!s->table) {
    for (size_t i = 0; i < frames; ++i)
      out[2 * i] = out[2 * i + 1] = vc_tone_sample(s, at + i, rate);
    return;
  }
  size_t index = (size_t)(at % s->table_frames);
  for (size_t i = 0; i < frames; ++i) {
    out[2 * i] = out[2 * i + 1] = s->table[index];
    if (++index == s->table_frames)
      index = 0;
  }
}

void vc_render(struct vc_programme* p, uint64_t position, unsigned rate, int16_t* out,
               size_t frames) {
  if (p->file_frames) {
    for (size_t i = 0; i < frames; ++i) {
      size_t at = (size_t)((position + i) % p->file_frame_count);
      out[2 * i] = p->file_frames[2 * at];
      out[2 * i + 1] = p->file_frames[2 * at + 1];
    }
    return;
  }
  if (p->segment_count <= 0) {
    memset(out, 0, frames * 2 * sizeof *out);
    return;
  }
  /* Pattern length in frames; a single endless segment plays forever. */
  uint64_t total = 0;
  for (int k = 0; k < p->segment_count; ++k)
    total += (uint64_t)llround(p->segments[k].seconds * rate);
  size_t done = 0;
  while (done < frames) {
    uint64_t at = position + done;
    struct vc_segment* seg = &p->segments[0];
    size_t run = frames - done;
    if (total > 0) {
      /* The segment playing at `at`, and how many of its frames are left. */
      uint64_t in_loop = at % total;
      for (int k = 0; k < p->segment_count; ++k) {
        uint64_t len = (uint64_t)llround(p->segments[k].seconds * rate);
        if (in_loop < len) {
          seg = &p->segments[k];
          if (len - in_loop < run)
            run = (size_t)(len - in_loop);
          break;
        }
        in_loop -= len;
      }
    }
    render_segment(seg, at, rate, out + 2 * done, run);
    done += run;
  }
}
