#!/usr/bin/env python3
"""Settings saves killed at random moments: after every kill the file holds exactly the old or
the new content of a complete save, never a truncated or mixed one, and no temporary file is
left once the next save has run. A folder that cannot be written gives "Unable to write to
<path>" and a failed save.

    settings_saves.py SAVE_WRITER [KILLS]     (default 200)
"""
import os
import random
import signal
import subprocess
import sys
import tempfile
import time

writer = sys.argv[1]
kills = int(sys.argv[2]) if len(sys.argv) > 2 else 200
work = tempfile.mkdtemp(prefix="calvora-saves-")
os.environ["XDG_CONFIG_HOME"] = os.path.join(work, "config")
path = os.path.join(work, "calvora-audio-mixer.ini")


def save(which, target=path):
    return subprocess.run([writer, target, which], capture_output=True, text=True)


def content():
    with open(path, "rb") as f:
        return f.read()


# The two complete contents a save can leave.
save("a")
old = content()
save("b")
new = content()
assert old != new and old and new
rng = random.Random(int(os.environ.get("SEED", "14")))
seen = {"old": 0, "new": 0}
for i in range(kills):
    proc = subprocess.Popen([writer, path, "loop"], stdout=subprocess.PIPE)
    proc.stdout.readline()  # the first save is done
    time.sleep(rng.uniform(0, 0.02))
    proc.send_signal(signal.SIGKILL)
    proc.wait()
    proc.stdout.close()
    now = content()
    if now not in (old, new):
        print(f"FAIL: kill {i + 1}: the file holds neither complete save "
              f"({len(now)} bytes):\n{now.decode(errors='replace')}")
        sys.exit(1)
    seen["old" if now == old else "new"] += 1
save("a")
left = sorted(set(os.listdir(work)) - {"calvora-audio-mixer.ini", "config"})
if left:
    print(f"FAIL: files left beside the settings after a clean save: {left}")
    sys.exit(1)
print(f"ok: {kills} saves killed at random moments: the file held the old content "
      f"{seen['old']} times and the new {seen['new']} times, never anything else; no "
      "temporary file left")

# A folder that cannot be written. As root, permission bits do not stop a write, so a
# folder on a read-only file system stands in.
locked = os.path.join(work, "locked")
os.mkdir(locked)
os.chmod(locked, 0o555)
target = os.path.join(locked, "calvora-audio-mixer.ini")
if os.geteuid() == 0:
    target = "/proc/calvora-audio-mixer.ini"
result = save("b", target)
expected = f"Unable to write to {target}"
if result.returncode != 1 or expected not in result.stderr:
    print(f"FAIL: save into a folder that cannot be written: exit {result.returncode}, "
          f"said {result.stderr!r}, expected {expected!r}")
    sys.exit(1)
print(f'ok: a folder that cannot be written: the save fails with "{expected}"')
os.chmod(locked, 0o755)
subprocess.run(["rm", "-rf", work])
