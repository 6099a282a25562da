/* A virtual ALSA capture device. It records a programme (tone, silence, a pattern of both,
 * or a file) in real time: the clock decides how many frames are available, a timer wakes
 * pollers, and reading late by more than the buffer is an overrun. Another process steers
 * it through its state file (see programme.h): switch the programme, refuse to open, or
 * vanish (open fails, a running stream fails) and come back.
 *
 * Declared in the ALSA configuration as
 *   pcm_type.calvora_capture { lib "/path/libasound_module_pcm_calvora_capture.so" }
 *   pcm.NAME { type calvora_capture  device "capture"  programme "tone -20 1000" }
 * where `device` names the state file and `programme` is played until the file names one.
 * With `exclusive true` the device can be open only once at a time, as a hardware device:
 * a second open fails with EBUSY until the first is closed. */
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/timerfd.h>
#include <time.h>
#include <unistd.h>

#include "programme.h"

struct vc_capture {
  snd_pcm_ioplug_t io;
  char state_path[VC_TEXT_MAX];
  char default_programme[VC_TEXT_MAX];
  char playing[VC_TEXT_MAX]; /* programme text now played */
  struct vc_programme programme;
  struct timespec state_mtime; /* of the state file last read */
  off_t state_size;
  enum vc_device_state device;
  int timer_fd;
  int lock_fd; /* held while open when the device is exclusive; -1 otherwise */
  struct timespec started;
  uint64_t consumed;             /* frames handed to the reader since start */
  uint64_t position;             /* programme frames played since the programme began */
  uint64_t state_checked_period; /* period of the stream (from 1) in which the state was read */
};

static uint64_t elapsed_frames(const struct vc_capture* vc) {
  struct timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  int64_t ns = (int64_t)(now.tv_sec - vc->started.tv_sec) * 1000000000LL +
               (now.tv_nsec - vc->started.tv_nsec);
  if (ns < 0)
    return 0;
  uint64_t seconds = (uint64_t)ns / 1000000000ULL;
  uint64_t rest = (uint64_t)ns % 1000000000ULL;
  return seconds * vc->io.rate + rest * vc->io.rate / 1000000000ULL;
}

/* Reads the state file again when it changed; switches the programme when it names a new one. */
static void refresh_state(struct vc_capture* vc) {
  struct vc_state state = {VC_PRESENT, ""};
  struct stat st;
  if (vc->state_path[0] && stat(vc->state_path, &st) == 0) {
    if (st.st_mtim.tv_sec == vc->state_mtime.tv_sec &&
        st.st_mtim.tv_nsec == vc->state_mtime.tv_nsec && st.st_size == vc->state_size)
      return;
    vc->state_mtime = st.st_mtim;
    vc->state_size = st.st_size;
    vc_read_state(vc->state_path, &state);
  }
  vc->device = state.device;
  const char* wanted = state.programme[0] ? state.programme : vc->default_programme;
  if (strcmp(wanted, vc->playing) == 0)
    return;
  struct vc_programme next;
  if (vc_parse_programme(wanted, &next) != 0) {
    /* A programme that cannot be played is left out; the old one goes on. */
    vc_free_programme(&next);
    snprintf(vc->playing, sizeof vc->playing, "%s", wanted);
    return;
  }
  vc_free_programme(&vc->programme);
  vc->programme = next;
  vc->position = 0;
  snprintf(vc->playing, sizeof vc->playing, "%s", wanted);
}

/* While running, the state file is read once per period of audio time, however often the
 * reader asks for the pointer or polls: a steering change is seen within a period, and a
 * reader pays one stat() per period, as on a card whose driver looks once per interrupt. */
static void refresh_state_each_period(struct vc_capture* vc) {
  if (vc->io.state != SND_PCM_STATE_RUNNING || vc->io.period_size == 0) {
    refresh_state(vc);
    return;
  }
  uint64_t period = elapsed_frames(vc) / vc->io.period_size + 1;
  if (period == vc->state_checked_period)
    return;
  vc->state_checked_period = period;
  refresh_state(vc);
}

static int arm_timer(struct vc_capture* vc, int on) {
  struct itimerspec spec;
  memset(&spec, 0, sizeof spec);
  if (on) {
    /* Twice per period, so that a period is never noticed much later than it is due. */
    long ns = (long)(vc->io.period_size * 1000000000ULL / vc->io.rate / 2);
    if (ns < 1000000)
      ns = 1000000;
    spec.it_interval.tv_sec = ns / 1000000000L;
    spec.it_interval.tv_nsec = ns % 1000000000L;
    spec.it_value = spec.it_interval;
  }
  return timerfd_settime(vc->timer_fd, 0, &spec, NULL) == 0 ? 0 : -errno;
}

static int vc_start(snd_pcm_ioplug_t* io) {
  struct vc_capture* vc = io->private_data;
  refresh_state(vc);
  if (vc->device == VC_VANISHED)
    return -ENODEV;
  clock_gettime(CLOCK_MONOTONIC, &vc->started);
  vc->consumed = 0;
  vc->state_checked_period = 1; /* just read */
  return arm_timer(vc, 1);
}

static int vc_stop(snd_pcm_ioplug_t* io) {
  struct vc_capture* vc = io->private_data;
  return arm_timer(vc, 0);
}

static snd_pcm_sframes_t vc_pointer(snd_pcm_ioplug_t* io) {
  struct vc_capture* vc = io->private_data;
  refresh_state_each_period(vc);
  /* A running stream whose device vanished keeps its pointer moving, so the reader reads and
   * the read itself fails with -ENODEV (from the transfer), as on an unplugged card: a pointer
   * error would reach the reader as an overrun instead. */
  if (vc->device == VC_VANISHED && io->state != SND_PCM_STATE_RUNNING)
    return -ENODEV;
  if (io->state != SND_PCM_STATE_RUNNING)
    return (snd_pcm_sframes_t)(vc->consumed % io->buffer_size);
  uint64_t produced = elapsed_frames(vc);
  /* The reader fell a whole buffer behind: the frames in between are lost. */
  if (produced - vc->consumed >= io->buffer_size)
    return -EPIPE;
  return (snd_pcm_sframes_t)(produced % io->buffer_size);
}

static snd_pcm_sframes_t vc_transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                                     snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
  struct vc_capture* vc = io->private_data;
  if (vc->device == VC_VANISHED)
    return -ENODEV;
  int16_t* out = (int16_t*)((char*)areas[0].addr + (areas[0].first + offset * areas[0].step) / 8);
  vc_render(&vc->programme, vc->position, io->rate, out, size);
  vc->position += size;
  vc->consumed += size;
  return (snd_pcm_sframes_t)size;
}

static int vc_prepare(snd_pcm_ioplug_t* io) {
  struct vc_capture* vc = io->private_data;
  refresh_state(vc);
  if (vc->device == VC_VANISHED)
    return -ENODEV;
  vc->consumed = 0;
  return arm_timer(vc, 0);
}

static int vc_poll_revents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int nfds,
                           unsigned short* revents) {
  struct vc_capture* vc = io->private_data;
  (void)nfds;
  uint64_t ticks;
  if (pfd[0].revents & POLLIN) {
    ssize_t n = read(vc->timer_fd, &ticks, sizeof ticks);
    (void)n;
  }
  *revents = 0;
  refresh_state_each_period(vc);
  if (vc->device == VC_VANISHED) {
    /* Readable too, so that the reader reads and learns that the device is gone. */
    *revents = POLLERR | POLLIN;
    return 0;
  }
  if (io->state != SND_PCM_STATE_RUNNING)
    return 0;
  /* Readable once a period is waiting, or when the reader is late (it then sees the overrun). */
  if (elapsed_frames(vc) - vc->consumed >= io->period_size)
    *revents = POLLIN;
  return 0;
}

/* Takes the device for this open alone; the lock goes with the descriptor when it is closed. */
static int lock_device(const char* device) {
  const char* dir = vc_state_dir();
  if (!dir)
    return -1;
  char path[VC_TEXT_MAX];
  if (snprintf(path, sizeof path, "%s/%s.lock", dir, device) >= (int)sizeof path)
    return -ENAMETOOLONG;
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return -errno;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    int err = errno == EWOULDBLOCK ? -EBUSY : -errno;
    close(fd);
    return err;
  }
  return fd;
}

static void vc_free(struct vc_capture* vc) {
  if (vc->timer_fd >= 0)
    close(vc->timer_fd);
  if (vc->lock_fd >= 0)
    close(vc->lock_fd);
  vc_free_programme(&vc->programme);
  free(vc);
}

static int vc_close(snd_pcm_ioplug_t* io) {
  struct vc_capture* vc = io->private_data;
  if (vc->lock_fd >= 0)
    close(vc->lock_fd);
  close(vc->timer_fd);
  vc_free_programme(&vc->programme);
  free(vc);
  return 0;
}

static const snd_pcm_ioplug_callback_t vc_callbacks = {
    .start = vc_start,
    .stop = vc_stop,
    .pointer = vc_pointer,
    .transfer = vc_transfer,
    .close = vc_close,
    .prepare = vc_prepare,
    .poll_revents = vc_poll_revents,
};

static int set_constraints(snd_pcm_ioplug_t* io) {
  static const unsigned accesses[] = {SND_PCM_ACCESS_RW_INTERLEAVED};
  static const unsigned formats[] = {SND_PCM_FORMAT_S16_LE};
  int err;
  if ((err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_ACCESS, 1, accesses)) < 0 ||
      (err = snd_pcm_ioplug_set_param_list(io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_CHANNELS, 2, 2)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_RATE, 8000, 192000)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64, 1024 * 1024)) <
          0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_PERIODS, 2, 1024)) < 0 ||
      (err = snd_pcm_ioplug_set_param_minmax(io, SND_PCM_IOPLUG_HW_BUFFER_BYTES, 128,
                                             4 * 1024 * 1024)) < 0)
    return err;
  return 0;
}

SND_PCM_PLUGIN_DEFINE_FUNC(calvora_capture) {
  (void)root;
  const char* device = "capture";
  const char* programme = "silence";
  int exclusive = 0;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* n = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(n, &id) < 0)
      continue;
    if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0)
      continue;
    if (strcmp(id, "device") == 0 && snd_config_get_string(n, &device) >= 0)
      continue;
    if (strcmp(id, "programme") == 0 && snd_config_get_string(n, &programme) >= 0)
      continue;
    if (strcmp(id, "exclusive") == 0 && (exclusive = snd_config_get_bool(n)) >= 0)
      continue;
    SNDERR("Unknown field %s", id);
    return -EINVAL;
  }
  if (stream != SND_PCM_STREAM_CAPTURE)
    return -EINVAL;

  struct vc_capture* vc = calloc(1, sizeof *vc);
  if (!vc)
    return -ENOMEM;
  vc->timer_fd = -1;
  vc->lock_fd = -1;
  if (vc_state_path(device, vc->state_path, sizeof vc->state_path) != 0)
    vc->state_path[0] = 0;
  snprintf(vc->default_programme, sizeof vc->default_programme, "%s", programme);
  vc->playing[0] = 1; /* nothing played yet: the first refresh loads a programme */
  vc->playing[1] = 0;
  refresh_state(vc);
  int err = 0;
  if (vc->device == VC_REFUSE)
    err = -EBUSY;
  if (vc->device == VC_VANISHED)
    err = -ENODEV;
  if (!err && exclusive) {
    int fd = lock_device(device);
    if (fd == -EBUSY)
      err = -EBUSY;
    vc->lock_fd = fd >= 0 ? fd : -1;
  }
  if (!err) {
    vc->timer_fd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    if (vc->timer_fd < 0)
      err = -errno;
  }
  if (err) {
    vc_free(vc);
    return err;
  }

  vc->io.version = SND_PCM_IOPLUG_VERSION;
  vc->io.name = "Calvora virtual capture";
  vc->io.flags = SND_PCM_IOPLUG_FLAG_MONOTONIC;
  vc->io.poll_fd = vc->timer_fd;
  vc->io.poll_events = POLLIN;
  vc->io.mmap_rw = 0;
  vc->io.callback = &vc_callbacks;
  vc->io.private_data = vc;
  err = snd_pcm_ioplug_create(&vc->io, name, stream, mode);
  if (err < 0) {
    vc_free(vc);
    return err;
  }
  err = set_constraints(&vc->io);
  if (err < 0) {
    snd_pcm_ioplug_delete(&vc->io);
    return err;
  }
  *pcmp = vc->io.pcm;
  return 0;
}

SND_PCM_PLUGIN_SYMBOL(calvora_capture)
