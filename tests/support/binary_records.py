#!/usr/bin/python3
"""An independent reader and writer of the analytics' binary record protocol, for cross-checks.

Written from the wire rules alone: big-endian integers; a struct is a run of fields, each a type byte,
a 16-bit id and the value, ended by a 0 byte; strings and binaries are a 32-bit length and the bytes;
a map is key type, value type, 32-bit count and the pairs; sets and lists are element type, 32-bit
count and the elements.

  binary_records.py decode < record.bin > record.json
  binary_records.py encode < record.json > record.bin

JSON form of a struct: {"fields": [{"id": 1, "type": 8, "value": 42}, ...]}. Values by type: 2 bool,
3/6/8/10 integers, 4 float, 11 {"hex": "..."}, 12 a struct, 13 {"key": t, "value": t, "entries":
[[k, v], ...]}, 14 and 15 {"element": t, "items": [...]}.
"""
import json
import struct
import sys

STOP, BOOL, BYTE, DOUBLE, I16, I32, I64, STRING, STRUCT, MAP, SET, LIST = 0, 2, 3, 4, 6, 8, 10, 11, 12, 13, 14, 15
SCALARS = {BYTE: ">b", I16: ">h", I32: ">i", I64: ">q", DOUBLE: ">d"}


class Reader:
    def __init__(self, data):
        self.data = data
        self.at = 0

    def take(self, n):
        if n < 0 or self.at + n > len(self.data):
            raise ValueError("truncated at byte %d" % self.at)
        chunk = self.data[self.at:self.at + n]
        self.at += n
        return chunk

    def unpack(self, fmt):
        return struct.unpack(fmt, self.take(struct.calcsize(fmt)))[0]

    def value(self, kind):
        if kind == BOOL:
            return self.take(1)[0] == 1
        if kind in SCALARS:
            return self.unpack(SCALARS[kind])
        if kind == STRING:
            return {"hex": self.take(self.unpack(">i")).hex()}
        if kind == STRUCT:
            return self.record()
        if kind == MAP:
            key, value, count = self.unpack(">B"), self.unpack(">B"), self.unpack(">i")
            return {"key": key, "value": value,
                    "entries": [[self.value(key), self.value(value)] for _ in range(count)]}
        if kind in (SET, LIST):
            element, count = self.unpack(">B"), self.unpack(">i")
            return {"element": element, "items": [self.value(element) for _ in range(count)]}
        raise ValueError("unknown type %d" % kind)

    def record(self):
        fields = []
        while True:
            kind = self.unpack(">B")
            if kind == STOP:
                return {"fields": fields}
            ident = self.unpack(">h")
            fields.append({"id": ident, "type": kind, "value": self.value(kind)})


def write_value(out, kind, value):
    if kind == BOOL:
        out.append(b"\x01" if value else b"\x00")
    elif kind in SCALARS:
        out.append(struct.pack(SCALARS[kind], value))
    elif kind == STRING:
        raw = bytes.fromhex(value["hex"])
        out.append(struct.pack(">i", len(raw)) + raw)
    elif kind == STRUCT:
        write_record(out, value)
    elif kind == MAP:
        out.append(struct.pack(">BBi", value["key"], value["value"], len(value["entries"])))
        for key, item in value["entries"]:
            write_value(out, value["key"], key)
            write_value(out, value["value"], item)
    elif kind in (SET, LIST):
        out.append(struct.pack(">Bi", value["element"], len(value["items"])))
        for item in value["items"]:
            write_value(out, value["element"], item)
    else:
        raise ValueError("unknown type %d" % kind)


def write_record(out, record):
    for field in record["fields"]:
        out.append(struct.pack(">Bh", field["type"], field["id"]))
        write_value(out, field["type"], field["value"])
    out.append(b"\x00")


def main():
    if sys.argv[1:] == ["decode"]:
        reader = Reader(sys.stdin.buffer.read())
        record = reader.record()
        if reader.at != len(reader.data):
            raise ValueError("%d bytes after the record" % (len(reader.data) - reader.at))
        json.dump(record, sys.stdout)
    elif sys.argv[1:] == ["encode"]:
        out = []
        write_record(out, json.load(sys.stdin))
        sys.stdout.buffer.write(b"".join(out))
    else:
        sys.exit(__doc__)


if __name__ == "__main__":
    main()
