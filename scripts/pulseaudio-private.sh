#!/usr/bin/env bash
# PulseAudio itself, for the tests on a machine where PipeWire's PulseAudio server is installed
# (Debian's pulseaudio and pipewire-pulse conflict, so they cannot be installed together): the
# pulseaudio package is unpacked into DIR, not installed, and run from there by the test.
#
#   scripts/pulseaudio-private.sh DIR      prepares DIR (once) and prints the pulseaudio program
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
root=$dir/root
if [ ! -x "$root/usr/bin/pulseaudio" ]; then
  # The version that goes with the installed client library.
  version=$(dpkg-query -W -f='${Version}' libpulse0 2>/dev/null || true)
  (cd "$dir" && rm -f ./*.deb &&
   { apt-get download -q "pulseaudio${version:+=$version}" >/dev/null 2>&1 ||
     apt-get download -q pulseaudio >/dev/null; } &&
   apt-get download -q libwrap0 >/dev/null)
  rm -rf "$root"
  for deb in "$dir"/*.deb; do dpkg-deb -x "$deb" "$root"; done
fi
echo "$root/usr/bin/pulseaudio"
