"""End to end under Wine (run by scripts/windows --check, in a throwaway prefix on an X server):
the Windows zolvek-ptt.exe with COM1 mapped in its registry store to a native virtual radio, keyed
and released by the Windows zolvek-send.exe, then closed by it.

    wine_check.py DIST_FOLDER NATIVE_BIN_FOLDER
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


def send(word):
    """zolvek-send.exe WORD: its exit code and how long it took, Wine's start of it included,
    in ms."""
    started = time.monotonic()
    result = wine(os.path.join(DIST, "zolvek-send.exe"), word, timeout=60)
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


def main():
    failures = []
    # A desktop program still answers --version on a redirected standard output.
    version = wine(os.path.join(DIST, "zolvek-ptt.exe"), "--version", timeout=120)
    print("  zolvek-ptt.exe --version: exit %d, %r" % (version.returncode, version.stdout.strip()))
    if version.returncode != 0 or not version.stdout.startswith("zolvek-ptt "):
        failures.append("--version")
    radio = Radio()
    utility = None
    try:
        write_store("rfc2217://%s" % radio.address)
        port = free_port()
        utility = subprocess.Popen(["wine", os.path.join(DIST, "zolvek-ptt.exe"),
                                    "--listen", "127.0.0.1:%d" % port],
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
    for failure in failures:
        print("wine check FAILED: %s" % failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
