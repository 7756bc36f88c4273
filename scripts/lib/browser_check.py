"""A web page in a real browser tries to key the radio through the rigctl listener and flrig's
XML-RPC door.

Debian's headless Chromium loads a page from one local origin; the page posts "T 1" to the
utility's listener, and rig.set_ptt 1 to its flrig door, each on another local origin, as a page
may without asking: fetch (no-cors, text/plain; and text/xml, which asks a CORS preflight first),
XMLHttpRequest, a text/plain form and sendBeacon. The virtual radio must never be keyed, and the
utility must have seen the requests at both doors (it says so once on standard error)."""

import http.server
import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time

from zolvekcontract import ROOT, write_test_store

BIN = os.environ.get("ZOLVEK_BIN_DIR", os.path.join(ROOT, "build", "bin"))
TRIES = 7  # each way of posting, so 56 requests

PAGE = """<!doctype html><title>not a rig client</title>
<iframe name="sink" style="display:none"></iframe>
<form id="form" method="post" enctype="text/plain" target="sink" action="LISTENER/">
<input name="T 1&#10;T" value="1"></form>
<form id="xmlform" method="post" enctype="text/plain" target="sink" action="FLRIG/RPC2">
<input name="<?xml version" value='"1.0"?><methodCall><methodName>rig.set_ptt</methodName><params><param><value><i4>1</i4></value></param></params></methodCall>'></form>
<script>
const listener = "LISTENER/";
const flrig = "FLRIG/RPC2";
const key = '<?xml version="1.0"?><methodCall><methodName>rig.set_ptt</methodName>' +
            '<params><param><value><i4>1</i4></value></param></params></methodCall>';
async function attack() {
  for (let i = 0; i < TRIES; i++) {
    await fetch(flrig, {method: "POST", mode: "no-cors", body: key,
                        headers: {"Content-Type": "text/plain"}}).catch(() => {});
    await fetch(flrig, {method: "POST", body: key,
                        headers: {"Content-Type": "text/xml"}}).catch(() => {});
    navigator.sendBeacon(flrig, new Blob([key], {type: "text/plain"}));
    document.getElementById("xmlform").submit();
    await new Promise(done => setTimeout(done, 100));
    await fetch(listener, {method: "POST", mode: "no-cors", body: "T 1\\n",
                           headers: {"Content-Type": "text/plain"}}).catch(() => {});
    await new Promise(done => {
      const request = new XMLHttpRequest();
      request.open("POST", listener);
      request.setRequestHeader("Content-Type", "text/plain");
      request.onloadend = done;
      request.send("T 1\\n");
    });
    document.getElementById("form").submit();
    await new Promise(done => setTimeout(done, 300));
  }
  await fetch("/done");
}
attack();
</script>"""


def read_until(stream, pattern, deadline):
    text = ""
    while time.monotonic() < deadline:
        line = stream.readline()
        if not line:
            break
        text += line
        match = re.search(pattern, line)
        if match:
            return match, text
    return None, text


def main():
    chromium = shutil.which("chromium")
    if not chromium:
        print("browser check: chromium is not installed", file=sys.stderr)
        return 1
    work = tempfile.mkdtemp(prefix="zolvek-browser-")
    procs = []
    try:
        sim = subprocess.Popen([os.path.join(BIN, "ft847-sim"), "--json"],
                               stdout=subprocess.PIPE, text=True)
        procs.append(sim)
        listening = json.loads(sim.stdout.readline())
        events = []
        threading.Thread(target=lambda: [events.append(json.loads(l)) for l in sim.stdout],
                         daemon=True).start()
        write_test_store(work, "rfc2217://" + listening["address"])
        env = dict(os.environ, XDG_CONFIG_HOME=work, QT_QPA_PLATFORM="offscreen",
                   XDG_RUNTIME_DIR=os.path.join(work, "runtime"))
        os.makedirs(env["XDG_RUNTIME_DIR"], mode=0o700)
        utility = subprocess.Popen([os.path.join(BIN, "zolvek-ptt"), "--listen", "127.0.0.1:0",
                                    "--flrig", "127.0.0.1:0"],
                                   env=env, stderr=subprocess.PIPE, text=True)
        procs.append(utility)
        match, said = read_until(utility.stderr, r"rigctl listener on ([0-9.]+:\d+)",
                                 time.monotonic() + 10)
        if not match:
            print("browser check: the utility did not start its listener:\n" + said,
                  file=sys.stderr)
            return 1
        flrig, more = read_until(utility.stderr, r"flrig XML-RPC on ([0-9.]+:\d+)",
                                 time.monotonic() + 10)
        if not flrig:
            print("browser check: the utility did not start its flrig door:\n" + more,
                  file=sys.stderr)
            return 1
        errors = []
        threading.Thread(target=lambda: [errors.append(l) for l in utility.stderr],
                         daemon=True).start()
        listener = "http://" + match.group(1)
        page = (PAGE.replace("LISTENER/", listener + "/")
                .replace("FLRIG/", "http://" + flrig.group(1) + "/").replace("TRIES", str(TRIES)))
        done = threading.Event()

        class Pages(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                if self.path == "/done":
                    done.set()
                body = page.encode() if self.path == "/" else b"ok"
                self.send_response(200)
                self.send_header("Content-Type", "text/html")
                self.send_header("Content-Length", str(len(body)))
                self.end_headers()
                self.wfile.write(body)

            def log_message(self, *args):
                pass

        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), Pages)
        threading.Thread(target=server.serve_forever, daemon=True).start()
        # Quiet and offline, as the machine has no network: no background fetches at all.
        browser = subprocess.Popen(
            [chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
             "--no-first-run", "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--user-data-dir=" + os.path.join(work, "chromium"),
             "http://127.0.0.1:%d/" % server.server_address[1]],
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        procs.append(browser)
        finished = done.wait(120)
        browser.kill()
        server.shutdown()
        time.sleep(0.5)  # the last lines events, if any, reach the log
        keyed = [e for e in events if e.get("event") == "lines" and (e["dtr"] or e["rts"])]
        # The virtual radio raises the lines at connect, as ser2net does; the utility lowers them.
        opened = [e for e in events if e.get("event") == "lines"][:2]
        keyed = [e for e in keyed if e not in opened]
        heard = [l for l in errors if "HTTP request" in l]
        heard_flrig = [l for l in errors if "web page's request" in l]
        print("browser check: the page %s its %d requests; the utility said: %s; %s"
              % ("finished" if finished else "did not finish", 8 * TRIES,
                 heard[0].strip() if heard else "nothing at the listener",
                 heard_flrig[0].strip() if heard_flrig else "nothing at the flrig door"))
        print("browser check: the radio was keyed %d times" % len(keyed))
        if not finished or not heard or not heard_flrig or keyed:
            print("browser check: FAILED", file=sys.stderr)
            return 1
        print("browser check: passed")
        return 0
    finally:
        for proc in reversed(procs):
            proc.kill()
            proc.wait()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
