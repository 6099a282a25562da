#!/usr/bin/env bash
# Installation: a staged `cmake --install` into a temporary prefix holds the two programs, a
# valid desktop entry, the icons and the AppStream metadata, and the installed program starts
# and closes; the Debian package holds the same files, declares the libraries they need, and
# lintian finds no error and no warning in it.
set -euo pipefail
build=$1
work=$(mktemp -d)
pid=""
cleanup() {
  [ -n "$pid" ] && kill -9 "$pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >"$work/install.log" || fail "cmake --install failed"
for file in bin/calvora-audio-mixer bin/calvora-ctl share/applications/calvora-audio-mixer.desktop \
  share/icons/hicolor/64x64/apps/calvora-audio-mixer.png \
  share/icons/hicolor/scalable/apps/calvora-audio-mixer.svg \
  share/metainfo/com.calvora.audiomixer.metainfo.xml lib/systemd/user/calvora-ctl@.service \
  share/man/man1/calvora-audio-mixer.1.gz share/man/man1/calvora-ctl.1.gz; do
  [ -f "$prefix/$file" ] || fail "$file was not installed"
done
[ -x "$prefix/bin/calvora-audio-mixer" ] && [ -x "$prefix/bin/calvora-ctl" ] ||
  fail "the programs are not executable"
desktop-file-validate "$prefix/share/applications/calvora-audio-mixer.desktop" ||
  fail "the desktop entry is not valid"
grep -qx 'Exec=calvora-audio-mixer' "$prefix/share/applications/calvora-audio-mixer.desktop" ||
  fail "the desktop entry does not start calvora-audio-mixer"
grep -qx 'Icon=calvora-audio-mixer' "$prefix/share/applications/calvora-audio-mixer.desktop" ||
  fail "the desktop entry does not name the installed icon"
file "$prefix/share/icons/hicolor/64x64/apps/calvora-audio-mixer.png" | grep -q '64 x 64' ||
  fail "the icon is not a 64 x 64 PNG"
appstreamcli validate --no-net "$prefix/share/metainfo/com.calvora.audiomixer.metainfo.xml" ||
  fail "the AppStream metadata is not valid"
grep -q '<launchable type="desktop-id">calvora-audio-mixer.desktop</launchable>' \
  "$prefix/share/metainfo/com.calvora.audiomixer.metainfo.xml" ||
  fail "the AppStream metadata does not launch the desktop entry"
grep -q '^<svg ' "$prefix/share/icons/hicolor/scalable/apps/calvora-audio-mixer.svg" ||
  fail "the scalable icon is no SVG"
# The unit names calvora-ctl where this install put it, whatever prefix the build was made for.
grep -qF "exec \"$prefix/bin/calvora-ctl\"" "$prefix/lib/systemd/user/calvora-ctl@.service" ||
  fail "the unit does not start $prefix/bin/calvora-ctl"
echo "ok: staged install holds the programs, a valid desktop entry, the icons, the metadata"

# The installed program runs (no bus, no display here) and closes on SIGTERM; with no settings
# file beside it, it starts with the defaults and writes nothing.
export QT_QPA_PLATFORM=offscreen XDG_CONFIG_HOME="$work/config" XDG_CONFIG_DIRS="$work/xdg"
unset DBUS_SESSION_BUS_ADDRESS
"$prefix/bin/calvora-audio-mixer" >"$work/app.log" 2>&1 &
pid=$!
sleep 2
kill -0 "$pid" 2>/dev/null || { cat "$work/app.log" >&2; fail "the installed program ended by itself"; }
kill -TERM "$pid"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || { cat "$work/app.log" >&2; fail "exit status $status after SIGTERM"; }
[ ! -e "$prefix/bin/calvora-audio-mixer.ini" ] || fail "the program wrote a settings file on its own"
# The help is read whole first: grep -q would stop reading at its first match, and under
# pipefail the writer's broken pipe would then fail the check at random.
help=$("$prefix/bin/calvora-ctl" --help) || fail "calvora-ctl --help"
grep -q '^Usage: calvora-ctl' <<<"$help" || fail "calvora-ctl --help"
echo "ok: the installed program starts and closes on SIGTERM"

# The Debian package.
cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(ls "$work"/package/calvora-audio-mixer_*_*.deb)
contents=$(dpkg-deb -c "$deb" | awk '{print $6}')
for file in ./usr/bin/calvora-audio-mixer ./usr/bin/calvora-ctl \
  ./usr/share/applications/calvora-audio-mixer.desktop \
  ./usr/share/icons/hicolor/64x64/apps/calvora-audio-mixer.png \
  ./usr/share/icons/hicolor/scalable/apps/calvora-audio-mixer.svg \
  ./usr/share/metainfo/com.calvora.audiomixer.metainfo.xml \
  ./usr/lib/systemd/user/calvora-ctl@.service ./usr/share/doc/calvora-audio-mixer/copyright \
  ./usr/share/doc/calvora-audio-mixer/changelog.gz ./usr/share/man/man1/calvora-audio-mixer.1.gz \
  ./usr/share/man/man1/calvora-ctl.1.gz; do
  grep -qx "$file" <<<"$contents" || fail "the package lacks $file"
done
depends=$(dpkg-deb -f "$deb" Depends)
for library in libqt6widgets6 libqt6gui6 libasound2 libsystemd0 libmicrohttpd12 libgnutls30; do
  grep -q "$library" <<<"$depends" || fail "the package does not depend on $library ($depends)"
done
dpkg-deb -x "$deb" "$work/unpacked"
"$work/unpacked/usr/bin/calvora-ctl" --help >/dev/null || fail "the packed calvora-ctl does not run"
! grep -q '^\./usr/local' <<<"$contents" || fail "the package writes to /usr/local"
grep -q 'exec "/usr/bin/calvora-ctl"' "$work/unpacked/usr/lib/systemd/user/calvora-ctl@.service" ||
  fail "the packed unit does not start /usr/bin/calvora-ctl"
echo "ok: $(basename "$deb") holds the files and depends on: $depends"

# The changelog's newest entry is the package's version.
version=$(dpkg-deb -f "$deb" Version)
zcat "$work/unpacked/usr/share/doc/calvora-audio-mixer/changelog.gz" | head -1 |
  grep -qF "calvora-audio-mixer ($version)" || fail "the changelog does not start with $version"
if command -v lintian >/dev/null; then
  lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1 ||
    { cat "$work/lintian.log" >&2; fail "lintian finds errors or warnings in $(basename "$deb")"; }
  [ ! -s "$work/lintian.log" ] || cat "$work/lintian.log"
  echo "ok: lintian finds no error and no warning"
else
  fail "lintian is not installed (scripts/install-deps.sh)"
fi
