/* calvora-virtual-capture-ctl: steers a virtual capture device from another process by
 * rewriting its state file in $CALVORA_VIRTUAL_CARD_DIR.
 *
 *   calvora-virtual-capture-ctl [-d DEVICE] programme silence | tone DB [HZ] |
 *                                           pattern SEGMENTS | file PATH
 *   calvora-virtual-capture-ctl [-d DEVICE] refuse | vanish | present | show
 */
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include "programme.h"

static int usage(void) {
  fprintf(stderr,
          "usage: calvora-virtual-capture-ctl [-d DEVICE] COMMAND\n"
          "  programme silence | tone DB [HZ] | pattern tone:DB:S[:HZ],silence:S,... | file PATH\n"
          "  refuse      the device refuses to open\n"
          "  vanish      the device is gone: open fails, a running capture fails\n"
          "  present     the device is back\n"
          "  show        prints the state\n"
          "CALVORA_VIRTUAL_CARD_DIR names the directory of the state files.\n");
  return 2;
}

int main(int argc, char** argv) {
  const char* device = "capture";
  int arg = 1;
  if (arg + 1 < argc && strcmp(argv[arg], "-d") == 0) {
    device = argv[arg + 1];
    arg += 2;
  }
  if (arg >= argc)
    return usage();
  char path[4096];
  if (vc_state_path(device, path, sizeof path) != 0) {
    fprintf(stderr, "calvora-virtual-capture-ctl: CALVORA_VIRTUAL_CARD_DIR is not set\n");
    return 1;
  }
  struct vc_state state = {VC_PRESENT, ""};
  int err = vc_read_state(path, &state);
  if (err) {
    fprintf(stderr, "calvora-virtual-capture-ctl: %s: %s\n", path, strerror(-err));
    return 1;
  }

  const char* command = argv[arg++];
  if (strcmp(command, "show") == 0) {
    static const char* const names[] = {"present", "refuse", "vanished"};
    printf("device %s\nprogramme %s\n", names[state.device], state.programme);
    return 0;
  }
  if (strcmp(command, "refuse") == 0) {
    state.device = VC_REFUSE;
  } else if (strcmp(command, "vanish") == 0) {
    state.device = VC_VANISHED;
  } else if (strcmp(command, "present") == 0) {
    state.device = VC_PRESENT;
  } else if (strcmp(command, "programme") == 0) {
    char text[VC_TEXT_MAX] = "";
    for (; arg < argc; ++arg) {
      if (text[0])
        strncat(text, " ", sizeof text - strlen(text) - 1);
      strncat(text, argv[arg], sizeof text - strlen(text) - 1);
    }
    /* Checked here, so that a typo is reported instead of silently ignored by the device. */
    struct vc_programme programme;
    err = vc_parse_programme(text, &programme);
    vc_free_programme(&programme);
    if (err || !text[0]) {
      fprintf(stderr, "calvora-virtual-capture-ctl: cannot play \"%s\": %s\n", text,
              strerror(err ? -err : EINVAL));
      return 1;
    }
    snprintf(state.programme, sizeof state.programme, "%s", text);
  } else {
    return usage();
  }
  err = vc_write_state(path, &state);
  if (err) {
    fprintf(stderr, "calvora-virtual-capture-ctl: %s: %s\n", path, strerror(-err));
    return 1;
  }
  return 0;
}
