"""The Windows zolvek-ptt.exe on a local COM port under Wine (run by scripts/windows --check, in
its throwaway prefix): COM1 of the prefix is the tty double's device, so the double logs, call by
call, what the Windows program's serial calls become. Checks start-up, transmit and receive, a
settings edit and a port change, and reports how long the lines stayed high after each open.

    wine_localport.py DIST_FOLDER NATIVE_BIN_FOLDER SUITE_EXE SUITE_WINEPATH [PREVIOUS_DIST_FOLDER]

SUITE_EXE: the back end's own test suite, run on the same port (SUITE_WINEPATH finds its Qt).
PREVIOUS_DIST_FOLDER: an older build's folder, measured the same way for comparison.
"""
import glob
import os
import signal
import statistics
import subprocess
import sys
import tempfile

DIST, NATIVE_BIN = sys.argv[1], sys.argv[2]
SUITE, SUITE_WINEPATH = sys.argv[3], sys.argv[4]
PREVIOUS = sys.argv[5] if len(sys.argv) > 5 else ""
os.environ["ZOLVEK_BIN_DIR"] = NATIVE_BIN
from soak import MORE, RX, SETTINGS, TITLE, TX, Radio, click, stop_process  # noqa: E402
from soak import wait_until, xdotool  # noqa: E402
from wine_check import drop_console_links, map_wine_port, send, windows_path  # noqa: E402
from wine_check import write_store  # noqa: E402

STARTS = int(os.environ.get("ZOLVEK_WINE_STARTS", "20"))


def map_com1(device):
    """The prefix's COM1 is `device`; Wine's links to this machine's console are dropped."""
    map_wine_port("COM1", device)


def start_program(link, command):
    """A Windows program under the double, with a wineserver of its own started inside it (the
    server opens the device, so it must run where the double sees its calls)."""
    subprocess.run(["wineserver", "-k"], capture_output=True, timeout=60)
    subprocess.run(["wineserver", "-w"], capture_output=True, timeout=60)
    drop_console_links()
    return Radio([os.path.join(NATIVE_BIN, "tty-double"), "--json", "--link", link, "--",
                  "wine", *command])


def start(dist, link):
    return start_program(link, [os.path.join(dist, "zolvek-ptt.exe")])


def line_settings(event):
    """A settings event's rate, data bits, parity and stop bits."""
    return event["baud"], event["data"], event["parity"], event["stop"]


def frames(events):
    return [e["hex"] for e in events if e["event"] == "frame"]


def high_after_opens(events):
    """For each open, the ms until both lines were low again (None: they never were)."""
    spans = []
    for i, event in enumerate(events):
        if event["event"] != "open":
            continue
        low = next((e for e in events[i:] if e["event"] == "lines" and not e["dtr"]
                    and not e["rts"]), None)
        spans.append((low["t"] - event["t"]) * 1000 if low else None)
    return spans


def finish(radio, ask=True):
    """Asks the utility to exit (unless it never finished starting, when the request would wait
    for it forever); one that does not is killed, and the lock it leaves is removed (Wine gives
    the next start the same process id, which such a lock would name)."""
    ended = False
    if ask:
        try:
            send("exit")
            ended = wait_until(lambda: radio.proc.poll() is not None, 30)
        except subprocess.TimeoutExpired:
            pass
    stop_process(radio.proc)
    if not ended:
        for lock in glob.glob(os.path.join(os.environ["WINEPREFIX"], "drive_c", "users", "*",
                                           "**", "zolvek-ptt.lock"), recursive=True):
            os.unlink(lock)
    return ended


def measure(dist, link, label, frames_expected=True, starts=STARTS, patience=60):
    """Lines high after open, over STARTS starts; None entries are starts that never lowered
    them (or never opened) within 60 s. A start counts once the lines are low and, where
    `frames_expected`, both start-up frames have gone out."""
    spans, stuck, left = [], 0, []
    for _ in range(starts):
        radio = start(dist, link)
        try:
            def started():
                opened = high_after_opens(radio.snapshot())
                return bool(opened) and opened[0] is not None and (
                    not frames_expected or len(frames(radio.snapshot())) >= 2)
            wait_until(started, patience)
            opened = high_after_opens(radio.snapshot())
            lines = [e for e in radio.snapshot() if e["event"] == "lines"][-1:]
            left += ["DTR %s, RTS %s" % ("high" if lines[0]["dtr"] else "low",
                                         "high" if lines[0]["rts"] else "low")] if lines else []
            spans.append(opened[0] if opened else None)
        finally:
            stuck += 0 if finish(radio, ask=len(frames(radio.snapshot())) >= 2) else 1
    measured = sorted(s for s in spans if s is not None)
    if measured:
        print("  %s: lines high after open %.2f ms median, %.2f ms worst of %d starts%s%s" % (
            label, statistics.median(measured), measured[-1], len(measured),
            "" if len(measured) == starts else
            "; %d start(s) never lowered them" % (starts - len(measured)),
            "; %d start(s) had to be killed" % stuck if stuck else ""))
    else:
        print("  %s: no start of %d lowered both lines within %d s (left with %s)" % (
            label, starts, patience, ", ".join(sorted(set(left))) or "no line change"))
    return len(measured) == starts and not stuck


def session(link, failures):
    """One run: start-up, transmit, receive, a settings edit, a port change, exit."""
    radio = start(DIST, link)
    try:
        if not wait_until(lambda: len(frames(radio.snapshot())) >= 2, 60):
            failures.append("start-up: no frames within 60 s")
            return
        events = radio.snapshot()
        first_frame = next(i for i, e in enumerate(events) if e["event"] == "frame")
        before = events[:first_frame]
        low = [e for e in before if e["event"] == "lines" and not e["dtr"] and not e["rts"]]
        settings = [e for e in before if e["event"] == "settings"]
        applied = settings[-1] if settings else {}
        print("  start-up: lines low before the first frame: %s; frames %s; settings %s" % (
            bool(low), frames(events), {k: applied.get(k) for k in ("baud", "data", "parity",
                                                                      "stop")}))
        if not low or frames(events) != ["0000000000", RX] or not settings or \
                line_settings(applied) != (4800, 8, "n", "2"):
            failures.append("start-up")

        send("tx")
        keyed = wait_until(lambda: frames(radio.snapshot())[-1:] == [TX], 10)
        send("rx")
        released = wait_until(lambda: frames(radio.snapshot())[-1:] == [RX], 10)
        events = radio.snapshot()
        up = any(e["event"] == "lines" and e["dtr"] and e["rts"] for e in events[first_frame:])
        print("  transmit: lines up %s, frame %s; receive: frame %s" % (up, keyed, released))
        if not (up and keyed and released):
            failures.append("transmit and receive")

        edits(radio, failures)
    finally:
        if not finish(radio):
            failures.append("exit when asked")


# What the suite's opens set, in its order (tests/test_localport_win.cpp).
SUITE_SETTINGS = [(4800, 8, "n", "2"), (9600, 7, "e", "1"), (19200, 8, "o", "1")]


def suite(link, failures):
    """The back end's own suite inside the double; the double's log then shows what each open
    did to the lines. The suite asks for the device to be unplugged by creating a file."""
    scratch = tempfile.mkdtemp(prefix="zolvek-wine-suite-")
    log, unplug = os.path.join(scratch, "suite.txt"), os.path.join(scratch, "unplug")
    os.environ.update(WINEPATH=SUITE_WINEPATH, ZOLVEK_TEST_DEVICE="\\\\.\\COM1",
                      ZOLVEK_TEST_UNPLUG=windows_path(unplug))
    try:
        radio = start_program(link, [SUITE, "-o", windows_path(log) + ",txt"])
    finally:
        for name in ("WINEPATH", "ZOLVEK_TEST_DEVICE", "ZOLVEK_TEST_UNPLUG"):
            os.environ.pop(name, None)
    try:
        if wait_until(lambda: os.path.exists(unplug) or radio.proc.poll() is not None, 300) \
                and radio.proc.poll() is None:
            radio.proc.send_signal(signal.SIGUSR1)
        wait_until(lambda: radio.proc.poll() is not None, 120)
    finally:
        stop_process(radio.proc)
    text = open(log, errors="replace").read() if os.path.exists(log) else ""
    totals = [line for line in text.splitlines() if line.startswith("Totals:")]
    print("  back end suite: %s" % (totals[0] if totals else "no totals"))
    for line in text.splitlines():
        if line.startswith(("FAIL", "QFATAL", "   Loc", "SKIP")):
            print("    " + line)
    events = radio.snapshot()
    # Every open: both lines low before any byte went out.
    opens = [i for i, e in enumerate(events) if e["event"] == "open"]
    early = 0
    for i in opens:
        for e in events[i + 1:]:
            if e["event"] == "lines" and not e["dtr"] and not e["rts"]:
                break
            if e["event"] in ("frame", "bytes", "open"):
                early += 1
                break
    applied = [line_settings(e) for e in events if e["event"] == "settings"]
    missing = [s for s in SUITE_SETTINGS if s not in applied]
    unplugged = any(e["event"] == "hangup" for e in events)
    print("  back end suite on the double: %d opens, %d with output before the lines were low;"
          " settings not seen: %s; device unplugged: %s" % (
              len(opens), early, missing or "none", unplugged))
    if not totals or " 0 failed" not in totals[0] or early or missing or not opens:
        failures.append("the back end's own suite")


def edits(radio, failures):
    """A settings edit typed into the window while transmitting, then a port change to the
    missing COM2 (answered) and back: every reopen lowers the lines, no frame goes out, and the
    radio is left in receive at the new settings."""
    window = xdotool("search", "--sync", "--onlyvisible", "--name", TITLE).split()[0]
    send("tx")
    wait_until(lambda: frames(radio.snapshot())[-1:] == [TX], 10)
    edited_from = len(radio.snapshot())

    def applied(events):
        settings = [e for e in events if e["event"] == "settings"][-1:]
        return bool(settings) and line_settings(settings[0]) == (9600, 8, "n", "1")
    click(window, MORE)
    # Keys sent while Wine is still making the clicked window the active one are lost: the
    # edit is typed again until the device has the new settings.
    for _ in range(4):
        click(window, SETTINGS)
        xdotool("key", "ctrl+a")
        xdotool("type", "--delay", "30", "9600,n,8,1")
        if wait_until(lambda: applied(radio.snapshot()[edited_from:]), 5):
            break
    # Leaving the box reopens the port; COM2 is missing ("Com port error", answered), and
    # COM1 chosen back opens it again. A key lost while Wine hands the activation back is sent
    # again: COM1 is the first entry, so a second Up changes nothing.
    def box():
        return xdotool("search", "--onlyvisible", "--name", "^zolvek-ptt$")

    def opens():
        return len([e for e in radio.snapshot() if e["event"] == "open"])
    xdotool("key", "shift+Tab")
    answered = False
    for _ in range(4):
        xdotool("key", "Down")
        if wait_until(box, 5):
            answered = True
            break
    back = False
    for _ in range(6):
        if box():
            xdotool("key", "Return")
            wait_until(lambda: not box(), 5)
            continue
        before = opens()
        xdotool("key", "Up")
        if wait_until(lambda: opens() > before or box(), 5) and not box():
            back = True
            break
    wait_until(lambda: radio.snapshot()[-1]["event"] == "lines", 5)
    events = radio.snapshot()[edited_from:]
    spans = high_after_opens(events)
    last_lines = [e for e in events if e["event"] == "lines"][-1:]
    in_receive = bool(last_lines) and not last_lines[0]["dtr"] and not last_lines[0]["rts"]
    # Every reopen turns the radio's CAT on; nothing else is sent by an edit.
    new_frames = [frame for frame in frames(events) if frame != "0000000000"]
    print("  edit and port change: %d reopens, lines high after each %s ms; settings 9600,n,8,1"
          " applied %s; COM2's error shown %s; COM1 reopened %s; frames sent %s; radio in"
          " receive at the end %s" % (
              len(spans), ", ".join("%.2f" % s if s is not None else "never low"
                                    for s in spans), applied(events), answered, back,
              new_frames, in_receive))
    if len(spans) < 2 or None in spans or new_frames or not in_receive or not applied(events) \
            or not answered or not back:
        failures.append("settings edit and port change")


def main():
    failures = []
    link = os.path.join(tempfile.mkdtemp(prefix="zolvek-wine-com1-"), "radio")
    map_com1(link)
    write_store("\\\\.\\COM1")
    suite(link, failures)
    if not measure(DIST, link, "this back end"):
        failures.append("a start that did not lower the lines")
    if PREVIOUS:
        # Fewer starts, and a shorter wait: it may never lower them.
        measure(PREVIOUS, link, "previous back end (Qt's serial port)", frames_expected=False,
                starts=min(STARTS, 5), patience=15)
    session(link, failures)
    for failure in failures:
        print("wine local port check FAILED: %s" % failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
