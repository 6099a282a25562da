#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, skipping those present.
# Every package the project needs is named here and nowhere else.
#   scripts/install-deps.sh           everything (scripts/build.sh runs this)
#   scripts/install-deps.sh windows   only the Windows cross build and Wine (scripts/build-windows.sh)
#   scripts/install-deps.sh display   only a virtual display for the Windows tests (scripts/test-windows.sh)
set -euo pipefail
group=${1:-all}
# What both builds need: CMake with Ninja, the header-only libraries of calvora-ctl and of the
# settings file's encodings (the Windows build takes them straight from these packages).
both=(cmake ninja-build libcli11-dev nlohmann-json3-dev libutfcpp-dev googletest)
# The Windows build: the cross compiler, Wine to run it, the installer; apt-get source (dpkg-dev)
# and make for the libraries scripts/windows-libraries.sh builds from Debian's sources, and the
# autotools for the one whose source comes without its configure script (libxcrypt).
cross=(mingw-w64 wine wine64 nsis dpkg-dev make autoconf automake libtool pkg-config)
windows=("${both[@]}" "${cross[@]}")
# A virtual display (xvfb-run needs xauth).
display=(xvfb xauth)
packages=(
  "${both[@]}" g++ pkg-config clang-format
  qt6-base-dev libgl-dev fonts-dejavu-core
  libasound2-dev alsa-utils libasound2-plugins
  libsystemd-dev dbus dbus-bin
  x11-utils x11-apps netpbm python3 python3-dbus python3-gi
  desktop-file-utils file
  # The packages: the Debian package's checks and manual pages.
  lintian help2man appstream zip
  libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xdotool
  # The desktop's own sound server for the tests and the demo: PipeWire with its session manager
  # and PulseAudio server, and PulseAudio's command-line tools. None starts by itself here.
  pipewire pipewire-bin wireplumber pipewire-pulse pulseaudio-utils
  # The benchmarks' baseline: capture with silence detection, as a user would run it instead.
  ffmpeg
  libebur128-dev curl
  # serve's listening stream and the clips of events: Ogg Opus through libopusenc.
  libopus-dev libopusenc-dev libogg-dev
  # calvora-ctl serve's HTTP server with TLS and passwords, and the certificates its tests make;
  # its web configuration is read as YAML.
  libmicrohttpd-dev libgnutls28-dev libcrypt-dev gnutls-bin libyaml-cpp-dev
  # The live page of calvora-ctl serve is tested in headless Chromium.
  chromium
  "${cross[@]}" "${display[@]}"
)
# The station group's tests: promtool and a real Prometheus and Alertmanager, started by the
# tests themselves. Without their recommends (node-exporter would be one more service).
monitoring=(prometheus prometheus-alertmanager)
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
missing_from() {
  missing=()
  for p in "$@"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
  done
}
install_missing() {  # install_missing [apt-get options...] -- packages...
  local options=()
  while [ "$1" != -- ]; do options+=("$1"); shift; done
  shift
  missing_from "$@"
  [ ${#missing[@]} -eq 0 ] && return 0
  echo "Installing: ${missing[*]}"
  "${sudo_cmd[@]}" apt-get install -y "${options[@]}" "${missing[@]}" || {
    "${sudo_cmd[@]}" apt-get update && "${sudo_cmd[@]}" apt-get install -y "${options[@]}" "${missing[@]}"
  }
}
case "$group" in
  all) ;;
  windows | display)
    # Without recommends: a Windows build on a machine that has only what it needs.
    group_packages="${group}[@]"
    install_missing --no-install-recommends -- "${!group_packages}"
    exit 0
    ;;
  *)
    echo "usage: $0 [all|windows|display]" >&2
    exit 2
    ;;
esac
install_missing -- "${packages[@]}"
missing_from "${monitoring[@]}"
new_monitoring=("${missing[@]}")
install_missing --no-install-recommends -- "${monitoring[@]}"
# Debian's packages start and enable a system-wide Prometheus (:9090) and Alertmanager (:9093,
# :9094) on every interface. Nothing here should listen outside a test: the ones just installed
# are stopped and disabled.
for service in "${new_monitoring[@]}"; do
  if [ -d /run/systemd/system ]; then
    "${sudo_cmd[@]}" systemctl disable --now "$service" >/dev/null 2>&1 || true
  else
    "${sudo_cmd[@]}" systemctl disable "$service" >/dev/null 2>&1 || true
    "${sudo_cmd[@]}" service "$service" stop >/dev/null 2>&1 || true
    "${sudo_cmd[@]}" update-rc.d "$service" disable >/dev/null 2>&1 || true
  fi
done
