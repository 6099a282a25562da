/* A control plugin that must never be opened by a listing: its open leaves a mark in
 * $CALVORA_VIRTUAL_CARD_DIR/trap.opened and fails, as a plugin that drives hardware of its own
 * would do something there and fail without it. */
#define PIC
#include <alsa/asoundlib.h>
#include <alsa/control_external.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>

SND_CTL_PLUGIN_DEFINE_FUNC(calvora_trap) {
  (void)name;
  (void)root;
  (void)conf;
  (void)mode;
  (void)handlep;
  const char* dir = getenv("CALVORA_VIRTUAL_CARD_DIR");
  char path[512];
  snprintf(path, sizeof path, "%s/trap.opened", dir != NULL ? dir : "/tmp");
  FILE* mark = fopen(path, "w");
  if (mark != NULL)
    fclose(mark);
  return -ENODEV;
}

SND_CTL_PLUGIN_SYMBOL(calvora_trap)
