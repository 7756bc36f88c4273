"""Long-run check of zolvek-ptt against the virtual radio (run by scripts/soak under Xvfb).

Alternates transmit and receive at about 1 Hz through the host message, with random option edits
through the window while the radio is keyed, for the given number of minutes. Reports resident
memory and open file descriptors at start and end, missed or out-of-order frames, and settling
delays (lines down to receive frame, at the radio) outside 1200 +0/+5 ms. Exits 1 when frames went
missing or out of order or the utility died.
"""
import json
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from zolvekcontract import POINTS, ROOT, WINDOW_TITLE, write_test_store

BIN = os.environ.get("ZOLVEK_BIN_DIR") or os.path.join(ROOT, "build", "bin")
TITLE = "^%s$" % re.escape(WINDOW_TITLE)
TX, RX, CAT_ON = "0100000007", "0300000007", "0000000000"

MORE = POINTS["MoreButton"]
SETTINGS = POINTS["SettingsBox"]
COMBO = POINTS["PortList"]
MINIMIZED = POINTS["MinimizedBox"]
ON_TOP = POINTS["OnTopBox"]


class Radio:
    """The virtual radio's JSON log as it comes; or, with `command`, another program that logs in
    its shape (tty-double --json)."""

    def __init__(self, command=None):
        self.proc = subprocess.Popen(command or [os.path.join(BIN, "ft847-sim"), "--json"],
                                     stdout=subprocess.PIPE, text=True, bufsize=1)
        first = json.loads(self.proc.stdout.readline())
        self.address = first["address"]
        self.events = []
        self.lock = threading.Lock()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            with self.lock:
                self.events.append(json.loads(line))

    def snapshot(self):
        with self.lock:
            return list(self.events)

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.wait()


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True,
                          timeout=10).stdout.strip()


def click(window, at):
    xdotool("mousemove", "--window", window, str(at[0]), str(at[1]), "click", "1")


def wait_until(done, seconds):
    deadline = time.time() + seconds
    while not done():
        if time.time() > deadline:
            return False
        time.sleep(0.05)
    return True


def window_width(window):
    geometry = xdotool("getwindowgeometry", window)
    match = re.search(r"Geometry: (\d+)x", geometry)
    return int(match.group(1)) if match else 0


def send(word):
    subprocess.run([os.path.join(BIN, "zolvek-send"), word], check=True, timeout=10)


def process_figures(pid):
    rss = 0
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                rss = int(line.split()[1])
    return rss, len(os.listdir(f"/proc/{pid}/fd"))


def edit(window, choice):
    if choice == "top":
        click(window, ON_TOP)
    elif choice == "minimized":
        click(window, MINIMIZED)
    elif choice == "settings":
        click(window, SETTINGS)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "15", "4800,n,8,2")
    elif choice == "port":
        click(window, COMBO)
        time.sleep(0.1)
        xdotool("key", "Return")


def check(events, expected):
    """Frames after start-up against the requests sent, and the settling delays."""
    # Every reopen of an edit turns the radio's CAT on: not a request of the host's.
    frames = [e for e in events if e["event"] == "frame"][2:]
    frames = [e for e in frames if e["hex"] != CAT_ON]
    missed = max(0, len(expected) - len(frames))
    out_of_order = sum(1 for want, got in zip(expected, frames) if got["hex"] != want)
    delays = []
    lines_down_at = None
    for event in events:
        if event["event"] == "lines":
            if not event["dtr"] and not event["rts"]:
                lines_down_at = event["t"]
        elif event["event"] == "frame" and event["hex"] == RX and lines_down_at is not None:
            delays.append((event["t"] - lines_down_at) * 1000)
            lines_down_at = None
    return missed, out_of_order, delays[1:]  # the first is start-up's receive frame


def main():
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 30.0
    random.seed(847)
    started = []  # stopped in reverse order on every way out
    config = tempfile.mkdtemp(prefix="zolvek-soak-")
    try:
        return soak(minutes, config, started)
    finally:
        for stop in reversed(started):
            stop()
        shutil.rmtree(config, ignore_errors=True)


def stop_process(proc):
    if proc.poll() is None:
        proc.terminate()
        try:
            proc.wait(5)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()


def soak(minutes, config, started):
    wm = subprocess.Popen(["openbox"], stderr=subprocess.DEVNULL)
    started.append(lambda: stop_process(wm))
    if not wait_until(lambda: "window id" in subprocess.run(
            ["xprop", "-root", "_NET_SUPPORTING_WM_CHECK"], capture_output=True,
            text=True, timeout=10).stdout, 30):
        print("soak: the window manager did not start")
        return 1
    radio = Radio()
    started.append(radio.stop)
    write_test_store(config, "rfc2217://%s" % radio.address)
    env = dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb")
    utility = subprocess.Popen([os.path.join(BIN, "zolvek-ptt")], env=env,
                               stderr=subprocess.DEVNULL)
    started.append(lambda: stop_process(utility))
    if not wait_until(lambda: len([e for e in radio.snapshot() if e["event"] == "frame"]) >= 2,
                      10):
        print("soak: the utility did not start")
        return 1
    window = xdotool("search", "--sync", "--onlyvisible", "--name", TITLE).split("\n")[0]
    collapsed = window_width(window)
    click(window, MORE)
    if not wait_until(lambda: window_width(window) > collapsed, 10):
        print("soak: the options panel did not open")
        return 1
    start_rss, start_fds = process_figures(utility.pid)

    expected, edits = [], {}
    end = time.time() + minutes * 60
    while time.time() < end and utility.poll() is None:
        cycle = time.time()
        send("tx")
        expected.append(TX)
        if random.random() < 0.3:
            choice = random.choice(["top", "minimized", "settings", "port"])
            time.sleep(0.2)
            edit(window, choice)
            edits[choice] = edits.get(choice, 0) + 1
        time.sleep(max(0.0, cycle + 1.0 - time.time()))
        send("rx")
        expected.append(RX)
        time.sleep(max(0.0, cycle + 2.5 - time.time()))

    alive = utility.poll() is None
    end_rss, end_fds = process_figures(utility.pid) if alive else (0, 0)
    # The last receive frame has reached the radio once as many frames as requests are in.
    wait_until(lambda: len([e for e in radio.snapshot()
                            if e["event"] == "frame" and e["hex"] != CAT_ON])
               >= len(expected) + 1, 3)
    missed, out_of_order, delays = check(radio.snapshot(), expected)
    outside = [d for d in delays if not 1200.0 <= d <= 1205.0]
    if alive:
        send("exit")
        utility.wait(10)

    delays.sort()
    print("soak: %.1f minutes, %d requests, edits %s" % (minutes, len(expected), edits))
    print("soak: utility %s" % ("ran throughout" if alive else "DIED"))
    print("soak: resident memory %d kB at start, %d kB at end" % (start_rss, end_rss))
    print("soak: open file descriptors %d at start, %d at end" % (start_fds, end_fds))
    print("soak: frames missed %d, out of order %d" % (missed, out_of_order))
    if delays:
        print("soak: settling delay at the radio: min %.3f ms, median %.3f ms, max %.3f ms, "
              "%d of %d outside 1200 +0/+5 ms" % (delays[0], delays[len(delays) // 2],
                                                   delays[-1], len(outside), len(delays)))
    ok = alive and missed == 0 and out_of_order == 0
    print("soak: %s" % ("passed" if ok else "FAILED"))
    return 0 if ok else 1


if __name__ == "__main__":
    sys.exit(main())
