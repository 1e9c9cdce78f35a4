#!/usr/bin/env python3
"""Switches kestrano between two presets by remote control and times each switch on loopback:
from the /kestrano/preset command leaving to the first message of the new set-up reaching
Zandorex's port, on the monotonic clock. Counts the messages of the trigger both presets define
the same way, and the longest gap between two of the first mapping's level messages across all
the switches (one every 50 ms is on time). Usage: preset_switch_probe.py SEND_PORT LISTEN_PORT
SWITCHES"""
import select
import socket
import random
import statistics
import struct
import sys
import time

send_port, listen_port, switches = int(sys.argv[1]), int(sys.argv[2]), int(sys.argv[3])
# What only each preset sends to: its own mappings' addresses; and the first mapping's level,
# which a's maximum of 10 puts above 5 under the tone and b's maximum of 5 below it.
NEW_PREFIX = {"a": "/zandorex/a", "b": "/zandorex/b"}
NEW_LEVEL = {"a": lambda value: value > 5, "b": lambda value: value < 5}
SHARED = "/zandorex/kick"


def padded(text):
    data = text.encode() + b"\0"
    return data + b"\0" * (-len(data) % 4)


def command(address, name):
    return padded(address) + padded(",s") + padded(name)


def address_of(datagram):
    return datagram[:datagram.index(b"\0")].decode(errors="replace")


def float_of(datagram):
    """The argument of a message with one float, as the level is sent."""
    return struct.unpack(">f", datagram[-4:])[0] if b",f\0" in datagram else None


zandorex = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
zandorex.bind(("127.0.0.1", send_port))
peer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
peer.bind(("127.0.0.1", 0))


level_gap = {"last": None, "longest": 0.0}


def note_level(datagram, now):
    """Keeps the longest time between two level messages."""
    if address_of(datagram) != "/zandorex/level":
        return
    if level_gap["last"] is not None:
        level_gap["longest"] = max(level_gap["longest"], now - level_gap["last"])
    level_gap["last"] = now


def receive(sock, seconds):
    ready, _, _ = select.select([sock], [], [], seconds)
    if not ready:
        return None
    datagram = sock.recv(65535)
    if sock is zandorex:
        note_level(datagram, time.monotonic())
    return datagram


# The program is up when the first mapping's level arrives.
deadline = time.monotonic() + 10
while time.monotonic() < deadline and receive(zandorex, 0.5) is None:
    pass

latencies, added, answers, shared_turns, missed = [], [], [], 0, 0
for index in range(switches + 1):
    name = "ab"[index % 2]
    # Whatever was on its way before the command belongs to the set-up before.
    while receive(zandorex, 0) is not None:
        pass
    # From the first switch on, which is the one to detect: its tracker's libraries load then.
    if index == 0:
        level_gap["longest"] = 0.0
    sent_at = time.monotonic()
    peer.sendto(command("/kestrano/preset", name), ("127.0.0.1", listen_port))
    first_new = first_added = answered = None
    until = sent_at + 2.0
    while (first_added is None or answered is None) and time.monotonic() < until:
        ready, _, _ = select.select([zandorex, peer], [], [], until - time.monotonic())
        now = time.monotonic()
        if peer in ready:
            reply = peer.recv(65535)
            answered = now if address_of(reply) == "/kestrano/preset" else None
            if answered is None:
                sys.exit(f"switch to {name} refused: {reply!r}")
        if zandorex in ready:
            datagram = zandorex.recv(65535)
            note_level(datagram, now)
            address = address_of(datagram)
            shared_turns += address == SHARED
            if first_added is None and address.startswith(NEW_PREFIX[name]):
                first_added = now
            if first_new is None and (address.startswith(NEW_PREFIX[name]) or (
                    address == "/zandorex/level" and NEW_LEVEL[name](float_of(datagram)))):
                first_new = now
    # The first switch only leaves the preset the program started in; it is not counted.
    if index == 0:
        shared_turns = 0
    elif first_new is None or first_added is None:
        missed += 1
    else:
        latencies.append((first_new - sent_at) * 1000)
        added.append((first_added - sent_at) * 1000)
        answers.append((answered - sent_at) * 1000)
    # Settle a few ticks, counting the shared trigger's messages; a random part, so that the
    # commands fall at every point of the tick.
    settle = time.monotonic() + 0.2 + random.uniform(0, 0.05)
    while time.monotonic() < settle:
        datagram = receive(zandorex, settle - time.monotonic())
        if datagram is not None:
            shared_turns += address_of(datagram) == SHARED

print(f"switches timed: {len(latencies)} (no new message within 2 s: {missed})")
if latencies:
    print(f"command to first message of the new set-up: median "
          f"{statistics.median(latencies):.1f} ms, max {max(latencies):.1f} ms (a tick is 50 ms)")
    print(f"command to first message of a mapping that arrived: median "
          f"{statistics.median(added):.1f} ms, max {max(added):.1f} ms")
    print(f"command to its answer: median {statistics.median(answers):.1f} ms, "
          f"max {max(answers):.1f} ms")
print(f"messages of the trigger both presets share across the switches: {shared_turns}")
print(f"longest gap between two level messages across the switches: "
      f"{level_gap['longest'] * 1000:.1f} ms")
sys.exit(1 if missed else 0)
