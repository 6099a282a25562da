#!/usr/bin/env bash
# Cross-builds the C libraries calvora-ctl.exe's station monitor needs, from Debian's source
# packages at the versions Debian ships, with mingw-w64 into a folder of the Windows build:
#   libebur128     the loudness and true peak (CMake)
#   libmicrohttpd  serve's HTTP server, on Windows sockets, without TLS (autotools)
#   yaml-cpp       the reader of serve's web configuration (CMake)
#   libxcrypt      libcrypt's bcrypt, which checks the web configuration's passwords (autotools)
#   opus           the Opus codec under the listening stream and the clips of events (autotools)
#   libopusenc     Ogg Opus streams over opus, with its own Ogg pages: no libogg (autotools)
# Usage: scripts/windows-libraries.sh BUILD_DIR   (prints nothing on a run that has nothing to do)
# The libraries are static and go to BUILD_DIR/windows-libraries/prefix; each is built once per
# build folder (a stamp with its version) and taken as it is on the next run. Nothing is
# installed on the machine for them and nothing is fetched but Debian's source packages, for
# which a deb-src entry of the machine's own suite is added to apt's sources once.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(mkdir -p "${1:?usage: $0 BUILD_DIR}" && cd "$1" && pwd)
libraries=$build/windows-libraries
prefix=$libraries/prefix
triplet=x86_64-w64-mingw32
jobs=${JOBS:-2}
sudo_cmd=()
[ "$(id -u)" -ne 0 ] && sudo_cmd=(sudo)

# apt-get source needs a deb-src line of the suite the machine runs (bookworm here).
sources_entry=/etc/apt/sources.list.d/calvora-debian-sources.sources
ensure_source_entry() {
  apt-cache showsrc libebur128 >/dev/null 2>&1 && return 0
  local suite
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:?}")
  echo "windows-libraries.sh: adding Debian's source packages of $suite to apt ($sources_entry)"
  printf '%s\n' "Types: deb-src" "URIs: http://deb.debian.org/debian" \
    "Suites: $suite $suite-updates" "Components: main" \
    "Signed-By: /usr/share/keyrings/debian-archive-keyring.gpg" |
    "${sudo_cmd[@]}" tee "$sources_entry" >/dev/null
  "${sudo_cmd[@]}" apt-get update -q >/dev/null
}

# The source package's version as apt has it, e.g. 1.2.6-1.
source_version() {
  apt-cache showsrc "$1" | awk '/^Version:/ {print $2; exit}'
}

# Unpacks the source package $1 into $2 with Debian's patches applied (apt-get source). Where the
# mirror lacks the Debian part of the package, the upstream tarball it names is checked against
# the .dsc's SHA-256 and unpacked alone: the same upstream source at Debian's version.
unpack_source() {
  local package=$1 target=$2 download=$libraries/download/$1
  rm -rf "$download" "$target"
  mkdir -p "$download"
  if (cd "$download" && apt-get source -q "$package" >/dev/null 2>&1); then
    mv "$(find "$download" -mindepth 1 -maxdepth 1 -type d | head -1)" "$target"
    return 0
  fi
  local dsc orig sum
  dsc=$(ls "$download"/*.dsc 2>/dev/null | head -1)
  orig=$(ls "$download"/*.orig.tar.* 2>/dev/null | head -1)
  if [ -z "$dsc" ] || [ -z "$orig" ]; then
    echo "windows-libraries.sh: apt-get source $package failed" >&2
    return 1
  fi
  sum=$(awk -v f="$(basename "$orig")" '/^Checksums-Sha256:/ {s=1; next} /^[^ ]/ {s=0} s && $3==f {print $1}' "$dsc")
  echo "$sum  $orig" | sha256sum -c --quiet - || return 1
  echo "windows-libraries.sh: $package: Debian's part is missing on the mirror; building its upstream source $(basename "$orig")" >&2
  mkdir -p "$target"
  tar -xf "$orig" -C "$target" --strip-components=1
}

# build_once PACKAGE BUILD_FUNCTION: builds PACKAGE unless its stamp names the same version.
build_once() {
  local package=$1 build_function=$2 version stamp
  version=$(source_version "$package")
  [ -n "$version" ] || { echo "windows-libraries.sh: apt knows no source package $package" >&2; return 1; }
  stamp=$prefix/stamps/$package
  [ -f "$stamp" ] && [ "$(cat "$stamp")" = "$version" ] && return 0
  echo "windows-libraries.sh: building $package $version for Windows"
  local started=$SECONDS source=$libraries/source/$package
  unpack_source "$package" "$source"
  # In a subshell of its own, so that the first failing step stops it (errexit does not work
  # inside a function called from a condition).
  local status=0
  set +e
  (set -e; "$build_function" "$source" "$libraries/build/$package") >"$libraries/$package.log" 2>&1
  status=$?
  set -e
  [ $status -eq 0 ] || {
    echo "windows-libraries.sh: $package failed; see $libraries/$package.log" >&2
    tail -20 "$libraries/$package.log" >&2
    return 1
  }
  mkdir -p "$prefix/stamps"
  echo "$version" >"$stamp"
  echo "windows-libraries.sh: $package built in $((SECONDS - started)) s"
}

build_ebur128() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DBUILD_SHARED_LIBS=OFF -DBUILD_STATIC_LIBS=ON
  cmake --build "$2" -j "$jobs"
  cmake --install "$2"
}

# Windows sockets; no TLS (GnuTLS is not built for Windows), no documentation.
build_microhttpd() {
  rm -rf "$2"
  mkdir -p "$2"
  (cd "$2" && "$1/configure" --host=$triplet --prefix="$prefix" \
    CC=$triplet-gcc-posix --enable-static --disable-shared --disable-https \
    --without-gnutls --disable-doc --disable-examples --disable-curl --disable-nls \
    --disable-dependency-tracking)
  make -C "$2" -j "$jobs"
  make -C "$2" install
}

# The parser alone: no tests, tools or contrib.
build_yaml_cpp() {
  cmake -S "$1" -B "$2" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$root/cmake/toolchain-mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX="$prefix" -DYAML_BUILD_SHARED_LIBS=OFF \
    -DYAML_CPP_BUILD_TESTS=OFF -DYAML_CPP_BUILD_TOOLS=OFF -DYAML_CPP_BUILD_CONTRIB=OFF
  cmake --build "$2" -j "$jobs"
  cmake --install "$2"
}

# bcrypt only ($2b$, $2y$ and the older $2a$): the passwords of a web configuration are nothing
# else, and the old crypt() interfaces are not needed. Debian's source is the upstream tree
# without its configure script, which autoreconf makes (as Debian's own build does).
build_xcrypt() {
  rm -rf "$2"
  mkdir -p "$2"
  [ -x "$1/configure" ] || (cd "$1" && autoreconf -fi)
  (cd "$2" && "$1/configure" --host=$triplet --prefix="$prefix" \
    CC=$triplet-gcc-posix --enable-static --disable-shared --enable-hashes=bcrypt,bcrypt_y,bcrypt_a \
    --disable-obsolete-api --disable-failure-tokens --disable-werror --disable-dependency-tracking)
  make -C "$2" -j "$jobs"
  make -C "$2" install
}

# The codec alone: no documentation, no demo or test programs. Its defaults (run-time CPU
# detection with SSE intrinsics, exact floating point) build cleanly with mingw-w64.
build_opus() {
  rm -rf "$2"
  mkdir -p "$2"
  (cd "$2" && "$1/configure" --host=$triplet --prefix="$prefix" \
    CC=$triplet-gcc-posix --enable-static --disable-shared --disable-doc \
    --disable-extra-programs --disable-dependency-tracking)
  make -C "$2" -j "$jobs"
  make -C "$2" install
}

# The library alone, without its example and documentation. configure finds opus through
# pkg-config (the host's, told where to look): only in the prefix, never the host's Linux
# libraries.
build_opusenc() {
  rm -rf "$2"
  mkdir -p "$2"
  (cd "$2" && PKG_CONFIG=pkg-config PKG_CONFIG_LIBDIR="$prefix/lib/pkgconfig" PKG_CONFIG_PATH= \
    "$1/configure" --host=$triplet --prefix="$prefix" \
    CC=$triplet-gcc-posix --enable-static --disable-shared --disable-examples --disable-doc \
    --disable-dependency-tracking)
  make -C "$2" -j "$jobs"
  make -C "$2" install
}

mkdir -p "$libraries"
command -v dpkg-source >/dev/null || { echo "windows-libraries.sh: dpkg-source is missing (dpkg-dev)" >&2; exit 1; }
ensure_source_entry
build_once libebur128 build_ebur128
build_once libmicrohttpd build_microhttpd
build_once yaml-cpp build_yaml_cpp
build_once libxcrypt build_xcrypt
build_once opus build_opus
build_once libopusenc build_opusenc
