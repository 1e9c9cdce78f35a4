"""The benches' reader of the messages Kestrano sends: an address and one i or f argument."""
import struct


def osc(data):
    """The address and the first argument of a message with one i or f argument."""
    end = data.index(b"\0")
    address = data[:end].decode()
    at = (end + 4) & ~3
    tags = data[at:data.index(b"\0", at)]
    at = (data.index(b"\0", at) + 4) & ~3
    if tags == b",f":
        return address, struct.unpack(">f", data[at:at + 4])[0]
    if tags == b",i":
        return address, struct.unpack(">i", data[at:at + 4])[0]
    return address, None
