"""Real Hamlib programs drive the virtual radio through the utility's rigctl listener.

The virtual radio reports an S-meter of 17 dots (-6 dB by Hamlib's table) with the squelch
open. Each program runs for a while on its own X display with a window manager; what it asked
of the radio is counted from the radio's own log, and the screen is saved as a PNG.
"""
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

from zolvekcontract import write_test_store

BIN = os.environ["ZOLVEK_BIN_DIR"]
RUN_SECONDS = 15



def save_png(display, path):
    """The whole screen of `display`, as a PNG."""
    from Xlib import X, display as xdisplay
    screen = xdisplay.Display(display).screen()
    width, height = screen.width_in_pixels, screen.height_in_pixels
    image = screen.root.get_image(0, 0, width, height, X.ZPixmap, 0xffffffff)
    data = image.data
    rows = b"".join(
        b"\0" + bytes(v for x in range(width)
                      for v in (data[(y * width + x) * 4 + 2], data[(y * width + x) * 4 + 1],
                                data[(y * width + x) * 4]))
        for y in range(height))

    def chunk(kind, body):
        return (struct.pack(">I", len(body)) + kind + body
                + struct.pack(">I", zlib.crc32(kind + body) & 0xffffffff))

    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height,
                                                                      8, 2, 0, 0, 0))
                  + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def main():
    output = sys.argv[1] if len(sys.argv) > 1 else tempfile.mkdtemp(prefix="real-clients-")
    os.makedirs(output, exist_ok=True)
    work = tempfile.mkdtemp()
    procs = []
    try:
        display = ":%d" % (90 + os.getpid() % 9)
        procs.append(subprocess.Popen(["Xvfb", display, "-noreset", "-screen", "0",
                                       "1024x768x24"], stderr=subprocess.DEVNULL))
        time.sleep(1)
        env = dict(os.environ, DISPLAY=display, HOME=work, XDG_CONFIG_HOME=work,
                   XDG_RUNTIME_DIR=os.path.join(work, "runtime"))
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        procs.append(subprocess.Popen(["openbox"], env=env, stderr=subprocess.DEVNULL))

        sim = subprocess.Popen([os.path.join(BIN, "ft847-sim"), "--json", "--smeter", "17",
                                "--squelch-open"], stdout=subprocess.PIPE, text=True)
        procs.append(sim)
        address = json.loads(sim.stdout.readline())["address"]
        frames = []
        threading.Thread(target=lambda: [frames.append(json.loads(line))
                                         for line in sim.stdout], daemon=True).start()
        write_test_store(work, "rfc2217://" + address)
        utility = subprocess.Popen([os.path.join(BIN, "zolvek-ptt"), "--listen", "127.0.0.1:0"],
                                   env=env, stderr=subprocess.PIPE, text=True)
        procs.append(utility)
        port = None
        deadline = time.monotonic() + 15
        while port is None and time.monotonic() < deadline:
            found = re.search(r"rigctl listener on [0-9.]+:(\d+)", utility.stderr.readline())
            port = found and found.group(1)
        if not port:
            print("real clients: the utility did not start its listener", file=sys.stderr)
            return 1
        threading.Thread(target=lambda: [None for _ in utility.stderr], daemon=True).start()

        programs = [("grig", ["grig", "-m", "2", "-r", "127.0.0.1:" + port])]
        failed = False
        for name, command in programs:
            start = len(frames)
            program = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            time.sleep(RUN_SECONDS)
            shot = os.path.join(output, name + ".png")
            save_png(display, shot)
            program.terminate()
            try:
                program.wait(5)
            except subprocess.TimeoutExpired:
                program.kill()
            seen = [e for e in frames[start:] if e.get("event") == "frame"]
            reads = sum(e["hex"].endswith("03") for e in seen)
            meters = sum(e["hex"].endswith("e7") for e in seen)
            keyed = [e for e in frames[start:] if e.get("event") == "lines"
                     and (e.get("dtr") or e.get("rts"))]
            print("%s: %d frames in %d s: %d frequency reads, %d S-meter reads, keyed %d times; "
                  "screen %s" % (name, len(seen), RUN_SECONDS, reads, meters, len(keyed), shot))
            failed = failed or reads == 0 or bool(keyed)
        return 1 if failed else 0
    finally:
        for proc in reversed(procs):
            proc.terminate()
        for proc in procs:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()


if __name__ == "__main__":
    sys.exit(main())
