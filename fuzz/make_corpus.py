#!/usr/bin/env python3
"""Writes the fuzzers' seed corpora from hand-made OSC datagrams: the decoder's (fuzz/corpus/)
and the incoming route's with remote control on (fuzz/remote-corpus/)."""
import pathlib
import struct


def padded(text: bytes) -> bytes:
    return text + b"\0" * (4 - len(text) % 4)


def message(address: str, tags: str, *values: bytes) -> bytes:
    return padded(address.encode()) + padded(("," + tags).encode()) + b"".join(values)


def element(packet: bytes) -> bytes:
    return struct.pack(">i", len(packet)) + packet


def bundle(tag: bytes, *packets: bytes) -> bytes:
    return padded(b"#bundle") + tag + b"".join(element(p) for p in packets)


def blob(data: bytes) -> bytes:
    return struct.pack(">i", len(data)) + data + b"\0" * ((4 - len(data) % 4) % 4)


TAG_2001_HALF = bytes.fromhex("BDFA470080000000")
IMMEDIATELY = bytes.fromhex("0000000000000001")

level = message("/zandorex/level", "f", struct.pack(">f", 10.0))
two_arguments = message("/zandorex/ab", "is", struct.pack(">i", 1), padded(b"hi"))
mixed = message("/m", "ifsb", struct.pack(">i", -7), struct.pack(">f", -2.5),
                padded(b"abcd"), blob(bytes([1, 2, 3, 4, 5])))

deep = message("/a", "")
for _ in range(40):
    deep = bundle(IMMEDIATELY, deep)

seeds = {
    "level-message": level,
    "two-arguments": two_arguments,
    "no-arguments": message("/x", ""),
    "mixed-arguments": mixed,
    "trailing-byte": message("/a", "i", struct.pack(">i", 7)) + b"\xff",
    "level-bundle": bundle(TAG_2001_HALF, level),
    "nested-bundle": bundle(TAG_2001_HALF, bundle(TAG_2001_HALF, level)),
    "empty-bundle": bundle(IMMEDIATELY),
    "skipped-elements": bundle(IMMEDIATELY, b"", padded(b"/a"), mixed),
    "empty-nested-bundle": bundle(TAG_2001_HALF, bundle(IMMEDIATELY), two_arguments),
    "deep-nesting": deep,
    "unknown-type": bundle(IMMEDIATELY, message("/a", "x"), level),
}

remote_seeds = {
    "get": message("/kestrano/get", ""),
    "save": message("/kestrano/save", ""),
    "set-min": message("/kestrano/set/minValue", "f", struct.pack(">f", 2.5)),
    "set-address": message("/kestrano/set/address", "s", padded(b"cue40")),
    "set-active-false": message("/kestrano/set/active", "F"),
    "set-type-trigger": message("/kestrano/set/type", "s", padded(b"trigger")),
    "set-delay": message("/kestrano/set/triggerOnDelay", "i", struct.pack(">i", 250)),
    "set-device": message("/kestrano/set/inputDevice", "s", padded(b"alsa_input.usb-mic")),
    "set-two-values": message("/kestrano/set/maxValue", "ff", struct.pack(">f", 1.0),
                              struct.pack(">f", 2.0)),
    "set-port": message("/kestrano/set/zandorexSendPort", "i", struct.pack(">i", 6000)),
    "set-mapping-cut": message("/kestrano/set/kick/bandHighCut", "f", struct.pack(">f", 150.0)),
    "set-mapping-silence": message("/kestrano/set/kick/type", "s", padded(b"silence")),
    "set-unlisted-mapping": message("/kestrano/set/hat/active", "T"),
    "get-mapping-key": message("/kestrano/get/kick/address", ""),
    "unknown-command": message("/kestrano/launch", ""),
    "escape-text": message("/kestrano/set/address", "s", padded(b"\x1b]0;x\x07\r")),
    "get-in-bundle": bundle(IMMEDIATELY, message("/kestrano/get", ""), level),
    "level": level,
    "nested-bundle": bundle(TAG_2001_HALF, bundle(TAG_2001_HALF, level)),
}

here = pathlib.Path(__file__).resolve().parent
for folder, files in (("corpus", seeds), ("remote-corpus", remote_seeds)):
    corpus = here / folder
    corpus.mkdir(exist_ok=True)
    for name, data in files.items():
        (corpus / f"{name}.osc").write_bytes(data)


# The stream deframer's seeds (fuzz/stream-corpus/): a control byte (framing: 0 found from the
# stream, 1 SLIP, 2 length-prefixed; the upper six bits make the piece size), then the stream.
def slip(packet: bytes) -> bytes:
    escaped = packet.replace(b"\xdb", b"\xdb\xdd").replace(b"\xc0", b"\xdb\xdc")
    return b"\xc0" + escaped + b"\xc0"


stream_seeds = {
    "slip-two": bytes([0x01]) + slip(level) + slip(bytes([0xC0, 0xDB, 0x00, 0x00])),
    "slip-found": bytes([0x10]) + slip(mixed) + slip(level),
    "slip-bad-escape": bytes([0x05]) + b"\xc0\x41\xdb\x41\xc0",
    "length-two": bytes([0x02]) + element(level) + element(two_arguments),
    "length-found": bytes([0x0C]) + element(mixed) + struct.pack(">i", 0) + element(level),
    "length-negative": bytes([0x02]) + struct.pack(">i", -4) + level,
}

stream_corpus = pathlib.Path(__file__).resolve().parent / "stream-corpus"
stream_corpus.mkdir(exist_ok=True)
for name, data in stream_seeds.items():
    (stream_corpus / f"{name}.bin").write_bytes(data)
