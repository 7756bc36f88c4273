"""End to end under Wine (run by scripts/windows --check, in a throwaway prefix on an X server):
the Windows zolvek-ptt.exe with COM1 mapped in its registry store to a native virtual radio, keyed
and released by the Windows zolvek-send.exe, then closed by it. With SETUP, the setup program
too: a silent install, the installed utility keying the radio, an upgrade over it, and a silent
uninstall that leaves nothing of its own and the operator's options.

    wine_check.py DIST_FOLDER NATIVE_BIN_FOLDER [SETUP]
"""
import os
import re
import socket
import subprocess
import sys
import tempfile
import time

from zolvekcontract import LAST_PORT, WINDOW_TITLE

DIST, NATIVE_BIN = sys.argv[1], sys.argv[2]
SETUP = sys.argv[3] if len(sys.argv) > 3 else None
os.environ["ZOLVEK_BIN_DIR"] = NATIVE_BIN
from soak import RX, TX, Radio, stop_process, wait_until  # noqa: E402

STORE_KEY = r"HKEY_CURRENT_USER\Software\VB and VBA Program Settings\KELD"


def wine(*args, **kwargs):
    return subprocess.run(["wine", *args], capture_output=True, text=True, **kwargs)


def windows_path(path):
    return subprocess.run(["winepath", "-w", path], capture_output=True, text=True,
                          check=True, timeout=60).stdout.strip()


def write_store(com1):
    """The utility's registry store: COM1 goes to `com1`, every other port it accepts to a
    path that is no port, so nothing can reach a real COM port."""
    lines = ["REGEDIT4", "", "[%s\\Ports]" % STORE_KEY,
             '"COM1"="%s"' % com1.replace("\\", "\\\\")]
    lines += ['"COM%d"="C:\\\\zolvek-missing-com%d"' % (n, n) for n in range(2, LAST_PORT + 1)]
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as reg:
        reg.write("\r\n".join(lines) + "\r\n")
    try:
        wine("regedit", "/S", windows_path(reg.name), check=True, timeout=120)
    finally:
        os.unlink(reg.name)
    shown = wine("reg", "query", STORE_KEY + "\\Ports", "/v", "COM1", timeout=120).stdout
    if com1 not in shown:
        raise RuntimeError("the store's COM1 did not reach the registry: %r" % shown)


def send(word, folder=DIST):
    """zolvek-send.exe WORD: its exit code and how long it took, Wine's start of it included,
    in ms."""
    started = time.monotonic()
    result = wine(os.path.join(folder, "zolvek-send.exe"), word, timeout=60)
    return result.returncode, (time.monotonic() - started) * 1000, result.stderr.strip()


def frames(radio):
    return [e for e in radio.snapshot() if e["event"] == "frame"]


def lines_low(radio):
    lines = [e for e in radio.snapshot() if e["event"] == "lines"]
    return bool(lines) and not lines[-1]["dtr"] and not lines[-1]["rts"]


def free_port():
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        return probe.getsockname()[1]


def rigctl_script(port, text):
    """Sends `text` to the listener, half-closes, and returns all it answered before closing."""
    with socket.create_connection(("127.0.0.1", port), timeout=10) as client:
        client.sendall(text)
        client.shutdown(socket.SHUT_WR)
        answer = b""
        while True:
            try:
                got = client.recv(4096)
            except ConnectionResetError:  # closed with its request unread
                return answer
            if not got:
                return answer
            answer += got


def map_wine_port(name, device):
    """The prefix's COM `name` is `device`; Wine's own links to /dev/ttyS* (this machine's
    console) are dropped."""
    with tempfile.NamedTemporaryFile("w", suffix=".reg", delete=False) as reg:
        reg.write('REGEDIT4\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\Wine\\Ports]\r\n'
                  '"%s"="%s"\r\n' % (name, device))
    try:
        wine("regedit", "/S", windows_path(reg.name), check=True, timeout=120)
    finally:
        os.unlink(reg.name)
    subprocess.run(["wineserver", "-w"], timeout=120)
    drop_console_links()


def drop_console_links():
    """Every link Wine makes from a COM name to this machine's /dev/ttyS* (its console)."""
    folder = os.path.join(os.environ["WINEPREFIX"], "dosdevices")
    for entry in os.listdir(folder):
        path = os.path.join(folder, entry)
        if entry.startswith("com") and os.path.islink(path) \
                and os.readlink(path).startswith("/dev/ttyS"):
            os.unlink(path)


def check_serial_port(radio, far_end, failures):
    """The Windows serial FT-847 port on a COM name that is one end of a pseudo-terminal pair:
    Hamlib's FT-847 backend on the other end tunes, reads and keys the radio through it."""
    before = len(radio.snapshot())
    said = subprocess.run(["rigctl", "-m", "1001", "-r", far_end, "-s", "4800", "F", "145100000",
                           "f", "T", "1", "T", "0"], capture_output=True, text=True, timeout=60)
    released = wait_until(lambda: lines_low(radio), 10)
    events = radio.snapshot()[before:]
    tuned = [e["hz"] for e in events if e["event"] == "frequency"]
    keyed = [e for e in events if e["event"] == "lines" and e["dtr"] and e["rts"]]
    print("  serial FT-847 port: rigctl -m 1001 answered %r, tuned %s, keyed %d times, "
          "released: %s" % (said.stdout.split(), tuned, len(keyed), released))
    if said.stdout.split() != ["145100000"] or 145100000 not in tuned or len(keyed) != 1 \
            or not released:
        failures.append("the serial FT-847 port")


def check_listener(radio, port, failures):
    """The Windows listener on its own sockets: a web page's request is closed unheard, and a
    script that half-closes gets its answers, then its key is released."""
    before = len(radio.snapshot())
    page = rigctl_script(port, b"POST / HTTP/1.1\r\nHost: 127.0.0.1\r\n"
                               b"Content-Type: text/plain\r\nContent-Length: 4\r\n\r\nT 1\n")
    time.sleep(0.5)  # a wrong key would reach the radio by now
    keyed = [e for e in radio.snapshot()[before:] if e["event"] == "lines" and e["dtr"]]
    print("  rigctl, a web page's request: answered %r, radio keyed %d times" % (page, len(keyed)))
    if page or keyed:
        failures.append("the listener served a web page's request")
    # "t" answering 1 shows the key reached the port; the release follows the last answer, so
    # the radio may see both in one read.
    answer = rigctl_script(port, b"\\chk_vfo\nT 1\nt\n")
    released = wait_until(lambda: lines_low(radio), 10)
    print("  rigctl, a half-closed script: answered %r, released after: %s" % (answer, released))
    if answer != b"0\nRPRT 0\n1\n" or not released:
        failures.append("the listener's half-closed script")


UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\zolvek-ptt"
SHORTCUT = "ZOLVEK FT-847 PTT.lnk"
INSTALL_FOLDER = r"C:\Radio\zolvek-ptt"  # given with /D=, as a scripted station would


def registry(key):
    """The values of `key` in the 64-bit view, {} when it does not exist."""
    result = wine("reg", "query", key, "/reg:64", timeout=120)
    if result.returncode != 0:
        return {}
    values = {}
    for line in result.stdout.splitlines():
        match = re.match(r"\s+(\S+)\s+(REG_\w+)\s+(.*)$", line)
        if match:
            values[match.group(1)] = match.group(3).strip()
    return values


def shortcuts():
    """Every shortcut of the utility in the prefix, by the folder it is in."""
    found = []
    for folder, _, files in os.walk(os.path.join(os.environ["WINEPREFIX"], "drive_c")):
        if SHORTCUT in files:
            found.append(os.path.basename(folder))
    return sorted(found)


def run_setup(*arguments):
    started = time.monotonic()
    result = wine(SETUP, *arguments, timeout=300)
    return result.returncode, time.monotonic() - started


def check_setup(failures):
    """The setup program in the prefix: install, run, refuse while running, upgrade, uninstall."""
    installed = os.path.join(os.environ["WINEPREFIX"], "drive_c", "Radio", "zolvek-ptt")
    print("  setup program: %s (%d KiB)" % (os.path.basename(SETUP), os.path.getsize(SETUP) // 1024))
    radio = Radio()
    utility = None
    try:
        write_store("rfc2217://%s" % radio.address)  # the operator's options, there before
        code, took = run_setup("/S", "/DESKTOP", "/D=" + INSTALL_FOLDER)
        exe = os.path.join(installed, "zolvek-ptt.exe")
        key = registry(UNINSTALL_KEY)
        print("  silent install: exit %d in %.1f s, %s: %s; shortcuts in %s" % (
            code, took, INSTALL_FOLDER, os.path.exists(exe), ", ".join(shortcuts()) or "none"))
        print("  uninstall key: %s" % ", ".join("%s=%s" % (name, key[name]) for name in (
            "DisplayName", "DisplayVersion", "Publisher", "DisplayIcon", "EstimatedSize")
            if name in key))
        if code != 0 or not os.path.exists(exe) or "Programs" not in shortcuts():
            failures.append("silent install")
        if not all(key.get(name) for name in ("DisplayName", "DisplayVersion", "Publisher",
                                               "DisplayIcon", "EstimatedSize",
                                               "QuietUninstallString")):
            failures.append("the uninstall key is incomplete: %r" % key)

        utility = subprocess.Popen(["wine", exe], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        if not wait_until(lambda: len(frames(radio)) >= 2, 90):
            failures.append("the installed utility did not reach the radio")
            return
        window = "^%s$" % re.escape(WINDOW_TITLE)
        subprocess.run(["xdotool", "search", "--sync", "--name", window],
                       capture_output=True, timeout=60)
        tx, _, _ = send("tx", installed)
        keyed = wait_until(lambda: len(frames(radio)) >= 3 and not lines_low(radio), 5)
        rx, _, _ = send("rx", installed)
        released = wait_until(lambda: len(frames(radio)) >= 4 and lines_low(radio), 5)
        print("  installed zolvek-ptt.exe: keyed by zolvek-send.exe %s, released %s" % (
            tx == 0 and keyed, rx == 0 and released))
        if not (tx == 0 and keyed and rx == 0 and released):
            failures.append("the installed utility did not key and release the radio")

        before = os.path.getmtime(exe)
        code, _ = run_setup("/S", "/D=" + INSTALL_FOLDER)
        print("  setup while the utility runs: exit %d, files untouched: %s" % (
            code, os.path.getmtime(exe) == before))
        if code == 0 or os.path.getmtime(exe) != before:
            failures.append("the setup went ahead while the utility ran")
        send("exit", installed)
        wait_until(lambda: utility.poll() is not None, 30)

        code, took = run_setup("/S", "/D=" + INSTALL_FOLDER)
        print("  upgrade over it: exit %d in %.1f s, shortcuts in %s" % (
            code, took, ", ".join(shortcuts())))
        if code != 0 or "Desktop" not in shortcuts() or "Programs" not in shortcuts():
            failures.append("the upgrade lost a shortcut or failed")

        started = time.monotonic()
        wine(os.path.join(installed, "uninstall.exe"), "/S", timeout=300)
        # The uninstaller runs from a copy of itself and returns at once: wait for its effect.
        gone = wait_until(lambda: not registry(UNINSTALL_KEY) and not os.path.exists(installed),
                          120)
        options = registry(STORE_KEY + "\\Ports")
        print("  silent uninstall: done %s in %.1f s; left: folder %s, shortcuts %s, "
              "uninstall key %s; options key kept: %s" % (
                  gone, time.monotonic() - started, os.path.exists(installed),
                  shortcuts() or "none", bool(registry(UNINSTALL_KEY)), "COM1" in options))
        if not gone or shortcuts() or "COM1" not in options:
            failures.append("the uninstall left something, or took the options")
    finally:
        if utility is not None:
            stop_process(utility)
        radio.stop()


def main():
    failures = []
    # A desktop program still answers --version on a redirected standard output.
    version = wine(os.path.join(DIST, "zolvek-ptt.exe"), "--version", timeout=120)
    print("  zolvek-ptt.exe --version: exit %d, %r" % (version.returncode, version.stdout.strip()))
    if version.returncode != 0 or not version.stdout.startswith("zolvek-ptt "):
        failures.append("--version")
    radio = Radio()
    utility = None
    pair_folder = tempfile.mkdtemp(prefix="zolvek-wine-pair-")
    near, far = os.path.join(pair_folder, "near"), os.path.join(pair_folder, "far")
    pair = subprocess.Popen(["socat", "pty,raw,echo=0,link=" + near, "pty,raw,echo=0,link=" + far])
    try:
        wait_until(lambda: os.path.exists(near) and os.path.exists(far), 10)
        # COM5 of the prefix is one end of the pair, for the serial FT-847 port.
        map_wine_port("COM5", os.path.realpath(near))
        write_store("rfc2217://%s" % radio.address)
        port = free_port()
        utility = subprocess.Popen(["wine", os.path.join(DIST, "zolvek-ptt.exe"),
                                    "--listen", "127.0.0.1:%d" % port, "--cat-port", "COM5"],
                                   stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        # Start-up opens COM1 and sends its two frames; the window then carries the title.
        if not wait_until(lambda: len(frames(radio)) >= 2, 90):
            print("wine check: the utility did not reach the radio within 90 s")
            return 1
        title = "^%s$" % re.escape(WINDOW_TITLE)
        found = subprocess.run(["xdotool", "search", "--sync", "--name", title],
                               capture_output=True, text=True, timeout=60).stdout.split()
        print("  window titled %r: %s" % (WINDOW_TITLE, "found" if found else "MISSING"))
        if not found:
            failures.append("no window")

        before = len(radio.snapshot())
        code, took, why = send("tx")
        ok = code == 0 and wait_until(lambda: len(frames(radio)) >= 3, 5)
        events = radio.snapshot()[before:]
        keyed = any(e["event"] == "lines" and e["dtr"] and e["rts"] for e in events)
        print("  tx: exit %d in %.1f ms, lines up: %s, frame %s" % (
            code, took, keyed, frames(radio)[2]["hex"] if ok else "none"))
        if not (ok and keyed and frames(radio)[2]["hex"] == TX):
            failures.append("transmit: %s" % why)

        code, took, why = send("rx")
        ok = code == 0 and wait_until(lambda: len(frames(radio)) >= 4, 5)
        events = radio.snapshot()
        down = [e["t"] for e in events if e["event"] == "lines" and not e["dtr"] and not e["rts"]]
        last = frames(radio)[-1]
        delay = (last["t"] - down[-1]) * 1000 if ok and down else -1
        print("  rx: exit %d after %.1f ms, frame %s %.1f ms after the lines dropped" % (
            code, took, last["hex"], delay))
        # The host's call returns once the receive is carried out, the settling delay included.
        if not (ok and last["hex"] == RX and 1190 <= delay <= 1300 and took >= 1190):
            failures.append("receive: %s" % why)

        # A second start hands over to the running utility and ends, opening nothing.
        second = wine(os.path.join(DIST, "zolvek-ptt.exe"), timeout=60)
        windows = subprocess.run(["xdotool", "search", "--name", title], capture_output=True,
                                 text=True, timeout=30).stdout.split()
        print("  second start: exit %d, %d window(s), %s" % (
            second.returncode, len(windows), (second.stdout + second.stderr).strip()))
        if second.returncode != 0 or len(windows) != 1 or len(frames(radio)) != 4:
            failures.append("second start")

        check_listener(radio, port, failures)
        check_serial_port(radio, far, failures)

        code, took, why = send("exit")
        closed = code == 0 and wait_until(lambda: utility.poll() is not None, 30)
        left = wait_until(lambda: any(e["event"] == "disconnected" for e in radio.snapshot()), 10)
        print("  exit: exit %d, utility ended: %s, port closed at the radio: %s" % (
            code, closed, left))
        if not (closed and left):
            failures.append("exit: %s" % why)

        code, took, why = send("tx")
        print("  tx with no utility: exit %d (%s)" % (code, why))
        if code != 1:
            failures.append("a send with no window must fail")
    finally:
        if utility is not None:
            stop_process(utility)
        radio.stop()
        pair.kill()
        pair.wait()
    if SETUP:
        check_setup(failures)
    for failure in failures:
        print("wine check FAILED: %s" % failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
