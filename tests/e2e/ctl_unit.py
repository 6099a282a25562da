#!/usr/bin/env python3
"""The systemd user unit of calvora-ctl: its ExecStart, read as systemd reads it (the instance
for %i, $$ for $), hands the options of the environment file to calvora-ctl word by word, with
the quotes a user wrote in them respected.

Usage: ctl_unit.py UNIT_FILE
"""
import os
import shlex
import subprocess
import sys
import tempfile

unit = open(sys.argv[1]).read()
exec_start = next(line.split("=", 1)[1] for line in unit.splitlines()
                  if line.startswith("ExecStart="))
words = shlex.split(exec_start.replace("%i", "12").replace("$$", "$"))
if words[:2] != ["/bin/sh", "-c"] or len(words) != 3:
    sys.exit(f"FAIL: ExecStart is not one sh -c script: {words}")
installed = next(w for w in shlex.split(words[2]) if w.endswith("/calvora-ctl"))

with tempfile.TemporaryDirectory() as work:
    printer = os.path.join(work, "calvora-ctl")
    with open(printer, "w") as f:
        f.write("#!/usr/bin/env python3\nimport sys\nprint(repr(sys.argv[1:]))\n")
    os.chmod(printer, 0o755)
    env = dict(os.environ, HOME="/home/station", CALVORA_CTL_COMMAND="auto",
               CALVORA_CTL_OPTIONS="--station 'studio 1' --log ~/calvora-log"
                                   " --on-silence 'page-engineer \"studio 1\"'"
                                   " --listen 127.0.0.1:9794 --web-config ~/.config/calvora/web.yml")
    out = subprocess.run(["/bin/sh", "-c", words[2].replace(installed, printer)], env=env,
                         capture_output=True, text=True, check=True).stdout.strip()
    expected = ["--pid", "12", "auto", "--station", "studio 1", "--log", "/home/station/calvora-log", "--on-silence",
                'page-engineer "studio 1"', "--listen", "127.0.0.1:9794",
                "--web-config", "/home/station/.config/calvora/web.yml"]
    if out != repr(expected):
        sys.exit(f"FAIL: calvora-ctl would get {out}, not {expected}")
print("ok: the unit hands calvora-ctl", out)
