#!/usr/bin/env bash
# PipeWire's ALSA configuration, as Debian's pipewire-alsa package installs it on a desktop with
# PipeWire (ALSA's default device and mixer are then PipeWire's), without installing it: the
# package is unpacked into DIR, and DIR/home/.asoundrc declares its plugins from there and reads
# its two configuration files. ALSA reads ~/.asoundrc, so a program run with HOME=DIR/home sees
# the desktop as it would be with the package installed; nothing else on the machine does.
#
#   scripts/pipewire-alsa.sh DIR      prepares DIR (once) and prints DIR/home
set -euo pipefail
dir=$(mkdir -p "$1" && cd "$1" && pwd)
root=$dir/root
if [ ! -e "$root/usr/share/alsa/alsa.conf.d/99-pipewire-default.conf" ]; then
  # The version that goes with the installed PipeWire.
  version=$(dpkg-query -W -f='${Version}' pipewire 2>/dev/null || true)
  (cd "$dir" && rm -f pipewire-alsa_*.deb &&
   apt-get download -q "pipewire-alsa${version:+=$version}" >/dev/null 2>&1 ||
   apt-get download -q pipewire-alsa >/dev/null)
  rm -rf "$root"
  dpkg-deb -x "$dir"/pipewire-alsa_*.deb "$root"
fi
plugin=$(find "$root" -name libasound_module_pcm_pipewire.so | head -n 1)
[ -n "$plugin" ] || { echo "pipewire-alsa.sh: no PipeWire plugin in $root" >&2; exit 1; }
libdir=$(dirname "$plugin")
mkdir -p "$dir/home"
cat > "$dir/home/.asoundrc" <<CONF
# PipeWire's ALSA configuration from the unpacked pipewire-alsa package (scripts/pipewire-alsa.sh).
pcm_type.pipewire { lib "$libdir/libasound_module_pcm_pipewire.so" }
ctl_type.pipewire { lib "$libdir/libasound_module_ctl_pipewire.so" }
<$root/usr/share/alsa/alsa.conf.d/50-pipewire.conf>
<$root/usr/share/alsa/alsa.conf.d/99-pipewire-default.conf>
CONF
echo "$dir/home"
