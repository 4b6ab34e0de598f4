#!/usr/bin/env python3
"""The Python package against a pure-Python reader of the same file.

Lists every resource (type, ID, name, size) of a MacBinary file of 5,000
resources and reads all their data, once through varnel and once through a
straightforward pure-Python reader written here the way the pure-Python
resource-fork packages read a map: through a file object, the type list
and each reference list unpacked where the map says, and each resource's
name, length word and data read from where its reference points.  Both
sides decode the names from MacRoman and read the same bytes (their sums
must agree).  The rounds alternate the two; the ratio printed is the
baseline's median time over varnel's (target: at least 5), in the CPU time
of the measuring thread (what each reader costs, system calls included,
unaffected by other programs taking the processor on a shared machine),
and in wall time for reference.

Peak memory is measured in a child process that does varnel's side only:
the high-water mark of its resident memory against what it had before
opening the file, checked against the file's size plus 16 MiB.

    VARNEL_LIBRARY=build/libvarnel.so.1 PYTHONPATH=python \\
        /usr/bin/python3 bench/python_resources_bench.py [ROUNDS]
"""
from __future__ import annotations

import os
import statistics
import struct
import subprocess
import sys
import tempfile
import time

import varnel

RESOURCES = 5000
TYPES = [b"STR ", b"TEXT", b"ICN#", b"DATA", b"snd ", b"PICT", b"MENU", b"DITL", b"CODE",
         b"cicn"]
TARGET_RATIO = 5.0


def make_file(path: str) -> None:
    """5,000 resources of 10 types, every other one named, 0 to 599 bytes
    each (about 1.5 MB), written by varnel as MacBinary II."""
    with varnel.create(path, type=b"rsrc", creator=b"RSED", finder_resources=False) as out:
        for index in range(RESOURCES):
            data = bytes([index & 0xFF]) * ((index * 7) % 600)
            name = f"Resource {index}" if index % 2 else None
            out.add_resource(TYPES[index % len(TYPES)], index - 2500, data, name=name)


# ---- The baseline ----------------------------------------------------------------

HEADER = struct.Struct(">IIII")
MAP_LISTS = struct.Struct(">HH")
TYPE_ENTRY = struct.Struct(">4sHH")
REFERENCE = struct.Struct(">hHI4x")
WORD = struct.Struct(">H")
LONG = struct.Struct(">I")


class PlainResource:
    def __init__(self, reader, type_code, resource_id, name_offset, attributes, data_offset):
        self._reader = reader
        self.type = type_code
        self.id = resource_id
        self.name_offset = name_offset
        self.attributes = attributes
        self.data_offset = data_offset

    @property
    def name(self):
        if self.name_offset == 0xFFFF:
            return None
        reader = self._reader
        reader.stream.seek(reader.map_offset + reader.name_list_offset + self.name_offset)
        length = reader.read_exact(1)[0]
        return reader.read_exact(length).decode("mac_roman")

    @property
    def size(self):
        reader = self._reader
        reader.stream.seek(reader.data_offset + self.data_offset)
        return LONG.unpack(reader.read_exact(4))[0]

    @property
    def data(self):
        reader = self._reader
        reader.stream.seek(reader.data_offset + self.data_offset)
        (length,) = LONG.unpack(reader.read_exact(4))
        return reader.read_exact(length)


class PlainReader:
    """A MacBinary file's resource fork, read through its file object."""

    def __init__(self, path):
        self.stream = open(path, "rb")
        header = self.read_exact(128)
        (data_length,) = LONG.unpack_from(header, 83)
        fork = 128 + (data_length + 127) // 128 * 128
        self.stream.seek(fork)
        data_offset, map_offset, _, _ = HEADER.unpack(self.read_exact(16))
        self.data_offset = fork + data_offset
        self.map_offset = fork + map_offset
        self.stream.seek(self.map_offset + 24)
        self.type_list_offset, self.name_list_offset = MAP_LISTS.unpack(self.read_exact(4))

    def read_exact(self, count):
        data = self.stream.read(count)
        if len(data) != count:
            raise EOFError("the file ends early")
        return data

    def resources(self):
        type_list = self.map_offset + self.type_list_offset
        self.stream.seek(type_list)
        (types,) = WORD.unpack(self.read_exact(2))
        entries = [TYPE_ENTRY.unpack(self.read_exact(8)) for _ in range((types + 1) & 0xFFFF)]
        found = []
        for type_code, count, offset in entries:
            self.stream.seek(type_list + offset)
            for _ in range(count + 1):
                resource_id, name_offset, word = REFERENCE.unpack(self.read_exact(12))
                found.append(PlainResource(self, type_code, resource_id, name_offset, word >> 24,
                                           word & 0xFFFFFF))
        return found

    def close(self):
        self.stream.close()


def baseline_pass(path):
    total = 0
    reader = PlainReader(path)
    try:
        for res in reader.resources():
            listed = (res.type, res.id, res.name, res.size)
            total += len(res.data) + listed[3] + len(listed[2] or "")
    finally:
        reader.close()
    return total


def varnel_pass(path):
    total = 0
    with varnel.open(path) as f:
        for res, data in f.resources.iter_data():
            listed = (res.type, res.id, res.name, res.size)
            total += len(data) + listed[3] + len(listed[2] or "")
    return total


def peak_memory(path):
    """Resident memory growth of a child doing varnel's side, in bytes."""
    # VmHWM, the high-water mark of this process image: getrusage's maximum
    # would count the parent's pages the child had before exec.
    script = (
        "import sys, varnel\n"
        "def status(field):\n"
        "    with open('/proc/self/status') as s:\n"
        "        for line in s:\n"
        "            if line.startswith(field + ':'):\n"
        "                return int(line.split()[1]) * 1024\n"
        "before = status('VmRSS')\n"
        "total = 0\n"
        "with varnel.open(sys.argv[1]) as f:\n"
        "    for res, data in f.resources.iter_data():\n"
        "        total += len(data) + res.size + len(res.name or '')\n"
        "peak = status('VmHWM')\n"
        "print(peak - before, peak)\n")
    done = subprocess.run([sys.executable, "-c", script, path], capture_output=True, check=True)
    growth, peak = (int(x) for x in done.stdout.split())
    return growth, peak


def main():
    rounds = int(sys.argv[1]) if len(sys.argv) > 1 else 15
    with tempfile.TemporaryDirectory() as directory:
        path = os.path.join(directory, "resources.bin")
        make_file(path)
        size = os.path.getsize(path)
        expected = baseline_pass(path)
        if varnel_pass(path) != expected:
            print("python_resources_bench: varnel and the baseline read different bytes")
            return 1
        cpu = {baseline_pass: [], varnel_pass: []}
        wall = {baseline_pass: [], varnel_pass: []}
        for _ in range(rounds):
            for work in (baseline_pass, varnel_pass):
                start_cpu, start_wall = time.thread_time(), time.perf_counter()
                work(path)
                cpu[work].append(time.thread_time() - start_cpu)
                wall[work].append(time.perf_counter() - start_wall)
        print(f"file: {RESOURCES} resources, {size} bytes; {rounds} rounds each, alternating")
        ratio = 0.0
        for clock, times in (("CPU time", cpu), ("wall time", wall)):
            base = statistics.median(times[baseline_pass])
            ours = statistics.median(times[varnel_pass])
            print(f"{clock}: pure-Python reader median {base * 1000:.2f} ms, varnel median "
                  f"{ours * 1000:.2f} ms; ratio {base / ours:.2f}x")
            if clock == "CPU time":
                ratio = base / ours
        print(f"ratio (pure-Python / varnel, CPU time): {ratio:.2f}x (target {TARGET_RATIO:.0f}x)"
              f"{'' if ratio >= TARGET_RATIO else '  BELOW TARGET'}")
        growth, peak = peak_memory(path)
        limit = size + (16 << 20)
        print(f"peak memory growth of varnel's side: {growth / 2**20:.2f} MiB (peak RSS "
              f"{peak / 2**20:.2f} MiB); limit file size + 16 MiB = {limit / 2**20:.2f} MiB"
              f"{'' if growth <= limit else '  OVER THE LIMIT'}")
        return 0 if growth <= limit else 1


if __name__ == "__main__":
    sys.exit(main())
