"""Writing: varnel.create() and varnel.convert().

Files are written under a private directory beside the destination and
put in place only when complete, so that a write that fails or is
interrupted (an exception inside the ``with``) leaves nothing behind, and
a file it would replace stays as it was.
"""
from __future__ import annotations

import ctypes
import datetime
import os
from typing import Any, List, Optional, Tuple

from . import _library as L
from . import errors
from .images import as_image, encode_resource
from .reader import Attributes, PathLike, _fspath, open as open_file, to_mac_date

# Containers the writer makes (MACBIN_FORMAT_*).
CONTAINERS = {"macbinary": 2, "ii": 2, "classic": 1, "applesingle": 4, "appledouble": 5,
              "binhex": 7}
_CONTAINER_ENDINGS = (".bin", ".hqx", ".as")
_MAX_MAC_NAME = 31  # the writer keeps 31 characters of a Macintosh name


def default_mac_name(path: str) -> str:
    """The Macintosh name for a destination: its file name without .bin,
    .hqx or .as, ':' as '-' (as the tool names files)."""
    base = os.path.basename(path)
    stem, ending = os.path.splitext(base)
    if stem and ending.lower() in _CONTAINER_ENDINGS:
        base = stem
    return base.replace(":", "-")


def _container_number(container: str) -> int:
    try:
        return CONTAINERS[container.lower()]
    except (KeyError, AttributeError):
        raise errors.ArgumentError(
            f"unknown container {container!r}: macbinary, classic, applesingle, appledouble "
            "or binhex (convert also takes rsrc)") from None


class Writer:
    """A Macintosh file being written (varnel.create): the data fork first
    (``write``), then resources; ``close()`` (or the end of the ``with``)
    completes it and puts it in place."""

    def __init__(self, path: PathLike, type: Any = b"????", creator: Any = b"????",
                 name: Optional[str] = None, container: str = "macbinary",
                 finder_resources: bool = True, flags: Optional[int] = None,
                 created: Optional[datetime.datetime] = None,
                 modified: Optional[datetime.datetime] = None,
                 finder_info: Optional[bytes] = None, map_attributes: Optional[int] = None,
                 _carry_name: bool = False) -> None:
        self.path = _fspath(path)
        self.container = container
        self._format = _container_number(container)
        type_code = L.four_bytes(type, "file type")
        creator_code = L.four_bytes(creator, "creator")
        mac_name = default_mac_name(self.path) if name is None else name
        encoded_name = L.to_mac_roman(mac_name, "Macintosh name")
        if not encoded_name:
            raise errors.ArgumentError("the Macintosh name is empty")
        if len(encoded_name) > _MAX_MAC_NAME:
            if not _carry_name:
                raise errors.LimitError(f"the Macintosh name {mac_name!r} is longer than "
                                        f"{_MAX_MAC_NAME} characters")
            errors.warn(f"the Macintosh name {mac_name!r} is cut to {_MAX_MAC_NAME} characters",
                        self.path)
            encoded_name = encoded_name[:_MAX_MAC_NAME]
        if flags is not None and not 0 <= flags <= 0xFFFF:
            raise errors.ArgumentError(f"Finder flags {flags} are outside 0 to 0xFFFF")
        if finder_info is not None and len(finder_info) != 32:
            raise errors.ArgumentError("the Finder information is 32 bytes")
        dates = self._dates(created, modified)

        if not os.path.basename(self.path):
            raise errors.ArgumentError("the destination names no file", self.path)
        self._channel = None
        self._data_open = True
        self._output: Optional[int] = None
        L.gate.acquire_writer()
        try:
            L.restart_output_if_stopped(self.path)
            L.ClearError()
            L.take_messages()
            if L.SetFormat(self._format) != 1:
                raise errors.UnsupportedError(f"the library cannot write {container}", self.path)
            # The library writes under temporary names and puts the file (both
            # files of AppleDouble) in place when it is complete.
            self._output = L.OpenOutput(os.fsencode(self.path), self._format)
            if not self._output:
                raise _output_failure("cannot create", self.path)
            name_buffer = ctypes.create_string_buffer(encoded_name, 64)
            channel = L.OpenWOutput(self._output, name_buffer,
                                    creator_code.replace(b"\0", b" "), type_code.replace(b"\0", b" "))
            if not channel:
                L.raise_failure(self.path, "cannot be created", default_code=errors.ERR_IO)
            self._channel = channel
            L.channel_opened()
            record = channel.contents
            if finder_info is not None:
                self._check(L.SetFinderInfoBytes(channel, bytes(finder_info)) == 0,
                            "the Finder information is refused")
            # The codes go in as their four bytes, NULs included.
            ctypes.memmove(ctypes.addressof(record.finder) + L.FinderInfo.type.offset,
                           type_code, 4)
            ctypes.memmove(ctypes.addressof(record.finder) + L.FinderInfo.creator.offset,
                           creator_code, 4)
            if flags is not None:
                record.finder.flags = flags - 0x10000 if flags > 0x7FFF else flags
            if not finder_resources:
                self._check(L.SetFinderResources(channel, 0) == 0,
                            "the Finder resources cannot be turned off")
            if map_attributes is not None:
                self._check(L.SetMapAttributes(channel, map_attributes) == 0,
                            f"map attributes {map_attributes} are refused")
            if dates is not None:
                self._check(L.SetDates(channel, *dates) == 0, "the dates are refused")
        except BaseException:
            self._abandon()
            raise

    @staticmethod
    def _dates(created, modified) -> Optional[Tuple[int, int]]:
        if created is None and modified is None:
            return None
        now = datetime.datetime.now(datetime.timezone.utc)
        return (to_mac_date(created or now), to_mac_date(modified or now))

    # ---- state ----

    def _open_channel(self):
        if self._channel is None:
            raise errors.StateError("the file is closed", self.path)
        return self._channel

    def _check(self, done: bool, fallback: str) -> None:
        messages = L.take_messages()
        self._note_write_failure(messages)
        if not done:
            L.raise_failure(self.path, fallback, messages)
        if messages:
            self._raise_if_refused(messages)

    @staticmethod
    def _note_write_failure(messages: List[L.Message]) -> None:
        """A failed write stops the library's output for the whole process."""
        if any(m.code == errors.ERR_IO for m in messages):
            L.note_output_stopped()

    def _raise_if_refused(self, messages: List[L.Message]) -> None:
        for message in messages:
            if message.severity >= 3 or (message.severity == 2 and message.code):
                L.raise_failure(self.path, message.text, messages)
        L.give_warnings(self.path, messages)

    def _end_data_fork(self) -> None:
        self._data_open = False

    # ---- the data fork ----

    def write(self, data) -> int:
        """Appends bytes to the data fork; only before the first resource."""
        channel = self._open_channel()
        if not self._data_open or channel.contents.data_length != -1:
            raise errors.StateError("the data fork is complete once a resource is added: write "
                                    "the data first", self.path)
        view = memoryview(data).cast("B")
        total = len(view)
        offset = 0
        while offset < total:
            piece = view[offset:offset + (1 << 30)]
            count = len(piece)
            buffer = (ctypes.c_char * count).from_buffer_copy(piece) if piece.readonly else \
                (ctypes.c_char * count).from_buffer(piece)
            failed = L.PutBuf(buffer, count, count)
            self._check(failed == 0, "the data fork cannot be written")
            offset += count
        return total

    # ---- resources ----

    def add_resource(self, type: Any, id: int, data: bytes = b"", name: Optional[str] = None,
                     attributes: int = Attributes.PURGEABLE) -> None:
        """Adds a resource from bytes, with its type (4 bytes, or a str of 1 to
        4 characters padded with blanks), ID (-32768 to 32767), name (up to 255
        MacRoman characters) and attribute byte.  Repeated IDs are kept."""
        channel = self._open_channel()
        if isinstance(type, str):
            type = L.to_mac_roman(type, "resource type").ljust(4, b" ")
        type_code = L.four_bytes(type, "resource type")
        if b"\0" in type_code:
            raise errors.ArgumentError(f"resource type {type_code!r} holds a NUL byte")
        if not isinstance(id, int) or not -32768 <= id <= 32767:
            raise errors.ArgumentError(f"resource ID {id!r} must be a whole number from -32768 "
                                       "to 32767")
        if not 0 <= int(attributes) <= 255:
            raise errors.ArgumentError(f"attributes {int(attributes)} are outside 0 to 255")
        encoded_name = None if not name else L.to_mac_roman(name, "resource name")
        data = bytes(data)
        if len(data) > 0x7FFFFFFF:
            raise errors.LimitError(f"resource {type_code!r} {id} holds {len(data)} bytes, "
                                    "past the 2 GiB a length word holds", self.path)
        # The library judges the map's room, keeping room for the owner
        # resource and bundle the close adds.
        if L.CheckResourceData(channel, type_code, id, encoded_name, len(data)) != 0:
            L.raise_failure(self.path, f"resource {type_code!r} {id} is refused", [])
        self._end_data_fork()
        refused = L.AddResourceData(channel, type_code, id, encoded_name, int(attributes),
                                    data if data else None, len(data))
        self._check(refused == 0, f"resource {type_code!r} {id} is refused")

    def add_line(self, line: str) -> None:
        """Adds a resource as the tool's resource lines describe it (UTF-8
        text, stored in MacRoman): ``vers 1 "" 1.00 F 0 0/1.0/Version 1.0``,
        ``FREF 128 "" TEXT 128``, ``BNDL "Owner text"`` (the bundle, made on
        close), ``STR  128 Greeting ~Hello``."""
        channel = self._open_channel()
        encoded = L.to_mac_roman(line, "resource line")
        code = L.CheckResourceLine(channel, encoded)
        if code != 0:
            L.take_messages()
            L.raise_failure(self.path, f"resource line {line!r} is refused", [], code)
        self._end_data_fork()
        L.ClearError()
        L.AddResource(channel, encoded)
        messages = L.take_messages()
        code = L.LastError(None)
        self._check(code == 0, f"resource line {line!r} is refused")
        if messages:
            self._raise_if_refused(messages)

    def add_icon(self, type: Any, id: int, image: Any, name: Optional[str] = None,
                 attributes: int = Attributes.PURGEABLE, exact: bool = False,
                 size: Optional[Tuple[int, int]] = None) -> None:
        """Adds an icon resource (ICN#, icl8, ics#, CURS, cicn, ...) drawn from
        `image`: a varnel.Image, a Pillow image, or RGBA bytes (square unless
        `size` says).  Colours take the nearest of the type's table, or with
        exact=True must be in it.  The colour icons take their mask from the
        # resource of the same ID: add that one from the same image."""
        type_code = L.four_bytes(type, "resource type")
        data = encode_resource(type_code, as_image(image, size), exact)
        self.add_resource(type_code, id, data, name, attributes)

    def set_dates(self, created: Optional[datetime.datetime] = None,
                  modified: Optional[datetime.datetime] = None) -> None:
        """Sets the file's dates (a naive datetime is taken as UTC); the one
        left out is now."""
        channel = self._open_channel()
        dates = self._dates(created, modified)
        if dates is not None:
            self._check(L.SetDates(channel, *dates) == 0, "the dates are refused")

    def set_resource_fork(self, fork: bytes) -> None:
        """Writes a whole resource fork as given (carrying a file across): the
        writer then adds nothing of its own.  Only before any resource."""
        channel = self._open_channel()
        fork = bytes(fork)
        if len(fork) > 0x7FFFFFFF:
            raise errors.LimitError("a resource fork past 2 GiB", self.path)
        self._end_data_fork()
        self._check(L.SetResourceFork(channel, fork if fork else None, len(fork)) == 0,
                    "the resource fork is refused")

    # ---- the end ----

    def close(self) -> None:
        """Completes the file and puts it in place (FileError and nothing left
        behind when a write failed)."""
        channel = self._channel
        if channel is None:
            return
        self._channel = None
        try:
            L.take_messages()
            L.ClearError()
            L.Close(channel)
            L.channel_closed()
            messages = L.take_messages()
            self._note_write_failure(messages)
            failed = any(m.severity >= 3 or (m.severity == 2 and m.code == errors.ERR_IO)
                         for m in messages)
            if failed:
                L.raise_failure(self.path, "the file was not written", messages)
            L.give_warnings(self.path, messages)
            self._commit()
        finally:
            self._discard_temporary()
            L.gate.release_writer()

    def _commit(self) -> None:
        output, self._output = self._output, None
        if L.CommitOutput(output) != 0:
            raise _output_failure("cannot put the file in place", self.path)

    def _discard_temporary(self) -> None:
        if self._output is not None:
            L.DiscardOutput(self._output)
            self._output = None

    def _abandon(self) -> None:
        """Closes without keeping anything: after an exception."""
        channel = self._channel
        self._channel = None
        try:
            if channel is not None:
                L.Close(channel)
                L.channel_closed()
                self._note_write_failure(L.take_messages())
        finally:
            self._discard_temporary()
            L.gate.release_writer()

    def abort(self) -> None:
        """Gives the file up: nothing is written."""
        if self._channel is not None:
            self._abandon()

    @property
    def closed(self) -> bool:
        return self._channel is None

    def __enter__(self) -> "Writer":
        return self

    def __exit__(self, exc_type, exc, traceback) -> None:
        if exc_type is not None:
            self.abort()
        else:
            self.close()

    def __del__(self) -> None:
        try:
            if self._channel is not None:
                self._abandon()
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if self._channel is None else "open"
        return f"<varnel.Writer {self.path!r} {self.container} {state}>"


def create(path: PathLike, type: Any = b"????", creator: Any = b"????",
           name: Optional[str] = None, container: str = "macbinary",
           finder_resources: bool = True, flags: Optional[int] = None,
           created: Optional[datetime.datetime] = None,
           modified: Optional[datetime.datetime] = None) -> Writer:
    """Starts writing a Macintosh file; use it as a context manager.

    `type` and `creator` are 4 bytes (or 4-character str); `name` is the
    Macintosh name (default: the file name without .bin/.hqx/.as, at most 31
    characters); `container` one of "macbinary" (MacBinary II), "classic",
    "applesingle", "appledouble" (NAME and ._NAME) or "binhex".  Unless
    finder_resources=False, closing adds an owner resource and, when FREF
    resources were added, the bundle.  The file appears only when complete.
    """
    return Writer(path, type, creator, name, container, finder_resources, flags, created,
                  modified)


# A resource fork without resources: the 256-byte head (data at 256, map at
# 256, no data, a map of 30 bytes) and the map: a copy of the head, the
# handle and attribute fields, the type list at 28 with no type (0xFFFF),
# the name list right after it at 30.
_EMPTY_FORK_HEAD = bytes.fromhex("00000100 00000100 00000000 0000001E")
EMPTY_RESOURCE_FORK = (_EMPTY_FORK_HEAD + bytes(240) + _EMPTY_FORK_HEAD + bytes(8) +
                       bytes.fromhex("001C 001E FFFF"))


def _output_failure(what: str, path: str) -> errors.Error:
    """The library's reason an output could not be made or put in place."""
    text = ctypes.c_char_p()
    code = L.LastError(ctypes.byref(text))
    reason = (text.value or b"").decode("utf-8", "replace")
    return errors.error_for(code or errors.ERR_IO, f"{what}: {reason}", path, L.LastSystemError())


def _write_bare_fork(path: str, fork: bytes) -> None:
    """The resource fork alone, put in place only when written whole."""
    L.ClearError()
    output = L.OpenOutput(os.fsencode(path), L.OUTPUT_BYTES)
    if not output:
        raise _output_failure("cannot create", path)
    if L.WriteOutput(output, fork, len(fork)) != 0:
        failure = _output_failure("cannot write", path)
        L.DiscardOutput(output)
        raise failure
    if L.CommitOutput(output) != 0:
        raise _output_failure("cannot write", path)


def _conversion_losses(original, target: int, source: str, destination: str) -> List[str]:
    """What the container `target` cannot hold of `original`, in the
    library's words: each warning given as a VarnelWarning naming its file,
    and returned as its text.  The library's notices (nothing lost) are
    left out."""
    info = L.FileInfo.from_buffer_copy(original._info)
    info.name = b""  # the Writer says itself when it cuts a name
    finder = ctypes.create_string_buffer(bytes(original.finder_info), 32)
    found: List[Tuple[str, str]] = []

    def take(note, _argument):
        if note.contents.severity == 2:  # MACBIN_WARNING: something is lost
            found.append((note.contents.line.decode("utf-8", "replace"),
                          note.contents.text.decode("utf-8", "replace")))

    method = L.ConversionNoteMethod(take)
    if L.ConversionNotes(ctypes.byref(info), finder, target, os.fsencode(source),
                         os.fsencode(destination), method, None) < 0:
        L.raise_failure(destination, "cannot name what the conversion loses", [])
    for line, _text in found:
        errors.warn(line)
    return [text for _line, text in found]


def convert(source: PathLike, destination: PathLike, container: str = "macbinary",
            name: Optional[str] = None) -> List[str]:
    """Writes the file `source` (any container the library reads) into
    `destination` in another container, both forks byte for byte, with the
    type, creator, Finder information, name and dates where the new
    container holds them; container="rsrc" writes the resource fork alone
    (a fork without resources for a file that has none).  Returns the
    warnings about what it cannot hold (also given as VarnelWarning)."""
    with open_file(source) as original:
        fork = original.read_resource_fork()
        bare = isinstance(container, str) and container.lower() == "rsrc"
        target = 6 if bare else _container_number(container)
        notes = _conversion_losses(original, target, _fspath(source), _fspath(destination))
        if bare:
            _write_bare_fork(_fspath(destination), fork or EMPTY_RESOURCE_FORK)
            return notes
        mac_name = name if name is not None else (original.name or
                                                  default_mac_name(_fspath(destination)))
        with Writer(destination, original.type, original.creator, mac_name, container,
                    flags=original.flags, created=original.created, modified=original.modified,
                    finder_info=original.finder_info, _carry_name=True) as out:
            reader = original.open_data()
            while True:
                piece = reader.read(1 << 20)
                if not piece:
                    break
                out.write(piece)
            out.set_resource_fork(fork)
    return notes
