"""pyserial's RFC 2217 server side over a loop:// port, as an independent peer for our client.

Prints one JSON object a line: {"event":"listening","port":N}, then "state" whenever the port's
settings or lines change, "data" for bytes that reached the port (they are echoed back), and
"closed" when the client leaves. Ends after one client or 30 seconds.
"""
import json
import socket
import sys
import threading

import serial
import serial.rfc2217


def emit(**fields):
    print(json.dumps(fields), flush=True)


class Connection:
    def __init__(self, sock):
        self.sock = sock

    def write(self, data):
        self.sock.sendall(data)


def main():
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind(("127.0.0.1", 0))
    server.listen(1)
    server.settimeout(30)
    emit(event="listening", port=server.getsockname()[1])
    conn, _ = server.accept()
    conn.settimeout(30)

    port = serial.serial_for_url("loop://", timeout=0.05)
    port.dtr = False
    port.rts = False
    manager = serial.rfc2217.PortManager(port, Connection(conn))

    def state():
        return dict(baud=port.baudrate, data=port.bytesize, parity=port.parity,
                    stop=port.stopbits, dtr=bool(port.dtr), rts=bool(port.rts))

    stop = threading.Event()

    def echo():
        while not stop.is_set():
            data = port.read(port.in_waiting or 1)
            if data:
                conn.sendall(b"".join(manager.escape(data)))

    threading.Thread(target=echo, daemon=True).start()
    last = state()
    emit(event="state", **last)
    try:
        while True:
            chunk = conn.recv(4096)
            if not chunk:
                break
            payload = b"".join(manager.filter(chunk))
            now = state()
            if now != last:
                emit(event="state", **now)
                last = now
            if payload:
                emit(event="data", hex=payload.hex())
                port.write(payload)
    except OSError:  # the client may close while an answer is on its way
        pass
    stop.set()
    emit(event="closed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
