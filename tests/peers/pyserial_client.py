"""pyserial's RFC 2217 client, as an independent peer for ft847-sim.

Usage: pyserial_client.py HOST:PORT
Opens the port at 4800,N,8,2, raises DTR and RTS, sends a transmit frame, changes to 9600 baud,
lowers both lines, sends a frame holding 0xFF, and closes. Prints "done" at the end.
"""
import sys
import time

import serial


def main():
    port = serial.serial_for_url("rfc2217://" + sys.argv[1], baudrate=4800, bytesize=8,
                                 parity="N", stopbits=2, timeout=1, do_not_open=True)
    port.dtr = False
    port.rts = False
    port.open()
    time.sleep(0.1)
    port.rts = True
    port.dtr = True
    port.write(bytes.fromhex("0100000007"))
    port.flush()
    time.sleep(0.2)
    port.baudrate = 9600
    port.rts = False
    port.dtr = False
    port.write(bytes.fromhex("ff00000007"))
    port.flush()
    time.sleep(0.2)
    port.close()
    print("done", flush=True)
    return 0


if __name__ == "__main__":
    sys.exit(main())
