"""A station of three programs on one radio, against the utility's listener and, side by side in
the same run, Debian's rigctld -m 1001 on a second virtual radio (through socat and a pty).

  python3 bench/station.py [MINUTES]      (default 3; needs build/bin, rigctld and socat)

The programs, each on its own connection to each server:
  doppler  Gpredict-like: I (satellite uplink) and F (downlink) 5 times a second each
  wsjtx    WSJT-X-like: f, m, t, s every second; keys 12.6 s of every 15 s (T 1 ... T 0)
  logger   a logger: f and l STRENGTH twice a second
Measured: T 1 to the radio keyed (ours: its lines; rigctld: its PTT frame), each program's worst
answer, polls completed of those due, the radio's frames a second, the closest two frames, and
each Doppler set to its change at the radio. Where tcpdump may capture on the loopback (root),
the utility's key is also timed on the wire: the T 1 packet to the packet that raises the lines,
and that packet to the virtual radio's reading of it. Prints a table; measures, asserts nothing.
"""
import json
import multiprocessing
import os
import shutil
import socket
import statistics
import struct
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "scripts", "lib"))
from zolvekcontract import ROOT, write_test_store  # noqa: E402

BIN = os.environ.get("ZOLVEK_BIN_DIR") or os.path.join(ROOT, "build", "bin")


class Radio:
    """A virtual radio and its JSON log, read as it comes."""

    def __init__(self, *extra):
        self.proc = subprocess.Popen([os.path.join(BIN, "ft847-sim"), "--json", *extra],
                                     stdout=subprocess.PIPE, text=True, bufsize=1)
        self.address = json.loads(self.proc.stdout.readline())["address"]
        self.events = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.events.append(json.loads(line))


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def connect(port, seconds=20):
    deadline = time.monotonic() + seconds
    while True:
        try:
            return socket.create_connection(("127.0.0.1", port), timeout=10)
        except OSError:
            if time.monotonic() > deadline:
                raise
            time.sleep(0.1)


class Client:
    """One program's connection: a command and its answer lines, timed."""

    def __init__(self, port):
        self.sock = connect(port)
        self.buffer = b""
        self.worst = 0.0

    def ask(self, text, lines=1):
        start = time.monotonic()
        self.sock.sendall(text.encode())
        while self.buffer.count(b"\n") < lines:
            chunk = self.sock.recv(4096)
            if not chunk:
                raise ConnectionError("closed")
            self.buffer += chunk
        parts = self.buffer.split(b"\n")
        answer, self.buffer = parts[:lines], b"\n".join(parts[lines:])
        self.worst = max(self.worst, time.monotonic() - start)
        return start, answer


def doppler(port, end, sets):
    client = Client(port)
    down, up = 145_900_000, 435_300_000
    client.ask("S 1 VFOB\n")
    tick = time.monotonic()
    while time.monotonic() < end:
        up += 10
        sets.append((client.ask("I %d\n" % up)[0], up))
        tick += 0.1
        time.sleep(max(0.0, tick - time.monotonic()))
        down -= 10
        sets.append((client.ask("F %d\n" % down)[0], down))
        tick += 0.1
        time.sleep(max(0.0, tick - time.monotonic()))
    return client.worst, 0, 0


def wsjtx(port, end, keys):
    client = Client(port)
    start = tick = time.monotonic()
    done = due = 0
    keyed = False
    while time.monotonic() < end:
        phase = (time.monotonic() - start) % 15.0
        if phase < 12.6 and not keyed:
            keys.append(client.ask("T 1\n")[0])
            keyed = True
        elif phase >= 12.6 and keyed:
            client.ask("T 0\n")
            keyed = False
        due += 1
        client.ask("f\n")
        client.ask("m\n", 2)
        client.ask("t\n")
        client.ask("s\n", 2)
        if time.monotonic() < tick + 1.0:
            done += 1
        tick += 1.0
        time.sleep(max(0.0, tick - time.monotonic()))
    if keyed:
        client.ask("T 0\n")
    return client.worst, done, due


def logger(port, end, _):
    client = Client(port)
    tick = time.monotonic()
    done = due = 0
    while time.monotonic() < end:
        due += 1
        client.ask("f\n")
        client.ask("l STRENGTH\n")
        if time.monotonic() < tick + 0.5:
            done += 1
        tick += 0.5
        time.sleep(max(0.0, tick - time.monotonic()))
    return client.worst, done, due


def run_program(program, port, end, queue):
    """One program in a process of its own, so no client waits on another's interpreter lock
    between taking its clock and sending."""
    shared = []
    try:
        queue.put((program.__name__, port, program(port, end, shared), shared))
    except (OSError, ConnectionError) as error:
        queue.put((program.__name__, port, str(error), shared))


def run_stations(ports, minutes):
    end = time.monotonic() + minutes * 60
    queue = multiprocessing.Queue()
    procs = [multiprocessing.Process(target=run_program, args=(program, port, end, queue))
             for port in ports for program in (doppler, wsjtx, logger)]
    for proc in procs:
        proc.start()
    runs = {port: ({}, [], []) for port in ports}
    for _ in procs:
        name, port, result, shared = queue.get(timeout=minutes * 60 + 120)
        results, sets, keys = runs[port]
        results[name] = result
        (sets if name == "doppler" else keys).extend(shared)
    for proc in procs:
        proc.join(10)
    return [runs[port] for port in ports]


def figures(name, radio, results, sets, keys, lines_key):
    frames = [e for e in radio.events if e["event"] == "frame"]
    times = [e["t"] for e in frames]
    gaps = [(b - a) * 1000 for a, b in zip(times, times[1:])]
    if lines_key:
        up = [e["t"] for e in radio.events if e["event"] == "lines" and e["dtr"] and e["rts"]]
    else:
        up = [e["t"] for e in frames if e["hex"].endswith("08")]
    delays = []
    for asked in keys:
        later = [t for t in up if t >= asked]
        if later:
            delays.append((later[0] - asked) * 1000)
    changed = {}
    for e in radio.events:
        if e["event"] == "frequency":
            changed.setdefault(e["hz"], e["t"])
    set_delays = [(changed[hz] - asked) * 1000 for asked, hz in sets if hz in changed]
    span = (times[-1] - times[0]) if len(times) > 1 else 1.0
    rows = [("%s: T 1 to keyed (median, worst)" % name,
             "%.2f, %.2f ms" % (statistics.median(delays), max(delays)) if delays else "none")]
    for program in ("doppler", "wsjtx", "logger"):
        result = results.get(program)
        if isinstance(result, tuple):
            worst, done, due = result
            polls = ", polls on time %d of %d" % (done, due) if due else ""
            rows.append(("%s: %s worst answer%s" % (name, program, polls),
                         "%.1f ms" % (worst * 1000)))
        else:
            rows.append(("%s: %s" % (name, program), "failed: %s" % result))
    rows.append(("%s: Doppler set to change at the radio (median, worst; %d of %d)"
                 % (name, len(set_delays), len(sets)),
                 "%.1f, %.1f ms" % (statistics.median(set_delays), max(set_delays))
                 if set_delays else "none"))
    rows.append(("%s: frames a second, closest two frames" % name,
                 "%.1f/s, %.2f ms" % (len(frames) / span, min(gaps) if gaps else 0)))
    return rows


def start_capture(path, ports):
    """tcpdump on the loopback for these TCP ports, or None where it cannot run."""
    if not shutil.which("tcpdump") or os.geteuid() != 0:
        return None
    capture = subprocess.Popen(
        ["tcpdump", "-i", "lo", "-nn", "-s", "256", "--time-stamp-precision=nano", "-w", path,
         " or ".join("tcp port %d" % port for port in ports)],
        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(1)  # it listens before the programs start
    return capture


def wire_rows(path, offset, listener, keys, radio):
    """Each key on the wire: T 1 reaching the listener's port to the RFC 2217 SET-CONTROL that
    raises the lines leaving for the radio, and that to the radio's reading of the lines."""
    with open(path, "rb") as f:
        data = f.read()
    link = struct.unpack("<I", data[20:24])[0]
    packets, pos = [], 24
    while pos + 16 <= len(data):
        sec, nsec, size, _ = struct.unpack("<IIII", data[pos:pos + 16])
        ip = data[pos + 16:pos + 16 + size][14 if link == 1 else 0:]
        pos += 16 + size
        tcp = ip[(ip[0] & 15) * 4:]
        packets.append((sec + nsec / 1e9 - offset, struct.unpack(">H", tcp[2:4])[0],
                        tcp[(tcp[12] >> 4) * 4:]))
    ups = [e["t"] for e in radio.events if e["event"] == "lines" and e["dtr"] and e["rts"]]
    out, read = [], []
    for asked in keys:
        request = next((p for p in packets if p[0] >= asked - 0.001 and p[1] == listener
                        and p[2].startswith(b"T 1")), None)
        lines = request and next((p for p in packets if p[0] >= request[0]
                                  and b"\xff\xfa\x2c\x05" in p[2]), None)
        up = lines and next((t for t in ups if t >= asked), None)
        if up:
            out.append((lines[0] - request[0]) * 1000)
            read.append((up - lines[0]) * 1000)
    # Frames to the radio: data without Telnet commands, as the radio's port carries them.
    port = int(radio.address.rsplit(":", 1)[1])
    sent = [p[0] for p in packets if p[1] == port and len(p[2]) >= 5 and p[2][0] != 0xff]
    gaps = [(b - a) * 1000 for a, b in zip(sent, sent[1:])]
    if not out:
        return []
    return [("zolvek-ptt, on the wire: T 1 to the lines leaving (median, worst)",
             "%.3f, %.3f ms" % (statistics.median(out), max(out))),
            ("zolvek-ptt, on the wire: lines leaving to the radio reading them (median, worst)",
             "%.3f, %.3f ms" % (statistics.median(read), max(read))),
            ("zolvek-ptt, on the wire: closest two frames leaving for the radio",
             "%.2f ms" % min(gaps) if gaps else "none")]


def main():
    minutes = float(sys.argv[1]) if len(sys.argv) > 1 else 3.0
    started = []
    config = tempfile.mkdtemp(prefix="zolvek-station-")
    try:
        ours_radio, their_radio = Radio(), Radio("--raw")
        started += [ours_radio.proc, their_radio.proc]
        write_test_store(config, "rfc2217://%s" % ours_radio.address)
        ours_port, their_port = free_port(), free_port()
        env = dict(os.environ, XDG_CONFIG_HOME=config, QT_QPA_PLATFORM="offscreen",
                   XDG_RUNTIME_DIR=config)
        started.append(subprocess.Popen(
            [os.path.join(BIN, "zolvek-ptt"), "--listen", "127.0.0.1:%d" % ours_port], env=env,
            stderr=subprocess.DEVNULL))
        pty = os.path.join(config, "radio")
        started.append(subprocess.Popen(
            ["socat", "pty,raw,echo=0,link=" + pty, "tcp:" + their_radio.address]))
        deadline = time.monotonic() + 10
        while not os.path.exists(pty) and time.monotonic() < deadline:
            time.sleep(0.05)
        started.append(subprocess.Popen(
            ["rigctld", "-m", "1001", "-r", pty, "-s", "4800", "-t", str(their_port)],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
        connect(ours_port).close()
        connect(their_port).close()
        pcap = os.path.join(config, "station.pcap")
        capture = start_capture(pcap, (ours_port, int(ours_radio.address.rsplit(":", 1)[1])))
        if capture:
            started.append(capture)
        offset = time.time() - time.monotonic()
        runs = run_stations((ours_port, their_port), minutes)
        rows = figures("zolvek-ptt", ours_radio, *runs[0], True)
        if capture:
            capture.terminate()
            capture.wait()
            rows += wire_rows(pcap, offset, ours_port, runs[0][2], ours_radio)
        rows += figures("rigctld -m 1001", their_radio, *runs[1], False)
        print("| Station, %.1f minutes | Figure |\n|---|---|" % minutes)
        for name, value in rows:
            print("| %s | %s |" % (name, value))
    finally:
        for proc in reversed(started):
            proc.kill()
            proc.wait()
    return 0


if __name__ == "__main__":
    sys.exit(main())
