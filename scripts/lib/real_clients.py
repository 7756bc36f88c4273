"""Real programs drive the virtual radio through the utility's doors: Hamlib programs through the
rigctl listener, WSJT-X and fldigi through the flrig XML-RPC door, and Hamlib's own FT-847
backend (rigctld -m 1001, with rigctl -m 2 on it) through the serial FT-847 port.

The virtual radio reports an S-meter of 17 dots (-6 dB by Hamlib's table) with the squelch
open. Each program runs for a while on its own X display with a window manager; what it asked
of the radio is counted from the radio's own log, and the screen is saved as a PNG.

grig polls frequency, mode and S-meter. WSJT-X gets Rig "Hamlib NET rigctl" on the listener, PTT
by CAT, Mode USB and Split Operation "Rig"; Tune is pressed (it keys the radio, on the satellite
transmit VFO in split) and pressed again. It has no sound card here and says so when it keys.
KLog (a logger) gets Hamlib model 2 on the listener, read only, polled; the notices it gives at
start (no translation, no country file, no internet to fetch one) are dismissed, and it shows
the radio's frequency. Gpredict gets a "Duplex TRX" radio on the listener and a
satellite (AO-73) from a TLE this script writes; its Radio Control window is opened from the
module's menu, and Track and Engage are pressed (clicks at the places Gpredict 2.3 puts them on a
1280x900 screen under openbox): both satellite VFOs should then follow the Doppler shift.
WSJT-X again with Rig "FLRig" on the flrig door, Tune pressed as before: it must key and
release. Then WSJT-X on the flrig door once more, its Settings' Radio tab open: Test CAT must turn
green, and Test PTT, pressed twice, must key the radio and release it. WSJT-X tests CAT only
with a sound card it can open, so a PulseAudio server with a null sink runs for the whole script
(its "default" devices). fldigi with flrig rig control on the flrig door: it must read the radio's frequency, and
key and release with T/R.
rigctld -m 1001 on the serial port's link, with rigctl -m 2 as the program on it: tunes, switches
satellite mode and keys.
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
SCREEN = "1280x900x24"


def tle_line(text):
    """A TLE line with its checksum: the digits, each minus sign 1, modulo 10."""
    total = sum(int(c) if c.isdigit() else c == "-" for c in text[:68])
    return text[:68] + str(total % 10)


def write_gpredict(config, port):
    folder = os.path.join(config, "Gpredict")
    for sub in ("modules", "satdata", "trsp", "hwconf"):
        os.makedirs(os.path.join(folder, sub), exist_ok=True)

    def write(name, text):
        with open(os.path.join(folder, name), "w") as out:
            out.write(text)

    # Type 3: full duplex; the uplink on Sub (4), the downlink on Main (3).
    write("hwconf/FT847.rig", "[Radio]\nHost=localhost\nPort=%s\nLO=0\nLO_UP=0\nType=3\n"
          "PTT=0\nVFO_UP=4\nVFO_DOWN=3\nSIGNAL_AOS=false\nSIGNAL_LOS=false\n" % port)
    day = time.gmtime()
    epoch = "%02d%03d.50000000" % (day.tm_year % 100, day.tm_yday)
    write("satdata/39444.sat", "[Satellite]\nVERSION=1.1\nNAME=FUNCUBE-1 (AO-73)\n"
          "NICKNAME=AO-73\nTLE1=%s\nTLE2=%s\nSTATUS=0\n" % (
              tle_line("1 39444U 13066AE  %s  .00000261  00000-0  38947-4 0  999" % epoch),
              tle_line("2 39444  97.6059  58.2764 0056877 274.6819  84.7900 14.8162529022320")))
    write("trsp/39444.trsp", "[Mode U/V linear]\nUP_LOW=435130000\nUP_HIGH=435150000\n"
          "DOWN_LOW=145970000\nDOWN_HIGH=145950000\nINVERT=true\nMODE=USB\n")
    write("modules/Amateur.mod", "[GLOBAL]\nSATELLITES=39444;\n")


def reset_radio(port):
    """Main VFO, satellite mode off, as each program should find the radio."""
    import socket
    with socket.create_connection(("127.0.0.1", int(port)), timeout=5) as client:
        client.sendall(b"S 0 Main\nF 14074000\nM USB 0\nq\n")
        while client.recv(256):
            pass


def confined(command):
    """`command` where every /dev/ttyS* is /dev/null: this machine's console is one of them, and
    programs that list serial ports by opening them (fldigi, flrig) must never reach it."""
    return ["unshare", "--mount", "--propagation", "private", "sh", "-c",
            'for t in /dev/ttyS*; do mount --bind /dev/null "$t"; done; exec "$@"', "-"] + command


def click(env, x, y):
    subprocess.run(["xdotool", "mousemove", str(x), str(y), "click", "1"], env=env, check=False)


def write_wsjtx(config, port, rig="Hamlib NET rigctl"):
    with open(os.path.join(config, "WSJT-X.ini"), "w") as out:
        out.write("[Configuration]\nMyCall=N0CALL\nMyGrid=JO65\nRig=%s\n"
                  "CATNetworkPort=127.0.0.1:%s\nPTTMethod=PTT_method_CAT\n"
                  "SplitMode=split_mode_rig\nDataMode=data_mode_USB\n"
                  "SoundInName=default\nSoundOutName=default\n" % (rig, port))


def write_fldigi(home, port):
    """flrig rig control on, the first-run wizard already done."""
    folder = os.path.join(home, ".fldigi")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, "fldigi_def.xml"), "w") as out:
        out.write("<FLDIGI_DEFS>\n<MYCALL>N0CALL</MYCALL>\n<CLIENT_TO_FLRIG>1</CLIENT_TO_FLRIG>\n"
                  "<FLRIG_IP_ADDRESS>127.0.0.1</FLRIG_IP_ADDRESS>\n"
                  "<FLRIG_IP_PORT>%s</FLRIG_IP_PORT>\n<CHKUSEHAMLIBIS>0</CHKUSEHAMLIBIS>\n"
                  "<CHKUSERIGCATIS>0</CHKUSERIGCATIS>\n<CHKUSEXMLRPCIS>0</CHKUSEXMLRPCIS>\n"
                  "</FLDIGI_DEFS>\n" % port)


def serial_session(link, env):
    """rigctld on the serial port's link, and a second program (rigctl -m 2) on it."""
    import socket
    with socket.socket() as probe:
        probe.bind(("127.0.0.1", 0))
        port = probe.getsockname()[1]
    rigctld = subprocess.Popen(["rigctld", "-m", "1001", "-r", link, "-s", "4800", "-t", str(port)],
                               env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        time.sleep(3)
        said = subprocess.run(["rigctl", "-m", "2", "-r", "127.0.0.1:%d" % port, "F", "145100000",
                               "f", "S", "1", "VFOB", "I", "435300000", "i", "T", "1", "t", "T",
                               "0", "S", "0", "VFOA"], env=env, capture_output=True, text=True,
                              timeout=60)
        return said.stdout.split()
    finally:
        rigctld.terminate()
        rigctld.wait(10)


def write_klog(home, port):
    os.makedirs(os.path.join(home, ".klog"), exist_ok=True)
    with open(os.path.join(home, ".klog", "klogrc"), "w") as out:
        out.write("CALLSIGN=N0CALL;\nHAMLIB=True;\nHAMLIBRIGTYPE=2;\nHAMLIBNETADDRESS=127.0.0.1;\n"
                  "HAMLIBNETPORT=%s;\nHAMLIBRIGPOLLRATE=500;\nHAMLIBREADONLY=True;\n" % port)


def dismiss_notices(env):
    for _ in range(5):
        subprocess.run(["xdotool", "key", "Return"], env=env, check=False)
        time.sleep(2)


def tune_wsjtx(env):
    """Tune on for a few seconds, its sound card complaint dismissed, then off."""
    click(env, 640, 450)  # the splash screen away
    time.sleep(2)
    click(env, 753, 415)  # Tune
    time.sleep(5)
    subprocess.run(["xdotool", "key", "Return"], env=env, check=False)
    time.sleep(1)
    click(env, 753, 415)  # Tune off


def pixel(display, x, y):
    """The colour at (x, y) of `display`'s screen, as (red, green, blue)."""
    from Xlib import X, display as xdisplay
    screen = xdisplay.Display(display).screen()
    data = screen.root.get_image(x, y, 1, 1, X.ZPixmap, 0xffffffff).data
    return data[2], data[1], data[0]


TESTS = {}


def test_wsjtx(env):
    """Settings (F2), Radio tab: Test CAT, then Test PTT twice (at the places WSJT-X 2.6 puts them
    under openbox on a 1280x900 screen); whether Test CAT turned green and Test PTT red."""
    def green(rgb):
        return rgb[1] > 120 and rgb[0] < 100 and rgb[2] < 100
    click(env, 640, 450)  # the splash screen away
    time.sleep(2)
    click(env, 200, 250)  # the main window has the keyboard
    subprocess.run(["xdotool", "key", "F2"], env=env, check=False)
    time.sleep(3)
    click(env, 203, 46)  # Radio
    time.sleep(2)
    click(env, 516, 545)  # Test CAT
    time.sleep(4)
    TESTS["cat"] = green(pixel(env["DISPLAY"], 470, 545))
    click(env, 701, 545)  # Test PTT: keyed
    time.sleep(3)
    TESTS["ptt"] = pixel(env["DISPLAY"], 700, 545)[:2] == (255, 0)
    click(env, 701, 545)  # released
    time.sleep(2)
    click(env, 740, 689)  # Cancel


def start_sound(env):
    """A PulseAudio server with one null sink, for WSJT-X's sound card; None without one."""
    try:
        subprocess.run(["pulseaudio", "--daemonize=yes", "--exit-idle-time=-1", "-n",
                        "--load=module-null-sink sink_name=zolvek",
                        "--load=module-native-protocol-unix"], env=env, check=True,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
        return True
    except (OSError, subprocess.SubprocessError):
        return False


def key_fldigi(env):
    """T/R on for a few seconds, then off (where fldigi 4.1 puts it at 1280x900 under openbox)."""
    click(env, 593, 353)
    time.sleep(3)
    click(env, 593, 353)


def engage_gpredict(env):
    """Radio Control from the module's menu, then Track and Engage."""
    click(env, 682, 65)   # the module's menu button
    time.sleep(1.5)
    click(env, 755, 235)  # Radio Control
    time.sleep(2.5)
    # Openbox places the Radio Control window at (390, 463) on this screen.
    x, y = 390, 463
    click(env, x + 216, y + 274)  # Track
    time.sleep(0.5)
    click(env, x + 696, y + 274)  # Engage



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
    env = None
    try:
        display = ":%d" % (90 + os.getpid() % 9)
        procs.append(subprocess.Popen(["Xvfb", display, "-noreset", "-screen", "0",
                                       SCREEN], stderr=subprocess.DEVNULL))
        time.sleep(1)
        env = dict(os.environ, DISPLAY=display, HOME=work, XDG_CONFIG_HOME=work,
                   XDG_RUNTIME_DIR=os.path.join(work, "runtime"))
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        procs.append(subprocess.Popen(["openbox"], env=env, stderr=subprocess.DEVNULL))
        sound = start_sound(env)

        sim = subprocess.Popen([os.path.join(BIN, "ft847-sim"), "--json", "--smeter", "17",
                                "--squelch-open"], stdout=subprocess.PIPE, text=True)
        procs.append(sim)
        address = json.loads(sim.stdout.readline())["address"]
        frames = []
        threading.Thread(target=lambda: [frames.append(json.loads(line))
                                         for line in sim.stdout], daemon=True).start()
        write_test_store(work, "rfc2217://" + address)
        link = os.path.join(work, "ft847")
        utility = subprocess.Popen([os.path.join(BIN, "zolvek-ptt"), "--listen", "127.0.0.1:0",
                                    "--flrig", "127.0.0.1:0", "--cat-port", link],
                                   env=env, stderr=subprocess.PIPE, text=True)
        procs.append(utility)
        port = flrig = None
        deadline = time.monotonic() + 15
        while not (port and flrig) and time.monotonic() < deadline:
            said = utility.stderr.readline()
            found = re.search(r"rigctl listener on [0-9.]+:(\d+)", said)
            port = port or (found and found.group(1))
            found = re.search(r"flrig XML-RPC on [0-9.]+:(\d+)", said)
            flrig = flrig or (found and found.group(1))
        if not (port and flrig):
            print("real clients: the utility did not open its doors", file=sys.stderr)
            return 1
        threading.Thread(target=lambda: [None for _ in utility.stderr], daemon=True).start()
        # The radio's lines go up at connect, as a serial port server opens the port, until the
        # utility lowers them: only what comes after counts.
        while not any(e.get("event") == "frame" for e in frames) and time.monotonic() < deadline:
            time.sleep(0.1)

        write_gpredict(work, port)
        write_klog(work, port)
        write_fldigi(work, flrig)
        # Gpredict gave up on a listener that failed it after about 20 s: it gets 40.
        programs = [("grig", ["grig", "-m", "2", "-r", "127.0.0.1:" + port], None, 15),
                    ("gpredict", ["gpredict"], engage_gpredict, 40),
                    ("wsjtx", ["wsjtx"], tune_wsjtx, 10),
                    ("klog", ["klog"], dismiss_notices, 10),
                    ("wsjtx-flrig", ["wsjtx"], tune_wsjtx, 10),
                    ("wsjtx-flrig-test", ["wsjtx"], test_wsjtx, 5),
                    ("fldigi-flrig", ["fldigi"], key_fldigi, 15)]
        failed = False
        for name, command, drive, seconds in programs:
            reset_radio(port)
            if name.startswith("wsjtx"):
                write_wsjtx(work, flrig if name.endswith("flrig") else port,
                            "FLRig FLRig" if name.endswith("flrig") else "Hamlib NET rigctl")
            time.sleep(1)
            start = len(frames)
            program = subprocess.Popen(confined(command), env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            if drive:
                time.sleep(10)
                drive(env)
            time.sleep(seconds)
            shot = os.path.join(output, name + ".png")
            save_png(display, shot)
            program.terminate()
            try:
                program.wait(5)
            except subprocess.TimeoutExpired:
                program.kill()
            # WSJT-X's decoder outlives it when WSJT-X is terminated.
            subprocess.run(["pkill", "-f", "jt9 .*" + work], check=False)
            seen = [e for e in frames[start:] if e.get("event") == "frame"]
            reads = sum(e["hex"].endswith("03") for e in seen)
            meters = sum(e["hex"].endswith("e7") for e in seen)
            lines = [e for e in frames[start:] if e.get("event") == "lines"]
            keyed = [e for e in lines if e.get("dtr") or e.get("rts")]
            released = bool(lines) and not (lines[-1].get("dtr") or lines[-1].get("rts"))
            modes = ["%s %s" % (e["vfo"], e["mode"]) for e in frames[start:]
                     if e.get("event") == "mode"]
            satellite = [e for e in frames[start:] if e.get("event") == "satellite"]
            tuned = {vfo: sorted({e["hz"] for e in frames[start:]
                                  if e.get("event") == "frequency" and e.get("vfo") == vfo})
                     for vfo in ("main", "sat rx", "sat tx")}
            print("%s: %d frames in %d s: %d frequency reads, %d S-meter reads, keyed %d times%s; "
                  "satellite mode %s; modes set: %s; frequencies set: %s; screen %s" % (
                      name, len(seen), seconds, reads, meters, len(keyed),
                      " and released" if keyed and released else "",
                      [e["on"] for e in satellite], modes,
                      {vfo: "%d, %s" % (len(hz), hz[:3] + (["..."] if len(hz) > 3 else []))
                       for vfo, hz in tuned.items()}, shot))
            if name == "wsjtx-flrig-test":
                print("  Test CAT %s, Test PTT %s (sound server %s)" % (
                    "green" if TESTS.get("cat") else "NOT green",
                    "red while keyed" if TESTS.get("ptt") else "NOT red",
                    "running" if sound else "missing"))
                failed = (failed or not TESTS.get("cat") or not TESTS.get("ptt") or not keyed
                          or not released)
            elif name.startswith("wsjtx"):
                failed = failed or not keyed or not released or not satellite
            elif name != "fldigi-flrig":
                failed = failed or bool(keyed)
            if name in ("klog", "fldigi-flrig"):
                failed = failed or reads == 0
            if name == "fldigi-flrig":
                failed = failed or not keyed or not released
            if name == "gpredict":
                failed = failed or len(tuned["sat rx"]) < 2 or len(tuned["sat tx"]) < 2
        reset_radio(port)
        start = len(frames)
        answers = serial_session(link, env)
        lines = [e for e in frames[start:] if e.get("event") == "lines"]
        tuned = [e["hz"] for e in frames[start:] if e.get("event") == "frequency"]
        satellite = [e["on"] for e in frames[start:] if e.get("event") == "satellite"]
        print("rigctld -m 1001 on the serial port, rigctl -m 2 on it: answered %s; frequencies "
              "set %s; satellite mode %s; lines %s" % (answers, tuned, satellite,
                                                        [e["dtr"] for e in lines]))
        # "i" is read from whichever VFO rigctld picks; the frames and the key are the door's.
        failed = (failed or answers[:1] != ["145100000"] or answers[-1:] != ["1"]
                  or 145100000 not in tuned or 435300000 not in tuned
                  or satellite[:1] != [True] or [e["dtr"] for e in lines] != [True, False])
        return 1 if failed else 0
    finally:
        if env:
            subprocess.run(["pulseaudio", "--kill"], env=env, check=False,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        for proc in reversed(procs):
            proc.terminate()
        for proc in procs:
            try:
                proc.wait(5)
            except subprocess.TimeoutExpired:
                proc.kill()


if __name__ == "__main__":
    sys.exit(main())
