#!/usr/bin/env bash
# The Debian package on a real system: `apt-get install ./calvora-audio-mixer_*.deb`, the
# installed utility started by an unprivileged user (a throwaway account) with settings in that
# user's configuration folder, its program ID read with the installed calvora-ctl, a save from
# the settings dialog written there; then `apt-get purge` leaves no file of the package behind.
# Before that, an administrator's settings file beside the installed program is what a new
# user's first start copies. It changes the machine (a package, a user), so it runs only where that is allowed: CI sets
# CALVORA_SYSTEM_TESTS=1; elsewhere it says how to run it and is skipped.
set -euo pipefail
build=$1
if [ "${CALVORA_SYSTEM_TESTS:-0}" != 1 ]; then
  echo "SKIP: installs and purges the Debian package and adds a throwaway user, so it runs only"
  echo "      where that is allowed; as root on a machine you may change:"
  echo "      cd build && CALVORA_SYSTEM_TESTS=1 ctest -R e2e.install_run_purge --output-on-failure"
  exit 77
fi
fail() { echo "FAIL: $*" >&2; exit 1; }
[ "$(id -u)" -eq 0 ] || fail "run it as root: it installs a package and adds a user"
for tool in apt-get dpkg-query useradd userdel runuser setsid Xvfb xdotool dbus-run-session; do
  command -v "$tool" >/dev/null || fail "$tool is not installed (scripts/install-deps.sh)"
done
status=$(dpkg-query -W -f='${db:Status-Status}' calvora-audio-mixer 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] ||
  fail "calvora-audio-mixer is $status on this machine: this test would remove it"

work=$(mktemp -d)
chmod 755 "$work"  # the throwaway user's home and apt's download user live below it
user=calvora-test-$$
home=$work/home
xvfb_pid="" session_pid="" installed="" user_added="" admin_file=""
cleanup() {
  set +e
  [ -n "$session_pid" ] && kill -- -"$session_pid" 2>/dev/null
  [ -n "$admin_file" ] && rm -f /usr/bin/calvora-audio-mixer.ini
  if [ -n "$user_added" ]; then
    # Only the throwaway user's processes: everything it runs was started by this test.
    for pid in $(pgrep -u "$user"); do kill -9 "$pid" 2>/dev/null; done
    sleep 0.2
    userdel -r -f "$user" >/dev/null 2>&1 || userdel -f "$user"
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null
  [ -n "$installed" ] && apt-get purge -y -q calvora-audio-mixer >/dev/null 2>&1
  rm -rf "$work"
}
trap cleanup EXIT
wait_for() {  # up to 10 s
  for _ in $(seq 1 100); do "$@" && return 0; sleep 0.1; done
  return 1
}
apt() { DEBIAN_FRONTEND=noninteractive apt-get -y -q -o DPkg::Lock::Timeout=300 "$@"; }

cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/package" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log" >&2; fail "cpack -G DEB failed"; }
deb=$(ls "$work"/package/calvora-audio-mixer_*_*.deb)
chmod -R a+rX "$work/package"
installed=1
apt install --no-install-recommends "$deb" >"$work/apt.log" 2>&1 ||
  { cat "$work/apt.log" >&2; fail "apt-get install $deb failed"; }
[ "$(dpkg-query -W -f='${db:Status-Status}' calvora-audio-mixer)" = installed ] ||
  fail "the package is not installed"
dpkg-query -L calvora-audio-mixer >"$work/files"
echo "ok: apt-get installed $(basename "$deb") ($(wc -l <"$work/files") paths)"

# The throwaway user, with a home of its own and no settings yet.
useradd -M -d "$home" -s /bin/sh -c "Calvora package test" "$user"
user_added=1
mkdir -p "$home"
chown "$user:" "$home"
settings=$home/.config/calvora-audio-mixer/calvora-audio-mixer.ini
as_user() { runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 "$@"; }
help=$(as_user /usr/bin/calvora-audio-mixer --help)
grep -qF "Settings file: $settings" <<<"$help" || fail "--help does not name $settings: $help"
echo "ok: --help names the user's settings file"

Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$work/display" >/dev/null 2>&1 &
xvfb_pid=$!
wait_for test -s "$work/display" || fail "Xvfb did not start"
display=":$(cat "$work/display")"
export DISPLAY=$display
# The user's own session: a session bus, and the installed utility on it.
start_session() {
  rm -f "$home/bus"
  setsid runuser -u "$user" -- env -i HOME="$home" PATH=/usr/bin:/bin LANG=C.UTF-8 \
    DISPLAY="$display" dbus-run-session -- sh -c \
    'echo "$DBUS_SESSION_BUS_ADDRESS" >"$1.tmp" && mv "$1.tmp" "$1" && exec calvora-audio-mixer' \
    session "$home/bus" >"$work/app.log" 2>&1 &
  session_pid=$!
  wait_for test -s "$home/bus" || { cat "$work/app.log" >&2; fail "the user's session did not start"; }
}
end_session() {
  kill -- -"$session_pid" 2>/dev/null || true
  wait "$session_pid" 2>/dev/null || true
  session_pid=""
}
identify() {
  as_user DBUS_SESSION_BUS_ADDRESS="$(cat "$home/bus")" /usr/bin/calvora-ctl identify \
    >"$work/identify" 2>/dev/null
}
expect_program_id() {
  wait_for identify || { cat "$work/app.log" >&2; fail "the installed utility does not answer"; }
  [ "$(cat "$work/identify")" = "$1" ] || fail "identify says $(cat "$work/identify"), not $1"
}

# The first start copies the administrator's file into the user's folder.
admin_file=1
printf '[Settings]\nPID=999\nSourceMode=1\n' >/usr/bin/calvora-audio-mixer.ini
start_session
expect_program_id 999
end_session
[ "$(cat "$settings" 2>/dev/null)" = "$(cat /usr/bin/calvora-audio-mixer.ini)" ] ||
  fail "the first start did not copy the administrator's file to $settings"
[ "$(stat -c %U "$settings")" = "$user" ] || fail "$settings does not belong to $user"
echo "ok: the first start took the administrator's file as the user's starting point"

# The user's own program ID in that file; a later start reads it, not the administrator's.
printf '[Settings]\nPID=4242\nSourceMode=1\n' >"$settings"
start_session
expect_program_id 4242
echo "ok: the installed utility, started by $user, answers identify with 4242"

# The settings dialog, as a user works it: the keyboard opens it, "Save settings" saves.
main_window() { xdotool search --name '^Calvora Audio Mixer' 2>/dev/null | head -1; }
main_shown() { [ -n "$(main_window)" ]; }
wait_for main_shown || fail "no main window"
wait_for xdotool windowfocus --sync "$(main_window)" || fail "cannot focus the main window"
xdotool key --clearmodifiers Tab space
dialog_window() { xdotool search --name '^Settings$' 2>/dev/null | head -1; }
dialog_shown() { [ -n "$(dialog_window)" ]; }
dialog_gone() { [ -z "$(dialog_window)" ]; }
wait_for dialog_shown || fail "the Settings button did not open the dialog"
xdotool mousemove --window "$(dialog_window)" 369 406 click 1  # "Save settings"
wait_for dialog_gone || { cat "$work/app.log" >&2; fail "the save did not close the dialog"; }
# The file held two keys; a save writes every key of every section.
grep -qx 'Bitrate=48000' "$settings" && grep -qx 'LRControl=0' "$settings" ||
  fail "the save did not write $settings: $(cat "$settings")"
grep -qx 'PID=4242' "$settings" || fail "the save lost the program ID: $(cat "$settings")"
[ "$(stat -c %U "$settings")" = "$user" ] || fail "$settings does not belong to $user"
[ "$(cat /usr/bin/calvora-audio-mixer.ini)" = "$(printf '[Settings]\nPID=999\nSourceMode=1')" ] ||
  fail "the save changed the administrator's file"
echo "ok: \"Save settings\" wrote $settings"
end_session
rm -f /usr/bin/calvora-audio-mixer.ini
admin_file=""

apt purge calvora-audio-mixer >"$work/purge.log" 2>&1 ||
  { cat "$work/purge.log" >&2; fail "apt-get purge failed"; }
installed=""
status=$(dpkg-query -W -f='${db:Status-Status}' calvora-audio-mixer 2>/dev/null || true)
[ -z "$status" ] || [ "$status" = not-installed ] || fail "after the purge the package is $status"
left=""
while read -r path; do
  [ -d "$path" ] && [ ! -L "$path" ] && continue  # folders other packages share
  [ -e "$path" ] || [ -L "$path" ] && left+=" $path"
done <"$work/files"
[ ! -d /usr/share/doc/calvora-audio-mixer ] || left+=" /usr/share/doc/calvora-audio-mixer"
[ -z "$left" ] || fail "the purge left:$left"
echo "ok: apt-get purge left no file of the package"
