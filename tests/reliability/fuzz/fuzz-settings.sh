#!/usr/bin/env bash
# Builds the settings fuzzer with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for SECONDS from the corpus of real settings files.
#   fuzz-settings.sh BUILD_DIR SOURCE_DIR SECONDS
set -euo pipefail
build=$1 source=$2 seconds=$3
out="$build/tests/reliability/fuzz"
mkdir -p "$out/corpus"
clang++ -std=c++20 -g -O1 -fsanitize=fuzzer,address,undefined -fno-sanitize-recover=undefined \
  -I"$source/src" -isystem /usr/include/utf8cpp \
  "$source/tests/reliability/fuzz/SettingsFuzzer.cpp" "$source/src/settings/Settings.cpp" \
  "$source/src/platform/posix/IniProfileFile.cpp" "$source/src/platform/ini/IniText.cpp" \
  "$source/src/platform/ini/IniDocument.cpp" "$source/src/platform/ini/ProfileEncoding.cpp" \
  "$source/src/platform/posix/XdgRunKeys.cpp" \
  -o "$out/fuzz-settings"
# The working corpus grows in the build folder; the real files seed it.
cp -n "$source"/tests/reliability/fuzz/corpus/* "$out/corpus/"
log="$out/fuzz.log"
# Every input is written, saved (with its fsync) and read back: a memory file system keeps
# that fast where there is one.
[ -d /dev/shm ] && [ -w /dev/shm ] && export TMPDIR=/dev/shm
"$out/fuzz-settings" -max_total_time="$seconds" -timeout=5 -max_len=4096 \
  -artifact_prefix="$out/" "$out/corpus" > "$log" 2>&1 || {
  tail -40 "$log"
  echo "FAIL: the settings fuzzer found a fault; the input is in $out/"
  exit 1
}
runs=$(grep -o 'Done [0-9]* runs' "$log" | tail -1 | grep -o '[0-9]*' || echo "?")
inputs=$(ls "$out/corpus" | wc -l)
echo "ok: settings file fuzzed for $seconds s: $runs inputs tried, $inputs in the corpus;" \
  "no crash, hang or sanitizer report; every loaded record saved and loaded back the same"
