"""Reading: varnel.open() and the file, its forks and its resources."""
from __future__ import annotations

import ctypes
import datetime
import enum
import io
import os
import struct
import threading
from typing import Dict, Iterator, List, NamedTuple, Optional, Tuple, Union

from . import _library as L
from . import errors
from .images import (PICT_FILE_PROBE_BYTES, Image, Thumbnail, check_thumbnail_size,
                     decode_failure, is_pict_file, pict_file_thumbnail, take_pixels,
                     take_thumbnail)

PathLike = Union[str, "os.PathLike[str]"]

# Containers by the library's MACBIN_FORMAT_* numbers.
CONTAINER_NAMES = {1: "classic", 2: "macbinary", 3: "macbinary3", 4: "applesingle",
                   5: "appledouble", 6: "rsrc", 7: "binhex"}

MAC_EPOCH = datetime.datetime(1904, 1, 1, tzinfo=datetime.timezone.utc)


def from_mac_date(seconds: int) -> Optional[datetime.datetime]:
    """Seconds since 1904 (taken as UTC, as the tool shows them) as a datetime; None for 0."""
    if seconds == 0:
        return None
    return MAC_EPOCH + datetime.timedelta(seconds=seconds)


def to_mac_date(when: datetime.datetime) -> int:
    """A datetime as seconds since 1904; a naive one is taken as UTC."""
    if when.tzinfo is None:
        when = when.replace(tzinfo=datetime.timezone.utc)
    seconds = int((when - MAC_EPOCH).total_seconds())
    if not 0 < seconds <= 0xFFFFFFFF:
        raise errors.ArgumentError(f"{when.isoformat()} is outside the Macintosh dates "
                                   "(1904 to 2040)")
    return seconds


class Attributes(enum.IntFlag):
    """The attribute byte of a resource."""

    NONE = 0
    COMPRESSED = 0x01
    CHANGED = 0x02
    PRELOAD = 0x04
    PROTECTED = 0x08
    LOCKED = 0x10
    PURGEABLE = 0x20
    SYSTEM_HEAP = 0x40


_ATTRIBUTES = [Attributes(value) for value in range(256)]


class Compression(NamedTuple):
    """How a compressed resource is stored."""

    decompressor: int
    header_version: int
    uncompressed_length: int
    stored_length: int


def _fspath(path: PathLike) -> str:
    return os.fsdecode(os.fspath(path))


# A listing record (MacBinResourceListing) as struct reads it: the reference's
# address, type, id, attributes, length, name offset, name length, data offset.
_LISTING = "@P4siiiiii"
_LISTING += "%dx" % (ctypes.sizeof(L.Listing) - struct.calcsize(_LISTING))
_LISTING_LAYOUT = struct.Struct(_LISTING)
assert _LISTING_LAYOUT.size == ctypes.sizeof(L.Listing)
# Stored bytes read in one call when reading many resources at once.
_BATCH_BYTES = 4 << 20


class _ScratchPool:
    """Buffers for reading many resources at once, kept from one file to the
    next: a fresh megabyte-sized buffer per file costs page faults (and the
    C library handing memory back to the system) that took longer than the
    reading itself when files are read one after another.  A buffer is
    taken for one iteration and given back when it ends; two are kept at
    most, so memory stays bounded by two batches."""

    _KEPT = 2

    def __init__(self) -> None:
        self._lock = threading.Lock()
        self._data: List[bytearray] = []
        self._entries: List[ctypes.Array] = []

    @staticmethod
    def _take(kept: list, size: int, make):
        for index, buffer in enumerate(kept):
            if len(buffer) >= size:
                return kept.pop(index)
        return make(size)

    def take(self, data_size: int, entry_count: int):
        with self._lock:
            return (self._take(self._data, data_size, bytearray),
                    self._take(self._entries, entry_count, lambda n: (L.Listing * n)()))

    def give_back(self, data: bytearray, entries) -> None:
        with self._lock:
            if len(self._data) < self._KEPT:
                self._data.append(data)
            if len(self._entries) < self._KEPT:
                self._entries.append(entries)


_scratch_pool = _ScratchPool()


class Resource:
    """One resource of an open file.  Its facts come from the map; its bytes
    are read when asked for (``data``, ``stored``, ``size``)."""

    __slots__ = ("_file", "_ref", "type", "id", "_attributes", "_name", "_length")

    def __init__(self, file: "MacFile", ref: int, type_code: bytes, resource_id: int,
                 attributes: int, name: Optional[str], length: int) -> None:
        self._file = file
        self._ref = ref  # address of the library's reference record
        self.type = type_code
        self.id = resource_id
        self._attributes = attributes
        self._name = name
        self._length = length  # -1: its bytes lie outside the fork

    @property
    def attributes(self) -> Attributes:
        return _ATTRIBUTES[self._attributes & 0xFF]

    @property
    def name(self) -> Optional[str]:
        """The resource's name (up to 255 characters), or None."""
        return self._name

    @property
    def data(self) -> bytes:
        """The contents: decompressed when the resource is stored compressed."""
        return self._file._read(L.ReadResourceUncompressed, self._ref, 0, "contents of", self)

    @property
    def stored(self) -> bytes:
        """The bytes as the file stores them."""
        return self._file._read(L.ReadResourceData, self._ref, 0, "data of", self)

    @property
    def size(self) -> int:
        """The length of the stored bytes (DamagedError when they lie outside the fork)."""
        if self._length < 0:
            return self._file._length(self._ref, self)  # raises the reason
        return self._length

    @property
    def compression(self) -> Optional[Compression]:
        """How the resource is compressed, or None when it is stored plain."""
        return self._file._compression(self)

    def decode(self) -> Image:
        """What the resource looks like: icons, cursors, patterns, colour tables,
        fonts and pictures as RGBA pixels (UnsupportedError for other types)."""
        return self._file._decode(self)

    def describe(self) -> str:
        """One line on vers, FREF, BNDL and the owner resource ("" for other types)."""
        return self._file._describe(self)

    def __repr__(self) -> str:
        name = f" {self._name!r}" if self._name is not None else ""
        return f"<varnel.Resource {self.type!r} {self.id}{name}>"


class Resources:
    """The resources of a file, in map order: iterable, sized and indexable by
    ``(type, id)`` (type as 4 bytes or a str); ``of_type()``, ``types()``."""

    def __init__(self, file: "MacFile") -> None:
        self._file = file
        self._listed: Optional[List[Resource]] = None  # the map, listed when first needed
        self._index: Optional[Dict[Tuple[bytes, int], Resource]] = None

    @property
    def _items(self) -> List[Resource]:
        if self._listed is None:
            self._listed = self._file._list_resources()
        return self._listed

    def iter_data(self, stored: bool = False) -> Iterator[Tuple[Resource, bytes]]:
        """Every resource with its contents (or, stored=True, its bytes as
        stored), in map order: the fast way to read them all.  The bytes are
        read some megabytes at a time, so memory stays small whatever the
        file's size."""
        if self._listed is None:
            return self._file._list_and_read(self, stored)
        return self._file._iter_data(self._listed, stored)

    def __iter__(self) -> Iterator[Resource]:
        return iter(self._items)

    def __len__(self) -> int:
        return len(self._items)

    def _lookup(self) -> Dict[Tuple[bytes, int], Resource]:
        if self._index is None:
            index: Dict[Tuple[bytes, int], Resource] = {}
            for resource in self._items:
                index.setdefault((resource.type, resource.id), resource)
            self._index = index
        return self._index

    @staticmethod
    def _key(key) -> Tuple[bytes, int]:
        if not (isinstance(key, tuple) and len(key) == 2):
            raise TypeError("resources are indexed by (type, id)")
        type_code, resource_id = key
        if not isinstance(resource_id, int):
            raise TypeError("a resource ID is an int")
        if resource_id > 32767:  # the stored form of a negative ID
            resource_id -= 65536
        return L.four_bytes(type_code, "resource type"), resource_id

    def __getitem__(self, key) -> Resource:
        """The first resource with this type and ID (KeyError when none)."""
        found = self._lookup().get(self._key(key))
        if found is None:
            raise KeyError(key)
        return found

    def get(self, type_code, resource_id: int) -> Optional[Resource]:
        return self._lookup().get(self._key((type_code, resource_id)))

    def __contains__(self, key) -> bool:
        try:
            return self._key(key) in self._lookup()
        except (TypeError, errors.ArgumentError):
            return False

    def of_type(self, type_code) -> List[Resource]:
        code = L.four_bytes(type_code, "resource type")
        return [resource for resource in self._items if resource.type == code]

    def types(self) -> List[bytes]:
        """The types, each once, in map order."""
        return list(dict.fromkeys(resource.type for resource in self._items))


class MacFile:
    """A Macintosh file open for reading (varnel.open), a context manager.

    Facts: ``container`` ("classic", "macbinary", "macbinary3",
    "applesingle", "appledouble", "binhex", "rsrc"), ``name`` (str),
    ``type`` and ``creator`` (4 bytes), ``flags`` (Finder flags),
    ``created``/``modified`` (UTC datetimes, None when unknown),
    ``data_length``, ``resource_fork_length``, ``crc_ok`` (None without a
    CRC), ``resources_read`` (False for a damaged resource fork, read
    without its resources), ``map_attributes``, ``finder_info`` (the 32-byte
    block), ``warnings`` (the library's, also given as VarnelWarning).
    Forks: ``read_data()``, ``open_data()`` (a stream), ``read_resource_fork()``.
    Resources: ``resources``.
    """

    def __init__(self, path: PathLike) -> None:
        self.path = _fspath(path)
        self._channel = None
        self._resources: Optional[Resources] = None
        self._scratch = threading.local()
        encoded = os.fsencode(self.path)
        with L.gate:
            L.ClearError()
            channel = L.OpenR(encoded)
            messages = L.take_messages()
            if not channel:
                L.raise_failure(self.path, "cannot be opened", messages)
            self._channel = channel
            L.channel_opened()
            info = L.FileInfo()
            L.GetFileInfo(channel, ctypes.byref(info))
            finder = ctypes.create_string_buffer(32)
            L.GetFinderInfoBytes(channel, finder)
        self.warnings = L.give_warnings(self.path, messages)
        self._info = info
        self.finder_info: bytes = finder.raw
        self.container: str = CONTAINER_NAMES.get(info.format, str(info.format))
        self.name: str = L.from_mac_roman(info.name)
        self.type: bytes = bytes(info.type[:4]).ljust(4, b"\0")
        self.creator: bytes = bytes(info.creator[:4]).ljust(4, b"\0")
        # The codes as stored, NULs included (the record's text stops at a NUL).
        self.type = finder.raw[0:4] if info.format != 6 else self.type
        self.creator = finder.raw[4:8] if info.format != 6 else self.creator
        self.flags: int = info.finder_flags
        self.created = from_mac_date(info.created)
        self.modified = from_mac_date(info.modified)
        self.data_length: int = info.data_length
        self.resource_fork_length: int = info.rsrc_length
        self.map_attributes: int = info.map_attributes
        # True / False for containers with a CRC, None for those without.
        self.crc_ok: Optional[bool] = None if info.crc_state < 0 else info.crc_state == 1
        # Whether the resource map was read: False for a damaged resource fork,
        # which is read without its resources (see .warnings).
        self.resources_read: bool = info.rsrc_state >= 0

    # ---- the open channel ----

    def _open_channel(self):
        channel = self._channel
        if channel is None:
            raise errors.StateError("the file is closed", self.path)
        return channel

    def close(self) -> None:
        """Closes the file; resources taken from it can no longer be read."""
        channel = self._channel
        if channel is None:
            return
        self._channel = None
        with L.gate:
            L.Close(channel)
        L.channel_closed()
        L.take_messages()

    @property
    def closed(self) -> bool:
        return self._channel is None

    def __enter__(self) -> "MacFile":
        return self

    def __exit__(self, *exc) -> None:
        self.close()

    def __del__(self) -> None:
        try:
            self.close()
        except Exception:
            pass

    def __repr__(self) -> str:
        state = "closed" if self._channel is None else self.container
        return f"<varnel.MacFile {self.path!r} {state}>"

    # ---- forks ----

    def _read_fork(self, function, offset: int, count: int, what: str) -> bytes:
        channel = self._open_channel()
        buffer = ctypes.create_string_buffer(max(count, 1))
        with L.gate:
            got = function(channel, offset, buffer, count)
        if got < 0:
            L.raise_failure(self.path, f"the {what} cannot be read at offset {offset}",
                            default_code=errors.ERR_DAMAGED)
        return buffer.raw[:got]

    def read_data(self, offset: int = 0, count: Optional[int] = None) -> bytes:
        """The data fork (or `count` bytes of it from `offset`)."""
        if count is None:
            count = max(self.data_length - offset, 0)
        return self._read_all(L.ReadDataFork, offset, count, "data fork")

    def read_resource_fork(self) -> bytes:
        """The resource fork whole, as the file holds it (header, data, map)."""
        return self._read_all(L.ReadResourceFork, 0, self.resource_fork_length, "resource fork")

    def _read_all(self, function, offset: int, count: int, what: str) -> bytes:
        if offset < 0 or count < 0:
            raise errors.ArgumentError(f"offset {offset} and count {count} must not be negative")
        parts = []
        while count > 0:
            piece = self._read_fork(function, offset, min(count, 1 << 30), what)
            if not piece:
                break
            parts.append(piece)
            offset += len(piece)
            count -= len(piece)
        return b"".join(parts)

    def open_data(self) -> io.BufferedReader:
        """A file-like reader of the data fork (seekable), for large forks."""
        self._open_channel()
        return io.BufferedReader(DataForkReader(self))

    # ---- resources ----

    @property
    def resources(self) -> Resources:
        """The resources, listed from the map when first asked for (no data is read)."""
        if self._resources is None:
            self._resources = Resources(self)
        return self._resources

    def _batch(self, first: int, capacity: int, entries, names, target, target_size: int,
               items: List[Resource]) -> List[int]:
        """Lists up to `capacity` references from `first` (with their stored
        bytes into `target` as far as they fit) and appends a Resource for
        each to `items`; returns the data offset of each (-1: not copied)."""
        channel = self._open_channel()
        with L.gate:
            listed = L.ListResources(channel, first, entries, capacity, names, len(names), target,
                                     target_size)
        if listed < 0:
            raise errors.StateError("the file is not open for reading", self.path)
        count = min(listed, capacity)
        # MacRoman is one character a byte: the names decoded in one piece
        # keep their offsets.
        name_text = L.from_mac_roman(names.raw)
        append = items.append
        make = Resource
        offsets = []
        keep = offsets.append
        raw = ctypes.string_at(entries, _LISTING_LAYOUT.size * count)
        for ref, type_code, resource_id, attributes, length, name_offset, name_length, data_at in \
                _LISTING_LAYOUT.iter_unpack(raw):
            if name_length < 0:
                name = None
            elif name_offset >= 0:
                name = name_text[name_offset:name_offset + name_length]
            else:
                name = L.from_mac_roman(self._read(L.GetResourceName, ref, 256, "name of"))
            append(make(self, ref, type_code, resource_id, attributes, name, length))
            keep(data_at)
        return offsets

    def _count_resources(self) -> int:
        channel = self._open_channel()
        with L.gate:
            return max(L.ListResources(channel, 0, None, 0, None, 0, None, 0), 0)

    def _names_buffer(self):
        # A batch's names are at most what the map's name list holds.
        return ctypes.create_string_buffer(max(self._open_channel().contents.map_length, 0) + 256)

    def _list_resources(self) -> List[Resource]:
        """The whole map in one call: facts, names and stored lengths."""
        count = self._count_resources()
        items: List[Resource] = []
        if count:
            self._batch(0, count, (L.Listing * count)(), self._names_buffer(), None, 0, items)
        return items

    def _list_and_read(self, resources: Resources, stored: bool) -> Iterator[Tuple[Resource, bytes]]:
        """iter_data on a map not listed yet: lists and reads in the same
        calls, and keeps the listing when it got to the end."""
        count = self._count_resources()
        items: List[Resource] = []
        if count == 0:
            resources._listed = items
            return
        capacity = min(count, 8192)
        names = self._names_buffer()
        # The resource fork's length bounds what its resources hold.
        size = max(min(self.resource_fork_length, _BATCH_BYTES), 1)
        buffer, entries = _scratch_pool.take(size, capacity)
        # A kept buffer may be larger: a batch takes the size asked for.
        target = (ctypes.c_char * size).from_buffer(buffer)
        view = memoryview(buffer)[:size]
        try:
            at = 0
            while at < count:
                first = len(items)
                offsets = self._batch(at, min(count - at, capacity), entries, names, target,
                                      size, items)
                done = 0
                for resource, offset in zip(items[first:], offsets):
                    if offset < 0:
                        if done == 0:  # too large for a batch, or unreadable: on its own
                            yield resource, resource.stored if stored else resource.data
                            done = 1
                        break
                    if not stored and resource._attributes & 0x01:
                        yield resource, resource.data  # compressed: the library decompresses
                    else:
                        yield resource, view[offset:offset + resource._length].tobytes()
                    done += 1
                del items[first + done:]  # listed again with the next batch
                at += done
            resources._listed = items
        finally:
            view.release()
            del target
            _scratch_pool.give_back(buffer, entries)

    def _iter_data(self, items: List[Resource], stored: bool) -> Iterator[Tuple[Resource, bytes]]:
        count = len(items)
        if count == 0:
            return
        # Room for the stored bytes of what is left, at most a batch: the
        # library writes them straight into the buffer the slices come from.
        pending = sum(max(resource._length, 0) for resource in items)
        size = max(min(pending, _BATCH_BYTES), 1)
        capacity = min(count, 8192)
        buffer, entries = _scratch_pool.take(size, capacity)
        # A kept buffer may be larger: a batch takes the size asked for.
        target = (ctypes.c_char * size).from_buffer(buffer)
        view = memoryview(buffer)[:size]
        try:
            yield from self._iter_batches(items, stored, entries, capacity, target, view)
        finally:
            view.release()
            del target
            _scratch_pool.give_back(buffer, entries)

    def _iter_batches(self, items: List[Resource], stored: bool, entries, capacity: int, target,
                      view: memoryview) -> Iterator[Tuple[Resource, bytes]]:
        count = len(items)
        unpack = _LISTING_LAYOUT.iter_unpack
        at = 0
        while at < count:
            channel = self._open_channel()
            batch = min(count - at, capacity)
            with L.gate:
                L.ListResources(channel, at, entries, batch, None, 0, target, len(view))
            listed = unpack(ctypes.string_at(entries, _LISTING_LAYOUT.size * batch))
            first = at
            for entry in listed:
                resource = items[at]
                offset = entry[7]
                if offset < 0:
                    if at == first:  # too large for a batch, or unreadable: on its own
                        yield resource, resource.stored if stored else resource.data
                        at += 1
                    break
                if not stored and resource._attributes & 0x01:
                    yield resource, resource.data  # compressed: the library decompresses
                else:
                    yield resource, view[offset:offset + entry[4]].tobytes()
                at += 1

    def _buffer(self, need: int):
        scratch = getattr(self._scratch, "buffer", None)
        if scratch is None or len(scratch) < need:
            scratch = ctypes.create_string_buffer(max(need, 65536))
            self._scratch.buffer = scratch
        return scratch

    def _read(self, function, ref: int, first_guess: int, what: str,
              resource: Optional[Resource] = None) -> bytes:
        """Bytes of a reference through one of the library's copy-out calls:
        into a scratch buffer of the thread, grown when too small."""
        channel = self._open_channel()
        gate = L.gate
        gate.enter()
        try:
            buffer = self._buffer(first_guess)
            capacity = len(buffer)
            length = function(channel, ref, buffer, capacity)
            if length > capacity:
                buffer = self._buffer(length)
                length = function(channel, ref, buffer, length)
        finally:
            gate.leave()
        if length < 0:
            self._raise_for(resource, ref, what)
        return ctypes.string_at(buffer, length)

    def _raise_for(self, resource: Optional[Resource], ref: int, what: str) -> None:
        label = f"{resource.type!r} {resource.id}" if resource is not None else "a resource"
        L.raise_failure(self.path, f"the {what} resource {label} cannot be read",
                        default_code=errors.ERR_DAMAGED)

    def _length(self, ref: int, resource: Resource) -> int:
        channel = self._open_channel()
        with L.gate:
            length = L.ReadResourceData(channel, ref, None, 0)
        if length < 0:
            self._raise_for(resource, ref, "data of")
        return length

    def _compression(self, resource: Resource) -> Optional[Compression]:
        channel = self._open_channel()
        info = L.CompressionInfo()
        with L.gate:
            result = L.GetResourceCompression(channel, resource._ref, ctypes.byref(info))
        if result < 0:
            raise errors.DamagedError(
                f"resource {resource.type!r} {resource.id}: its compression header is damaged",
                self.path, errors.ERR_DAMAGED)
        if result == 0:
            return None
        return Compression(info.decompressor, info.header_version, info.uncompressed_length,
                           info.stored_length)

    def thumbnail(self, size: int = 128) -> Thumbnail:
        """The file's icon as the Finder would show it, at most size x size
        pixels (16 to 1024), as the varnel tool's thumbnail command draws it:
        its custom icon, else its bundle's icon for its type, else its
        largest picture, else a document (or application) icon of the
        library's own lettered with its type.  Icons are enlarged by whole
        factors and centred on a transparent size x size image; pictures
        keep their shape.  ``shows`` says which was drawn."""
        check_thumbnail_size(size)
        channel = self._open_channel()
        pixels = L.Pixels()
        about = L.Thumbnail()
        with L.gate:
            L.ClearError()
            result = L.DrawThumbnail(channel, size, ctypes.byref(pixels), ctypes.byref(about))
        messages = L.take_messages()  # a refused compressed resource is reported there too
        if result < 0:
            L.raise_failure(self.path, "the thumbnail cannot be drawn", messages)
        return take_thumbnail(pixels, about)

    def _decode(self, resource: Resource) -> Image:
        channel = self._open_channel()
        pixels = L.Pixels()
        reason = ctypes.create_string_buffer(128)
        with L.gate:
            ok = L.DecodeResource(channel, resource._ref, ctypes.byref(pixels), reason)
        L.take_messages()  # a refused compressed resource is reported there too
        text = reason.value.decode("utf-8", "replace")
        if ok != 1:
            raise decode_failure(text or f"{resource.type!r} {resource.id} cannot be decoded",
                                 self.path)
        return take_pixels(pixels, text)

    def _describe(self, resource: Resource) -> str:
        channel = self._open_channel()
        buffer = ctypes.create_string_buffer(1024)
        with L.gate:
            length = L.DescribeResource(channel, resource._ref, buffer, 1024)
            if length >= 1024:
                buffer = ctypes.create_string_buffer(length + 1)
                length = L.DescribeResource(channel, resource._ref, buffer, length + 1)
        if length < 0:
            self._raise_for(resource, resource._ref, "description of")
        return buffer.raw[:length].decode("utf-8", "replace")


class DataForkReader(io.RawIOBase):
    """The data fork of an open MacFile as a raw, seekable binary stream."""

    def __init__(self, file: MacFile) -> None:
        super().__init__()
        self._file = file
        self._position = 0

    def readable(self) -> bool:
        return True

    def seekable(self) -> bool:
        return True

    def readinto(self, target) -> int:
        channel = self._file._open_channel()
        view = memoryview(target).cast("B")
        count = min(len(view), 1 << 30, max(self._file.data_length - self._position, 0))
        if count == 0:
            return 0
        buffer = (ctypes.c_char * count).from_buffer(view)
        with L.gate:
            got = L.ReadDataFork(channel, self._position, buffer, count)
        if got < 0:
            L.raise_failure(self._file.path,
                            f"the data fork cannot be read at offset {self._position}",
                            default_code=errors.ERR_DAMAGED)
        self._position += got
        return got

    def seek(self, offset: int, whence: int = io.SEEK_SET) -> int:
        if whence == io.SEEK_SET:
            position = offset
        elif whence == io.SEEK_CUR:
            position = self._position + offset
        elif whence == io.SEEK_END:
            position = self._file.data_length + offset
        else:
            raise ValueError(f"invalid whence {whence}")
        if position < 0:
            raise ValueError(f"negative seek position {position}")
        self._position = position
        return position

    def tell(self) -> int:
        return self._position


def open(path: PathLike) -> MacFile:  # noqa: A001 - the package's verb, as io.open
    """Opens a Macintosh file in any container the library reads: MacBinary
    (I, II, III), AppleSingle, AppleDouble (NAME with ._NAME beside it, or
    ._NAME itself), BinHex 4.0 or a bare resource fork.  Use it as a context
    manager.  Raises FileError, DamagedError or UnsupportedError."""
    return MacFile(path)


def thumbnail(path: PathLike, size: int = 128) -> Thumbnail:
    """The thumbnail of a file as the varnel tool's thumbnail command draws
    it: of a PICT file (a file no container claims whose first bytes are a
    PICT file's) its picture, else of the Macintosh file its icon
    (MacFile.thumbnail)."""
    path = _fspath(path)
    check_thumbnail_size(size)
    if identify(path) is None:
        with io.open(path, "rb") as file:
            head = file.read(PICT_FILE_PROBE_BYTES)
            if is_pict_file(head):
                return pict_file_thumbnail(head + file.read(), size, path)
    with MacFile(path) as mac_file:
        return mac_file.thumbnail(size)


def identify(path: PathLike) -> Optional[str]:
    """The container `path` would be read as ("macbinary", "binhex", ...), or
    None for a file that is none of them; FileError when it cannot be read."""
    path = _fspath(path)
    with L.gate:
        result = L.IdentifyFile(os.fsencode(path))
    if result < 0:
        error = os.strerror(2) if not os.path.exists(path) else "cannot be read"
        raise errors.FileError(error, path, errors.ERR_IO)
    return CONTAINER_NAMES.get(result) if result else None
