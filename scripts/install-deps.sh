#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, skipping those present.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config clang-format
  qt6-base-dev libgl-dev fonts-dejavu-core
  libasound2-dev alsa-utils libasound2-plugins
  libsystemd-dev dbus dbus-bin
  xvfb x11-utils x11-apps netpbm python3 python3-dbus python3-gi
  desktop-file-utils dpkg-dev file
  # The packages: the Debian package's checks and manual pages, the Windows installer.
  lintian help2man appstream nsis zip
  googletest libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-14-dev
  xdotool
  # The benchmarks' baseline: capture with silence detection, as a user would run it instead.
  ffmpeg
  libebur128-dev libcpp-httplib-dev nlohmann-json3-dev libcli11-dev curl
  # The Windows build: the cross compiler, GoogleTest's sources, Wine to run it, xauth for
  # xvfb-run.
  mingw-w64 wine wine64 xauth
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  sudo_cmd=()
  [ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)
  export DEBIAN_FRONTEND=noninteractive
  "${sudo_cmd[@]}" apt-get install -y "${missing[@]}" || {
    "${sudo_cmd[@]}" apt-get update && "${sudo_cmd[@]}" apt-get install -y "${missing[@]}"
  }
fi
