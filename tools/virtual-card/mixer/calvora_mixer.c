/* A virtual mixer device as an ALSA control plugin. Its lines are a fixed set of playback
 * and capture elements; their values live in a small text file so that every process that
 * opens the device (the program, amixer, the tests) sees and changes one shared state.
 *
 * Configuration of a device (see mixer.conf.in):
 *   ctl.NAME { type calvora  state "mixer"  name "Card name"  hotplug no }
 * The state file is DIR/<state>.state, where DIR is $CALVORA_VIRTUAL_CARD_DIR, else
 * $XDG_RUNTIME_DIR/calvora-virtual-card, else /tmp/calvora-virtual-card-<uid>.
 * A device refuses to open, and stops answering, while DIR/<state>.absent exists; a device
 * declared with "hotplug yes" is there only while DIR/<state>.present exists.
 * DIR/<state>.generation holds a number that whoever unplugs the device raises: a handle opened
 * under an older number stays dead, as a sound card's handle does once its card was unplugged,
 * even after the card is back under the same name. */
#define _GNU_SOURCE
#define PIC /* the plugin is a shared module: export its versioned entry point */
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

enum { kChannels = 2 };

typedef enum { kVolume, kSwitch, kEnumerated } ElementKind;

typedef struct {
  const char* name;
  unsigned int index; /* the element index: a second "PCM" is index 1 */
  ElementKind kind;
  long min, max; /* for an enumerated element: items 0..max */
  long initial;
  int readOnly;
  /* A dB scale as sound cards describe theirs: the dB of the lowest value and of each step,
   * in 1/100 dB, and whether the lowest value is silence. No scale when both are 0. */
  int dbMin, dbStep, dbMuteAtMin;
} ElementSpec;

static const char* const kSourceItems[] = {"Mic", "Line"};

/* The order here is the order the device lists its elements in. The later ones are what
 * real cards have beside plain volumes and switches: a volume with a dB scale as HDA codecs
 * report it (-65.25 dB to 0 in 0.75 dB steps, the lowest step muting), a volume without a
 * direction (common to playback and capture), a second element of one name, an enumerated
 * element and a read-only one. */
static const ElementSpec kElements[] = {
    {"Master Playback Volume", 0, kVolume, 0, 87, 60, 0, 0, 0, 0},
    {"Master Playback Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"PCM Playback Volume", 0, kVolume, 0, 255, 200, 0, 0, 0, 0},
    {"PCM Playback Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"Line Playback Volume", 0, kVolume, 0, 31, 20, 0, 0, 0, 0},
    {"Line Playback Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"Beep Playback Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"Aux Playback Volume", 0, kVolume, 0, 65535, 30000, 0, 0, 0, 0},
    {"Capture Volume", 0, kVolume, 0, 63, 40, 0, 0, 0, 0},
    {"Capture Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"Mic Capture Volume", 0, kVolume, 0, 100, 50, 0, 0, 0, 0},
    {"Mic Capture Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"Headphone Playback Volume", 0, kVolume, 0, 87, 60, 0, -6525, 75, 1},
    {"Headphone Playback Switch", 0, kSwitch, 0, 1, 1, 0, 0, 0, 0},
    {"Mic Boost Volume", 0, kVolume, 0, 3, 1, 0, 0, 1000, 0},
    {"PCM Playback Volume", 1, kVolume, 0, 255, 100, 0, 0, 0, 0},
    {"Capture Source", 0, kEnumerated, 0, 1, 0, 0, 0, 0, 0},
    {"Loopback Capture Volume", 0, kVolume, 0, 100, 0, 1, 0, 0, 0},
};
enum { kElementCount = sizeof(kElements) / sizeof(kElements[0]) };

typedef struct {
  snd_ctl_ext_t ext;
  char dir[256];
  char state[64];
  int hotplug;
  long generation; /* of the device this handle opened */
  int pipe[2];     /* a poll descriptor that never signals: the device raises no events */
} VirtualMixer;

static void StateDir(char* out, size_t size) {
  const char* dir = getenv("CALVORA_VIRTUAL_CARD_DIR");
  if (dir != NULL && dir[0] != '\0') {
    snprintf(out, size, "%s", dir);
    return;
  }
  const char* runtime = getenv("XDG_RUNTIME_DIR");
  if (runtime != NULL && runtime[0] != '\0') {
    snprintf(out, size, "%s/calvora-virtual-card", runtime);
  } else {
    snprintf(out, size, "/tmp/calvora-virtual-card-%u", (unsigned)getuid());
  }
}

static int FlagExists(const char* dir, const char* state, const char* suffix) {
  char path[512];
  snprintf(path, sizeof path, "%s/%s.%s", dir, state, suffix);
  return access(path, F_OK) == 0;
}

static int Present(const char* dir, const char* state, int hotplug) {
  if (FlagExists(dir, state, "absent"))
    return 0;
  return !hotplug || FlagExists(dir, state, "present");
}

/* The number in DIR/<state>.generation, 0 when there is none. */
static long Generation(const char* dir, const char* state) {
  char path[512];
  snprintf(path, sizeof path, "%s/%s.generation", dir, state);
  FILE* file = fopen(path, "r");
  if (file == NULL)
    return 0;
  long generation = 0;
  if (fscanf(file, "%ld", &generation) != 1)
    generation = 0;
  fclose(file);
  return generation;
}

/* Whether this handle still reaches its device: the device is there and was not unplugged
 * since the handle was opened. */
static int Alive(const VirtualMixer* mixer) {
  return Present(mixer->dir, mixer->state, mixer->hotplug) &&
         Generation(mixer->dir, mixer->state) == mixer->generation;
}

/* The element's key in the state file: its name, and its index when that is not 0. */
static void StateKey(const ElementSpec* spec, char* out, size_t size) {
  if (spec->index == 0) {
    snprintf(out, size, "%s", spec->name);
  } else {
    snprintf(out, size, "%s,%u", spec->name, spec->index);
  }
}

/* A value edited by hand may lie outside the element's range: take the nearest end. */
static long Clamp(long value, const ElementSpec* spec) {
  return value < spec->min ? spec->min : (value > spec->max ? spec->max : value);
}

/* Reads every element's values; elements missing from the file keep their initial values. */
static void LoadValues(const VirtualMixer* mixer, long values[kElementCount][kChannels]) {
  for (int i = 0; i < kElementCount; ++i) {
    for (int c = 0; c < kChannels; ++c)
      values[i][c] = kElements[i].initial;
  }
  char path[512];
  snprintf(path, sizeof path, "%s/%s.state", mixer->dir, mixer->state);
  FILE* file = fopen(path, "r");
  if (file == NULL)
    return;
  char line[256];
  while (fgets(line, sizeof line, file) != NULL) {
    char* equals = strchr(line, '=');
    if (equals == NULL)
      continue;
    *equals = '\0';
    for (int i = 0; i < kElementCount; ++i) {
      char key[128];
      StateKey(&kElements[i], key, sizeof key);
      if (strcmp(line, key) != 0)
        continue;
      long left = 0, right = 0;
      if (sscanf(equals + 1, "%ld,%ld", &left, &right) == 2) {
        values[i][0] = Clamp(left, &kElements[i]);
        values[i][1] = Clamp(right, &kElements[i]);
      }
    }
  }
  fclose(file);
}

/* Writes the whole state to a temporary file and renames it over the old one, so that a
 * reader never sees half a file. */
static int SaveValues(const VirtualMixer* mixer, long values[kElementCount][kChannels]) {
  char path[512], temp[600];
  snprintf(path, sizeof path, "%s/%s.state", mixer->dir, mixer->state);
  snprintf(temp, sizeof temp, "%s.%d.tmp", path, (int)getpid());
  FILE* file = fopen(temp, "w");
  if (file == NULL)
    return -errno;
  for (int i = 0; i < kElementCount; ++i) {
    char key[128];
    StateKey(&kElements[i], key, sizeof key);
    fprintf(file, "%s=%ld,%ld\n", key, values[i][0], values[i][1]);
  }
  if (fclose(file) != 0 || rename(temp, path) != 0) {
    int error = -errno;
    unlink(temp);
    return error;
  }
  return 0;
}

static int LockState(const VirtualMixer* mixer) {
  mkdir(mixer->dir, 0700);
  char path[512];
  snprintf(path, sizeof path, "%s/%s.lock", mixer->dir, mixer->state);
  int fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (fd < 0)
    return -errno;
  if (flock(fd, LOCK_EX) != 0) {
    int error = -errno;
    close(fd);
    return error;
  }
  return fd;
}

static int ElemCount(snd_ctl_ext_t* ext) {
  return Alive(ext->private_data) ? kElementCount : -ENODEV;
}

static int ElemList(snd_ctl_ext_t* ext, unsigned int offset, snd_ctl_elem_id_t* id) {
  (void)ext;
  if (offset >= kElementCount)
    return -EINVAL;
  snd_ctl_elem_id_set_interface(id, SND_CTL_ELEM_IFACE_MIXER);
  snd_ctl_elem_id_set_name(id, kElements[offset].name);
  snd_ctl_elem_id_set_index(id, kElements[offset].index);
  return 0;
}

static snd_ctl_ext_key_t FindElem(snd_ctl_ext_t* ext, const snd_ctl_elem_id_t* id) {
  (void)ext;
  if (snd_ctl_elem_id_get_interface(id) != SND_CTL_ELEM_IFACE_MIXER) {
    return SND_CTL_EXT_KEY_NOT_FOUND;
  }
  unsigned int numid = snd_ctl_elem_id_get_numid(id);
  if (numid > 0 && numid <= kElementCount)
    return numid - 1;
  const char* name = snd_ctl_elem_id_get_name(id);
  for (unsigned int i = 0; i < kElementCount; ++i) {
    if (strcmp(name, kElements[i].name) == 0 && snd_ctl_elem_id_get_index(id) == kElements[i].index)
      return i;
  }
  return SND_CTL_EXT_KEY_NOT_FOUND;
}

static int GetAttribute(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int* type, unsigned int* acc,
                        unsigned int* count) {
  (void)ext;
  if (key >= kElementCount)
    return -EINVAL;
  const ElementSpec* spec = &kElements[key];
  *type = spec->kind == kSwitch       ? SND_CTL_ELEM_TYPE_BOOLEAN
          : spec->kind == kEnumerated ? SND_CTL_ELEM_TYPE_ENUMERATED
                                      : SND_CTL_ELEM_TYPE_INTEGER;
  *acc = spec->readOnly ? SND_CTL_EXT_ACCESS_READ : SND_CTL_EXT_ACCESS_READWRITE;
  if (spec->dbMin != 0 || spec->dbStep != 0)
    *acc |= SND_CTL_EXT_ACCESS_TLV_READ | SND_CTL_EXT_ACCESS_TLV_CALLBACK;
  *count = spec->kind == kEnumerated ? 1 : kChannels;
  return 0;
}

/* The dB scale of an element, as a sound card's driver reports it. */
static int ReadTlv(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, int opFlag, unsigned int numid,
                   unsigned int* tlv, unsigned int tlvSize) {
  (void)ext;
  (void)numid;
  if (key >= kElementCount || opFlag != 0)
    return -ENXIO;
  const ElementSpec* spec = &kElements[key];
  if (tlvSize < 4 * sizeof(unsigned int))
    return -ENOMEM;
  tlv[0] = SND_CTL_TLVT_DB_SCALE;
  tlv[1] = 2 * sizeof(unsigned int);
  tlv[2] = (unsigned int)spec->dbMin;
  tlv[3] = ((unsigned int)spec->dbStep & 0xffffu) | (spec->dbMuteAtMin ? 0x10000u : 0u);
  return 0;
}

static int GetEnumeratedInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
  (void)ext;
  if (key >= kElementCount || kElements[key].kind != kEnumerated)
    return -EINVAL;
  *items = (unsigned int)(kElements[key].max + 1);
  return 0;
}

static int GetEnumeratedName(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int item,
                             char* name, size_t maxLength) {
  (void)ext;
  if (key >= kElementCount || kElements[key].kind != kEnumerated ||
      item >= sizeof kSourceItems / sizeof kSourceItems[0])
    return -EINVAL;
  snprintf(name, maxLength, "%s", kSourceItems[item]);
  return 0;
}

static int GetIntegerInfo(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* imin, long* imax,
                          long* istep) {
  (void)ext;
  if (key >= kElementCount)
    return -EINVAL;
  *imin = kElements[key].min;
  *imax = kElements[key].max;
  *istep = 1;
  return 0;
}

static int ReadInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
  VirtualMixer* mixer = ext->private_data;
  if (key >= kElementCount)
    return -EINVAL;
  if (!Alive(mixer))
    return -ENODEV;
  long values[kElementCount][kChannels];
  LoadValues(mixer, values);
  for (int c = 0; c < kChannels; ++c)
    value[c] = values[key][c];
  return 0;
}

static int WriteValues(VirtualMixer* mixer, snd_ctl_ext_key_t key, const long* value);

static int WriteInteger(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, long* value) {
  if (key >= kElementCount || kElements[key].readOnly)
    return -EPERM;
  return WriteValues(ext->private_data, key, value);
}

static int ReadEnumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
  long value[kChannels];
  int error = ReadInteger(ext, key, value);
  if (error >= 0)
    items[0] = (unsigned int)value[0];
  return error;
}

static int WriteEnumerated(snd_ctl_ext_t* ext, snd_ctl_ext_key_t key, unsigned int* items) {
  if (key >= kElementCount)
    return -EINVAL;
  const long value[kChannels] = {(long)items[0], (long)items[0]};
  return WriteValues(ext->private_data, key, value);
}

/* Stores one element's values for every process to see; 1 when they changed. */
static int WriteValues(VirtualMixer* mixer, snd_ctl_ext_key_t key, const long* value) {
  if (!Alive(mixer))
    return -ENODEV;
  const ElementSpec* spec = &kElements[key];
  for (int c = 0; c < kChannels; ++c) {
    if (value[c] < spec->min || value[c] > spec->max)
      return -EINVAL;
  }
  int lock = LockState(mixer);
  if (lock < 0)
    return lock;
  long values[kElementCount][kChannels];
  LoadValues(mixer, values);
  int changed = 0;
  for (int c = 0; c < kChannels; ++c) {
    changed |= values[key][c] != value[c];
    values[key][c] = value[c];
  }
  int result = changed ? SaveValues(mixer, values) : 0;
  close(lock);
  return result < 0 ? result : changed;
}

static int ReadEvent(snd_ctl_ext_t* ext, snd_ctl_elem_id_t* id, unsigned int* eventMask) {
  (void)ext;
  (void)id;
  (void)eventMask;
  return -EAGAIN;
}

static void Close(snd_ctl_ext_t* ext) {
  VirtualMixer* mixer = ext->private_data;
  close(mixer->pipe[0]);
  close(mixer->pipe[1]);
  free(mixer);
}

static const snd_ctl_ext_callback_t kCallbacks = {
    .close = Close,
    .elem_count = ElemCount,
    .elem_list = ElemList,
    .find_elem = FindElem,
    .get_attribute = GetAttribute,
    .get_integer_info = GetIntegerInfo,
    .get_enumerated_info = GetEnumeratedInfo,
    .get_enumerated_name = GetEnumeratedName,
    .read_integer = ReadInteger,
    .read_enumerated = ReadEnumerated,
    .write_integer = WriteInteger,
    .write_enumerated = WriteEnumerated,
    .read_event = ReadEvent,
};

SND_CTL_PLUGIN_DEFINE_FUNC(calvora) {
  (void)root;
  const char* state = "mixer";
  const char* cardName = "Calvora Virtual Mixer";
  int hotplug = 0;
  snd_config_iterator_t i, next;
  snd_config_for_each(i, next, conf) {
    snd_config_t* node = snd_config_iterator_entry(i);
    const char* id;
    if (snd_config_get_id(node, &id) < 0)
      continue;
    if (strcmp(id, "comment") == 0 || strcmp(id, "type") == 0 || strcmp(id, "hint") == 0) {
      continue;
    }
    if (strcmp(id, "state") == 0) {
      if (snd_config_get_string(node, &state) < 0)
        return -EINVAL;
    } else if (strcmp(id, "name") == 0) {
      if (snd_config_get_string(node, &cardName) < 0)
        return -EINVAL;
    } else if (strcmp(id, "hotplug") == 0) {
      hotplug = snd_config_get_bool(node);
      if (hotplug < 0)
        return -EINVAL;
    } else {
      SNDERR("Unknown field %s", id);
      return -EINVAL;
    }
  }
  if (strchr(state, '/') != NULL || strlen(state) == 0)
    return -EINVAL;

  VirtualMixer* mixer = calloc(1, sizeof *mixer);
  if (mixer == NULL)
    return -ENOMEM;
  StateDir(mixer->dir, sizeof mixer->dir);
  snprintf(mixer->state, sizeof mixer->state, "%s", state);
  mixer->hotplug = hotplug;
  mixer->generation = Generation(mixer->dir, mixer->state);
  if (!Present(mixer->dir, mixer->state, hotplug)) {
    free(mixer);
    return -ENODEV;
  }
  if (pipe2(mixer->pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
    free(mixer);
    return -errno;
  }
  mixer->ext.version = SND_CTL_EXT_VERSION;
  mixer->ext.card_idx = -1;
  snprintf(mixer->ext.id, sizeof mixer->ext.id, "Calvora");
  snprintf(mixer->ext.driver, sizeof mixer->ext.driver, "calvora");
  snprintf(mixer->ext.name, sizeof mixer->ext.name, "%s", cardName);
  snprintf(mixer->ext.longname, sizeof mixer->ext.longname, "%s", cardName);
  snprintf(mixer->ext.mixername, sizeof mixer->ext.mixername, "%s", cardName);
  mixer->ext.poll_fd = mixer->pipe[0];
  mixer->ext.callback = &kCallbacks;
  mixer->ext.tlv.c = ReadTlv;
  mixer->ext.private_data = mixer;
  int error = snd_ctl_ext_create(&mixer->ext, name, mode);
  if (error < 0) {
    close(mixer->pipe[0]);
    close(mixer->pipe[1]);
    free(mixer);
    return error;
  }
  *handlep = mixer->ext.handle;
  return 0;
}

SND_CTL_PLUGIN_SYMBOL(calvora)
