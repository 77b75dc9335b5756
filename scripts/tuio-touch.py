#!/usr/bin/env python3
"""Sends taps and long presses as TUIO 1.1 touch points (/tuio/2Dcur over UDP).

Usage: tuio-touch.py [--port N] ACTION...   with ACTION one of
  tap X Y            a short tap at X, Y (fractions 0..1 of the screen)
  hold X Y SECONDS   a press held for that long
  wait SECONDS       a pause between actions
Example, a double tap: tuio-touch.py tap 0.06 0.22 tap 0.06 0.22
"""
import socket
import struct
import sys
import time


def osc_string(text):
    data = text.encode() + b"\0"
    return data + b"\0" * (-len(data) % 4)


def osc_message(*args):
    types = ","
    body = b""
    for arg in args:
        if isinstance(arg, str):
            types, body = types + "s", body + osc_string(arg)
        elif isinstance(arg, int):
            types, body = types + "i", body + struct.pack(">i", arg)
        else:
            types, body = types + "f", body + struct.pack(">f", arg)
    return osc_string("/tuio/2Dcur") + osc_string(types) + body


class Sender:
    def __init__(self, port):
        self.socket = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.address = ("127.0.0.1", port)
        self.frame_number = 0
        self.session = 0

    def frame(self, cursors):
        self.frame_number += 1
        messages = [osc_message("source", "tuio-touch"), osc_message("alive", *cursors)]
        messages += [osc_message("set", s, x, y, 0.0, 0.0, 0.0) for s, (x, y) in cursors.items()]
        messages.append(osc_message("fseq", self.frame_number))
        bundle = osc_string("#bundle") + struct.pack(">ii", 0, 1)
        bundle += b"".join(struct.pack(">i", len(m)) + m for m in messages)
        self.socket.sendto(bundle, self.address)

    def press(self, x, y, seconds):
        self.session += 1
        down = {self.session: (x, y)}
        end = time.monotonic() + seconds
        self.frame(down)
        # A tracker repeats its frame while the finger rests.
        while time.monotonic() < end:
            time.sleep(min(0.05, max(0.0, end - time.monotonic())))
            self.frame(down)
        self.frame({})


def main(args):
    port = 3333
    if args[:1] == ["--port"]:
        port, args = int(args[1]), args[2:]
    sender = Sender(port)
    while args:
        action = args.pop(0)
        if action == "tap":
            sender.press(float(args.pop(0)), float(args.pop(0)), 0.03)
        elif action == "hold":
            sender.press(float(args.pop(0)), float(args.pop(0)), float(args.pop(0)))
        elif action == "wait":
            time.sleep(float(args.pop(0)))
        else:
            sys.exit(__doc__)


if __name__ == "__main__":
    main(sys.argv[1:])
