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
import subprocess
import sys
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
BIN = os.environ.get("ZOLVEK_BIN_DIR") or os.path.join(ROOT, "build", "bin")
TITLE = "^ZOLVEK Yaesu  FT-847 PTT V1$"
TX, RX = "0100000007", "0300000007"

# Control centres in window pixels (the layout's twips at 96 dpi).
MORE = (39, 84)
SETTINGS = (180, 65)
COMBO = (145, 26)
MINIMIZED = (130, 88)
ON_TOP = (214, 88)


class Radio:
    def __init__(self):
        self.proc = subprocess.Popen([os.path.join(BIN, "ft847-sim"), "--json"],
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
        self.proc.kill()
        self.proc.wait()


def xdotool(*args):
    return subprocess.run(["xdotool", *args], capture_output=True, text=True,
                          timeout=10).stdout.strip()


def click(window, at):
    xdotool("mousemove", "--window", window, str(at[0]), str(at[1]), "click", "1")


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
    frames = [e for e in events if e["event"] == "frame"][2:]
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
    wm = subprocess.Popen(["openbox"], stderr=subprocess.DEVNULL)
    time.sleep(1.0)
    radio = Radio()
    config = tempfile.mkdtemp(prefix="zolvek-soak-")
    os.makedirs(os.path.join(config, "KELD"), mode=0o700)
    with open(os.path.join(config, "KELD", "settings.ini"), "w") as store:
        store.write("[Ports]\nCOM1=rfc2217://%s\n" % radio.address)
        for port in range(2, 17):
            store.write("COM%d=%s/missing-com%d\n" % (port, config, port))
    env = dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="xcb")
    utility = subprocess.Popen([os.path.join(BIN, "zolvek-ptt")], env=env,
                               stderr=subprocess.DEVNULL)
    deadline = time.time() + 10
    while len([e for e in radio.snapshot() if e["event"] == "frame"]) < 2:
        if time.time() > deadline:
            print("soak: the utility did not start")
            return 1
        time.sleep(0.05)
    window = xdotool("search", "--sync", "--name", TITLE).split("\n")[0]
    click(window, MORE)
    time.sleep(0.5)
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
    time.sleep(0.5)
    missed, out_of_order, delays = check(radio.snapshot(), expected)
    outside = [d for d in delays if not 1200.0 <= d <= 1205.0]
    if alive:
        send("exit")
        utility.wait(10)
    radio.stop()
    wm.terminate()

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
