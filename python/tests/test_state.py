"""The library's process-wide state: a failed write, threads."""
from __future__ import annotations

import os
import subprocess
import sys
import textwrap
import threading

import varnel
from conftest import child_environment
from oracle import Res, macbinary, resource_fork


def test_a_failed_write_leaves_nothing_and_writing_goes_on(tmp_path):
    # In a child process whose files may not grow past 100 kB: the write
    # fails with EFBIG, the library stops its output, and varnel starts it
    # over once no file is open.
    script = textwrap.dedent("""
        import errno, os, resource, signal, varnel
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (100000, 100000))
        try:
            with varnel.create("big.bin") as out:
                out.write(b"x" * 200000)
                out.add_resource(b"STR ", 1, b"\\x01a")
            raise SystemExit("the write did not fail")
        except varnel.FileError as failure:
            assert failure.errno == errno.EFBIG, failure.errno
            assert failure.reason == "Writing output file: File too large", failure.reason
        assert os.listdir(".") == [], os.listdir(".")
        reader = varnel.open(os.environ["SOURCE"])
        try:
            varnel.create("small.bin")
            raise SystemExit("writing with a file open after a failure was not refused")
        except varnel.StateError as refused:
            assert "until every open file is closed (1 still open)" in str(refused)
        reader.close()
        with varnel.create("small.bin") as out:
            out.write(b"y" * 100)
        with varnel.open("small.bin") as back:
            assert back.read_data() == b"y" * 100
        print("done")
    """)
    source = tmp_path / "source.bin"
    source.write_bytes(macbinary(b"S", b"TEXT", b"VARN", b"abc", b""))
    work = tmp_path / "work"
    work.mkdir()
    done = subprocess.run([sys.executable, "-c", script], cwd=work, capture_output=True,
                          env=child_environment(SOURCE=str(source)), timeout=60)
    assert done.returncode == 0, done.stderr.decode()
    assert done.stdout == b"done\n"  # and nothing from the library
    assert sorted(os.listdir(work)) == ["small.bin"]


def test_reading_in_threads_while_writing(tmp_path):
    resources = [Res(b"DATA", i, bytes([i % 256]) * (i % 300)) for i in range(600)]
    path = tmp_path / "shared.bin"
    path.write_bytes(macbinary(b"Shared", b"TEXT", b"VARN", b"data", resource_fork(resources)))
    failures = []

    def read_all():
        try:
            for _ in range(5):
                with varnel.open(path) as f:
                    got = [(r.id, r.data) for r in f.resources]
                    assert got == [(r.id, r.data) for r in resources]
        except BaseException as failure:  # reported by the main thread
            failures.append(failure)

    def write_some(index):
        try:
            for round_ in range(5):
                with varnel.create(tmp_path / f"w{index}.{round_}.bin") as out:
                    out.write(b"w" * 1000)
                    for i in range(50):
                        out.add_resource(b"STR ", i, bytes([i]))
        except BaseException as failure:
            failures.append(failure)

    threads = [threading.Thread(target=read_all) for _ in range(4)]
    threads += [threading.Thread(target=write_some, args=(i,)) for i in range(2)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join(120)
    assert failures == []
    for index in range(2):
        for round_ in range(5):
            with varnel.open(tmp_path / f"w{index}.{round_}.bin") as f:
                assert len(f.resources) == 51 and f.read_data() == b"w" * 1000


def test_version_is_the_library_s():
    assert varnel.__version__.count(".") == 2
    header = open(os.path.join(os.path.dirname(__file__), os.pardir, os.pardir, "include",
                               "varnel.h")).read()
    assert f'#define VARNEL_VERSION_STRING "{varnel.__version__}"' in header


def test_mac_roman_text():
    assert varnel.to_mac_roman("Café €") == b"Caf\x8e \xdb"
    assert varnel.from_mac_roman(b"Caf\x8e \xdb\xf0") == "Café €\uf8ff"
    assert varnel.to_mac_roman("e\u0301") == b"\x8e"  # decomposed text is composed
    try:
        varnel.to_mac_roman("\u2713")
    except varnel.ArgumentError as refused:
        assert "(U+2713)" in str(refused)
    else:
        raise AssertionError("a character MacRoman lacks was taken")
