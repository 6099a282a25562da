"""The Windows installer under Wine: a silent install (/S /MONITOR) puts both programs, the
uninstaller, the Start-menu shortcut, the live page's shortcut, the "Apps" entry and the station
monitor (its launcher, and a Run value within Windows's 260 characters that starts serve with
its log and clips under %LOCALAPPDATA%) in place for the current user; the installed utility
answers identify with the program ID of a settings file beside it, the Run value's command
serves /metrics with the clips on 127.0.0.1:9794 beside it, and the launcher gives up on a
command line serve refuses; installing again
(an upgrade) keeps that file; a silent uninstall removes the programs, the shortcut, the
entry, the live page's shortcut, the station monitor's value and the program's own autostart
value (another program's stays), and keeps the settings file.

Arguments: SETUP.exe window-texts.exe. Runs under a display (Xvfb) with the Wine prefix of the
test run (WINEPREFIX); what it installs there is removed at the end."""
import os
import re
import shutil
import signal
import socket
import subprocess
import sys
import time
import urllib.request

from harness import Session, fail, wait_until, wine

setup, texts = sys.argv[1:3]
RUN_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Run"
UNINSTALL_KEY = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Uninstall\CalvoraAudioMixer"
MONITOR_VALUE = "CalvoraStationMonitor"
SETTINGS = "[Settings]\r\nPID=5150\r\nSourceMode=1\r\n"


def unix_path(windows_path):
    done = subprocess.run(["winepath", "-u", windows_path], capture_output=True, text=True,
                          check=True)
    return done.stdout.strip()


def windows_folder(variable):
    done = wine("cmd", "/c", f"echo %{variable}%")
    return done.stdout.strip()


def has_key(key, value=None):
    args = ["reg", "query", key] + (["/v", value] if value else [])
    return wine(*args).returncode == 0


def port_open(port):
    with socket.socket() as probe:
        return probe.connect_ex(("127.0.0.1", port)) == 0


def check_monitor_runs(session, command):
    """The Run value's command line, as the logon would start it, beside the running utility:
    serve answers on 127.0.0.1:9794 with the clips' metrics (--clips reached it); ending the
    launcher's processes frees the port again."""
    if port_open(9794):
        print("note: 127.0.0.1:9794 is taken on this machine; the station monitor is not started")
        return
    # The line as it stands in the registry, run by cmd from a batch file of its own: Wine's
    # command line from Linux would quote it anew.
    logon = os.path.join(session.work, "logon.cmd")
    with open(logon, "w", newline="") as f:
        f.write("@" + command + "\r\n")
    monitor = session.spawn(["wine", "cmd", "/c", "Z:" + logon.replace("/", "\\")],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                            start_new_session=True)

    def stop():
        if monitor.poll() is None:
            os.killpg(monitor.pid, signal.SIGKILL)
            monitor.wait()
    session.cleanups.append(stop)
    metrics = []

    def served():
        try:
            metrics[:] = [urllib.request.urlopen("http://127.0.0.1:9794/metrics",
                                                 timeout=5).read().decode()]
            return True
        except OSError:
            return False
    wait_until(served, 60, "the station monitor's serve does not answer on 127.0.0.1:9794", 0.5)
    if "\ncalvora_clips_bytes{" not in metrics[0]:
        fail(f"the station monitor serves no clips' metrics: {metrics[0][-1500:]}")
    stop()
    wait_until(lambda: not port_open(9794), 10,
               "the station monitor's serve goes on after its launcher was ended", 0.2)
    # Nothing of the launcher is left to start serve again (Wine has no timeout.exe to wait).
    time.sleep(2)
    if port_open(9794):
        fail("the station monitor's launcher started serve again after it was ended")
    print("ok: the Run value's command serves /metrics with the clips on 127.0.0.1:9794")


def main(session):
    cleanups = session.cleanups
    local = windows_folder("LOCALAPPDATA")
    folder_w = local + r"\Programs\Calvora Audio Mixer"
    folder = unix_path(folder_w)
    menu = unix_path(windows_folder("APPDATA") + r"\Microsoft\Windows\Start Menu\Programs")
    shortcut = os.path.join(menu, "Calvora Audio Mixer.lnk")
    live_page = os.path.join(menu, "Calvora Audio Mixer live page.url")
    if os.path.exists(folder):
        fail(f"{folder} exists before the install")
    cleanups.append(lambda: shutil.rmtree(folder, ignore_errors=True))
    cleanups.append(lambda: wine("reg", "delete", UNINSTALL_KEY, "/f"))
    cleanups.append(lambda: os.path.exists(shortcut) and os.remove(shortcut))
    cleanups.append(lambda: os.path.exists(live_page) and os.remove(live_page))
    cleanups.append(lambda: wine("reg", "delete", RUN_KEY, "/v", MONITOR_VALUE, "/f"))
    cleanups.append(lambda: wine("reg", "delete", RUN_KEY, "/v", "CalvoraTestOther", "/f"))

    done = wine(setup, "/S", "/MONITOR", timeout=120)
    if done.returncode != 0:
        fail(f"the silent install ended with {done.returncode}: {done.stderr[-2000:]}")
    installed = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    expected = ["LICENSE.txt", "calvora-audio-mixer.exe", "calvora-ctl.exe",
                "station-monitor.cmd", "uninstall.exe"]
    if installed != expected:
        fail(f"installed {installed}, not {expected}")
    if not os.path.exists(shortcut):
        fail("no Start-menu shortcut")
    entry = wine("reg", "query", UNINSTALL_KEY).stdout
    for value in ("DisplayName", "UninstallString", "DisplayVersion", "InstallLocation"):
        if value not in entry:
            fail(f"the Apps entry lacks {value}: {entry}")
    if "uninstall.exe" not in entry:
        fail(f"the Apps entry does not name the uninstaller: {entry}")
    if not os.path.exists(live_page) or "URL=http://127.0.0.1:9794/" not in open(live_page).read():
        fail("no Start-menu shortcut to the live page at http://127.0.0.1:9794/")
    monitor = wine("reg", "query", RUN_KEY, "/v", MONITOR_VALUE).stdout
    found = re.search(r"REG_SZ\s+(.*\S)", monitor)
    command = found.group(1) if found else ""
    launcher = folder_w + r"\station-monitor.cmd"
    if command != (rf'"{windows_folder("SystemRoot")}\system32\cmd.exe" /c ""{launcher}" '
                   r'--log "%LOCALAPPDATA%\Calvora Audio Mixer\station-log" '
                   r'--clips "%LOCALAPPDATA%\Calvora Audio Mixer\clips""'):
        fail(f"the station monitor's Run value does not start serve with its log and clips "
             f"under %LOCALAPPDATA%: {monitor!r}")
    if len(command) > 260:
        fail(f"the station monitor's Run value has {len(command)} characters; Windows reads 260")
    print(f"ok: /S /MONITOR installed {', '.join(installed)}, the shortcuts to the utility and "
          "the live page, the Apps entry and serve at logon")

    settings = os.path.join(folder, "calvora-audio-mixer.ini")
    with open(settings, "w", newline="") as f:
        f.write(SETTINGS)
    app = session.spawn(["wine", os.path.join(folder, "calvora-audio-mixer.exe")],
                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    answer = []

    def identified():
        done = wine(os.path.join(folder, "calvora-ctl.exe"), "identify", timeout=30)
        answer[:] = [done.stdout.strip()]
        return done.returncode == 0

    wait_until(identified, 30, "the installed utility does not answer identify", 0.2)
    if answer[0] != "5150":
        fail(f"identify says {answer[0]!r}, not the settings file's 5150")
    print("ok: the installed utility answers identify with the program ID of the file beside it")
    check_monitor_runs(session, command)
    # A command line serve refuses (status 1) ends the launcher instead of a start every 5 s.
    refused = wine("cmd", "/c", launcher, "--no-such-option", timeout=60)
    if refused.returncode != 1 or "--no-such-option" not in refused.stderr:
        fail(f"the launcher with a refused option ended with {refused.returncode}: "
             f"{refused.stderr[-1000:]!r}")
    print("ok: the launcher gives up on a command line serve refuses")
    # Its autostart value, as the settings dialog writes it, and another program's.
    program_w = folder_w + r"\calvora-audio-mixer.exe"
    wine("reg", "add", RUN_KEY, "/v", "DORozizIzuzo", "/d", program_w, "/f")
    wine("reg", "add", RUN_KEY, "/v", "CalvoraTestOther", "/d", r"C:\other\other.exe", "/f")
    wine(texts, "--end-session")
    try:
        app.wait(timeout=20)
    except subprocess.TimeoutExpired:
        app.kill()
        fail("the utility did not end with the session")

    done = wine(setup, "/S", timeout=120)
    if done.returncode != 0:
        fail(f"the upgrade ended with {done.returncode}")
    with open(settings, newline="") as f:
        if f.read() != SETTINGS:
            fail("installing again changed the settings file")
    print("ok: installing again over it keeps the settings file")

    uninstaller = os.path.join(folder, "uninstall.exe")
    wine(uninstaller, "/S", timeout=120)
    # The uninstaller runs on from a copy of itself, and removes the original last.
    wait_until(lambda: not os.path.exists(uninstaller), 60, "the uninstaller did not finish", 0.2)
    time.sleep(1)
    left = sorted(os.listdir(folder)) if os.path.isdir(folder) else []
    if left != ["calvora-audio-mixer.ini"]:
        fail(f"after the silent uninstall the folder holds {left}, not the settings file alone")
    if os.path.exists(shortcut):
        fail("the uninstall left the Start-menu shortcut")
    if has_key(UNINSTALL_KEY):
        fail("the uninstall left the Apps entry")
    if os.path.exists(live_page) or has_key(RUN_KEY, MONITOR_VALUE):
        fail("the uninstall left the live page's shortcut or the station monitor's Run value")
    if has_key(RUN_KEY, "DORozizIzuzo"):
        fail("the uninstall left the program's autostart value")
    if not has_key(RUN_KEY, "CalvoraTestOther"):
        fail("the uninstall removed another program's autostart value")
    print("ok: the silent uninstall removed all but the settings file, and only its own "
          "autostart value")


with Session(prefix="calvora-wine-setup-") as installer_session:
    main(installer_session)
