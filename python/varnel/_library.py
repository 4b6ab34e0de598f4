"""libvarnel through ctypes: finding and loading it, its records, its
prototypes, the routing of its messages and the rules of its process-wide
state.

The library keeps state for the whole process (varnel.h, "Threads"):
reading may run in several threads at once, but writing (from MacBin_OpenW
to MacBin_Close of a writing channel) must have the library to itself.
``gate`` enforces that: every call into the library takes its shared side,
and a file being written holds its exclusive side from create to close, so
that reads in other threads wait while a file is written.  The thread that
writes may still read (varnel.convert does).
"""
from __future__ import annotations

import ctypes
import os
import threading
from ctypes import (CFUNCTYPE, POINTER, Structure, c_char, c_char_p, c_int16, c_int32, c_int64,
                    c_size_t, c_uint8, c_uint16, c_uint32, c_void_p)
from typing import List, Optional

from . import errors

# ---- Finding the library ---------------------------------------------------


def _candidates() -> List[str]:
    """Where libvarnel may be, in the order tried: VARNEL_LIBRARY (a file, or
    a directory holding libvarnel.so.1), the directory recorded at
    installation, then the system's loader path."""
    found = []
    override = os.environ.get("VARNEL_LIBRARY")
    if override:
        if os.path.isdir(override):
            found.append(os.path.join(override, "libvarnel.so.1"))
        else:
            found.append(override)
        return found  # an explicit choice is never silently replaced
    try:
        from . import _install  # written by CMake at installation
        directory = _install.LIBRARY_DIR
        if not os.path.isabs(directory):
            directory = os.path.normpath(os.path.join(os.path.dirname(__file__), directory))
        found.append(os.path.join(directory, "libvarnel.so.1"))
    except ImportError:
        pass
    found.append("libvarnel.so.1")
    return found


def _load() -> ctypes.CDLL:
    reasons = []
    for candidate in _candidates():
        try:
            return ctypes.CDLL(candidate)
        except OSError as failure:
            reasons.append(str(failure))
    raise ImportError("varnel cannot load libvarnel: " + "; ".join(reasons) +
                      " (set VARNEL_LIBRARY to the library file or its directory)")


lib = _load()

# ---- Records (varnel.h; ctypes lays them out as the C compiler does) --------


class FinderInfo(Structure):
    _fields_ = [("name", c_char * 64), ("type", c_char * 5), ("creator", c_char * 5),
                ("flags", c_int16)]


class NameNode(Structure):
    pass


NameNode._fields_ = [("length", c_uint8), ("text", c_char * 128), ("next", POINTER(NameNode))]


class RefEntry(Structure):
    _fields_ = [("id", c_int32), ("name_offset", c_int32), ("name", POINTER(NameNode)),
                ("attributes", c_int32), ("data_offset", c_int32)]


class TypeEntry(Structure):
    _fields_ = [("type", c_char * 8), ("count", c_int32), ("ref_offset", c_int32),
                ("refs", POINTER(RefEntry))]


class Channel(Structure):
    _fields_ = [("file", c_void_p), ("cur_type", c_char * 8), ("cur_id", c_int32),
                ("cur_name", c_char_p), ("after_insert", c_void_p), ("label", c_char * 17),
                ("mode", c_int32), ("type_count", c_int32), ("fref_last", c_int32),
                ("rsrc_offset", c_int32), ("rsrc_start", c_int32), ("data_length", c_int32),
                ("rsrc_length", c_int32), ("finder", FinderInfo), ("owner_text", c_char * 100),
                ("types", POINTER(TypeEntry)), ("refs", POINTER(RefEntry)), ("frefs", c_void_p),
                ("names", POINTER(NameNode)), ("rdata_pos", c_int32), ("map_pos", c_int32),
                ("rdata_length", c_int32), ("map_length", c_int32)]


class FileInfo(Structure):
    _fields_ = [("format", c_int32), ("crc_state", c_int32), ("data_length", c_uint32),
                ("rsrc_length", c_uint32), ("created", c_uint32), ("modified", c_uint32),
                ("finder_flags", c_uint16), ("name", c_char * 64), ("type", c_char * 5),
                ("creator", c_char * 5), ("rsrc_state", c_int32), ("map_attributes", c_uint32),
                ("reserved", c_uint32 * 7)]


class Pixels(Structure):
    _fields_ = [("width", c_int32), ("height", c_int32), ("hot_x", c_int32), ("hot_y", c_int32),
                ("rgba", POINTER(c_uint8))]


class Thumbnail(Structure):
    _fields_ = [("drawn", c_int32), ("rule", c_int32), ("id", c_int32), ("type", c_char * 5),
                ("reserved", c_char * 3), ("note", c_char * 128)]


class CompressionInfo(Structure):
    _fields_ = [("decompressor", c_int32), ("header_version", c_int32),
                ("uncompressed_length", c_int32), ("stored_length", c_int32)]


class Listing(Structure):
    _fields_ = [("ref", c_void_p), ("type", c_char * 4), ("id", c_int32), ("attributes", c_int32),
                ("length", c_int32), ("name_offset", c_int32), ("name_length", c_int32),
                ("data_offset", c_int32)]


# The layouts varnel.h states; a mismatch would make every field wrong.
assert ctypes.sizeof(FinderInfo) == 76 and FinderInfo.flags.offset == 74
assert ctypes.sizeof(FileInfo) == 4 * 6 + 2 + 64 + 5 + 5 + 4 + 4 + 28
assert ctypes.sizeof(Listing) == (40 if ctypes.sizeof(c_void_p) == 8 else 32)
assert ctypes.sizeof(Pixels) == (24 if ctypes.sizeof(c_void_p) == 8 else 20)

# MacBin_EncodePNG's options, its byte sink and row counter.
PNGSink = CFUNCTYPE(c_int32, POINTER(c_uint8), c_size_t, c_void_p)
PNGRows = CFUNCTYPE(None, c_int32, c_void_p)


class PNGOptions(Structure):
    _fields_ = [("compression", c_int32), ("text_count", c_int32), ("keys", POINTER(c_char_p)),
                ("texts", POINTER(c_char_p)), ("rows_written", PNGRows), ("rows_context", c_void_p)]


assert PNGOptions.rows_context.offset == 8 + 3 * ctypes.sizeof(c_void_p)

ChannelP = POINTER(Channel)
MessageMethod = CFUNCTYPE(None, c_char_p, c_char_p, c_int32)


class ConversionNote(Structure):
    _fields_ = [("severity", c_int32), ("about", c_int32), ("line", c_char_p), ("text", c_char_p)]


ConversionNoteMethod = CFUNCTYPE(None, POINTER(ConversionNote), c_void_p)
WriteHandler = c_void_p  # the library's own handlers, passed by address


def _proto(name, restype, *argtypes):
    function = getattr(lib, name)
    function.restype = restype
    function.argtypes = list(argtypes)
    return function


Init = _proto("MacBin_Init", c_int32)
Reset = _proto("MacBin_Reset", None)
Setmethod = _proto("MacBin_Setmethod", c_int32, c_void_p, c_int32)
AddProcessor = _proto("MacBin_AddProcessor", c_int32, c_char_p, c_void_p, c_void_p)
Version = _proto("MacBin_Version", c_char_p)
LastError = _proto("MacBin_LastError", c_int32, POINTER(c_char_p))
LastSystemError = _proto("MacBin_LastSystemError", c_int32)
ClearError = _proto("MacBin_ClearError", None)
UTF8ToMacRoman = _proto("MacBin_UTF8ToMacRoman", c_int32, c_char_p, c_void_p, c_int32)
MacRomanToUTF8 = _proto("MacBin_MacRomanToUTF8", c_int32, c_char_p, c_int32, c_int32, c_void_p,
                        c_int32)
IdentifyFile = _proto("MacBin_IdentifyFile", c_int32, c_char_p)
OpenR = _proto("MacBin_OpenR", ChannelP, c_char_p)
OpenW = _proto("MacBin_OpenW", ChannelP, c_char_p, c_char_p, c_char_p, c_char_p)
# Outputs that appear only when complete: the library makes the temporaries,
# lists them for a signal handler, and renames (or copies) into place.
OUTPUT_BYTES = 100
OpenOutput = _proto("MacBin_OpenOutput", c_void_p, c_char_p, c_int32)
WriteOutput = _proto("MacBin_WriteOutput", c_int32, c_void_p, c_char_p, c_int32)
CommitOutput = _proto("MacBin_CommitOutput", c_int32, c_void_p)
DiscardOutput = _proto("MacBin_DiscardOutput", None, c_void_p)
OpenWOutput = _proto("MacBin_OpenWOutput", ChannelP, c_void_p, c_char_p, c_char_p, c_char_p)
Close = _proto("MacBin_Close", None, ChannelP)
GetFileInfo = _proto("MacBin_GetFileInfo", c_int32, ChannelP, POINTER(FileInfo))
GetFinderInfoBytes = _proto("MacBin_GetFinderInfoBytes", c_int32, ChannelP, c_void_p)
ReadDataFork = _proto("MacBin_ReadDataFork", c_int32, ChannelP, c_int64, c_void_p, c_int32)
ReadResourceFork = _proto("MacBin_ReadResourceFork", c_int32, ChannelP, c_int64, c_void_p,
                          c_int32)
ReadResourceData = _proto("MacBin_ReadResourceData", c_int32, ChannelP, c_void_p, c_void_p,
                          c_int32)
ReadResourceUncompressed = _proto("MacBin_ReadResourceUncompressed", c_int32, ChannelP, c_void_p,
                                  c_void_p, c_int32)
ListResources = _proto("MacBin_ListResources", c_int32, ChannelP, c_int32, c_void_p, c_int32,
                       c_void_p, c_int32, c_void_p, c_int32)
GetResourceName = _proto("MacBin_GetResourceName", c_int32, ChannelP, c_void_p, c_void_p,
                         c_int32)
GetResourceCompression = _proto("MacBin_GetResourceCompression", c_int32, ChannelP, c_void_p,
                                POINTER(CompressionInfo))
DescribeResource = _proto("MacBin_DescribeResource", c_int32, ChannelP, c_void_p, c_void_p,
                          c_int32)
DecodeResource = _proto("MacBin_DecodeResource", c_int32, ChannelP, c_void_p, POINTER(Pixels),
                        c_void_p)
DecodePicture = _proto("MacBin_DecodePicture", c_int32, c_char_p, c_int32, POINTER(Pixels),
                       c_void_p)
FreePixels = _proto("MacBin_FreePixels", None, POINTER(Pixels))
EncodePNG = _proto("MacBin_EncodePNG", c_int32, POINTER(Pixels), POINTER(PNGOptions), PNGSink, c_void_p)
DrawThumbnail = _proto("MacBin_DrawThumbnail", c_int32, ChannelP, c_int32, POINTER(Pixels),
                       POINTER(Thumbnail))
DrawPictFileThumbnail = _proto("MacBin_DrawPictFileThumbnail", c_int32, c_char_p, c_int32, c_int32,
                               POINTER(Pixels), POINTER(Thumbnail))
FindPictFilePicture = _proto("MacBin_FindPictFilePicture", c_int32, c_char_p, c_int64)
EncodeResource = _proto("MacBin_EncodeResource", c_int32, c_char_p, POINTER(Pixels), c_int32,
                        c_void_p, c_int32, c_void_p)
SetFormat = _proto("MacBin_SetFormat", c_int32, c_int32)
PutBuf = _proto("MacBin_PutBuf", c_int32, c_void_p, c_int32, c_int32)
SetDates = _proto("MacBin_SetDates", c_int32, ChannelP, c_uint32, c_uint32)
SetResourceFork = _proto("MacBin_SetResourceFork", c_int32, ChannelP, c_void_p, c_int32)
SetFinderResources = _proto("MacBin_SetFinderResources", c_int32, ChannelP, c_int32)
SetFinderInfoBytes = _proto("MacBin_SetFinderInfoBytes", c_int32, ChannelP, c_char_p)
SetMapAttributes = _proto("MacBin_SetMapAttributes", c_int32, ChannelP, c_int32)
AddResource = _proto("MacBin_AddResource", None, ChannelP, c_char_p)
AddResourceData = _proto("MacBin_AddResourceData", c_int32, ChannelP, c_char_p, c_int32, c_char_p,
                         c_int32, c_void_p, c_int32)
CheckResourceLine = _proto("MacBin_CheckResourceLine", c_int32, ChannelP, c_char_p)
CheckResourceData = _proto("MacBin_CheckResourceData", c_int32, ChannelP, c_char_p, c_int32, c_char_p,
                           c_int32)
SetPictureMemoryLimit = _proto("MacBin_SetPictureMemoryLimit", c_int64, c_int64)
ConversionNotes = _proto("MacBin_ConversionNotes", c_int32, POINTER(FileInfo), c_char_p, c_int32,
                         c_char_p, c_char_p, ConversionNoteMethod, c_void_p)

VERSION: str = Version().decode("ascii")

# ---- Messages ---------------------------------------------------------------
# The library reports through its message method, whose default prints on
# standard output.  Ours prints nothing: it keeps each message, with the
# error code the library recorded for it, for the thread that made the call,
# which turns errors into exceptions and warnings into VarnelWarning.

_local = threading.local()


class Message:
    __slots__ = ("severity", "text", "code", "system_error")

    def __init__(self, severity: int, text: str, code: int, system_error: int) -> None:
        self.severity = severity
        self.text = text
        self.code = code
        self.system_error = system_error


def _pending() -> List[Message]:
    try:
        return _local.messages
    except AttributeError:
        _local.messages = []
        return _local.messages


def _on_message(module, text, severity):  # called by the library, in the calling thread
    try:
        recorded = c_char_p()
        code = LastError(ctypes.byref(recorded))
        system_error = LastSystemError() if code == errors.ERR_IO else 0
        # The recorded text: the message with the system's reason added.
        if code != errors.ERR_NONE and recorded.value:
            text = recorded.value
        _pending().append(Message(severity, (text or b"").decode("utf-8", "replace"), code,
                                  system_error))
    except BaseException:  # nothing may escape into the library
        pass


_message_method = MessageMethod(_on_message)


def take_messages() -> List[Message]:
    """The messages of the calling thread since the last take, oldest first."""
    messages = _pending()
    if not messages:
        return messages
    _local.messages = []
    return messages


def raise_failure(path: Optional[str], fallback: str, messages: Optional[List[Message]] = None,
                  default_code: int = errors.ERR_NONE) -> None:
    """Raises the exception for a failed call: the first error the library
    reported during it (a failed write comes before its consequences), else
    the thread's last error, else `fallback`.  Warnings among the messages
    are given as VarnelWarning first."""
    if messages is None:
        messages = take_messages()
    first = None
    for message in messages:
        if message.severity >= 3 or (message.severity == 2 and message.code not in (
                errors.ERR_NONE, errors.ERR_DAMAGED)):
            first = message
            break
    if first is not None:
        raise errors.error_for(first.code or default_code, first.text, path, first.system_error)
    text = c_char_p()
    code = LastError(ctypes.byref(text))
    if code != errors.ERR_NONE:
        raise errors.error_for(code, (text.value or b"").decode("utf-8", "replace"), path,
                               LastSystemError())
    raise errors.error_for(default_code, fallback, path)


def give_warnings(path: Optional[str], messages: Optional[List[Message]] = None) -> List[str]:
    """Turns the warnings among the messages into VarnelWarning; returns their texts."""
    if messages is None:
        messages = take_messages()
    texts = []
    for message in messages:
        if message.severity == 2:
            errors.warn(message.text, path)
            texts.append(message.text)
    return texts


# ---- Start, and the state of the whole process ------------------------------

_handlers = {name: ctypes.cast(getattr(lib, name), c_void_p).value
             for name in ("add_vers", "add_FREF", "close_BNDL")}


def _start() -> None:
    if Init() == 0:
        raise errors.OutOfMemoryError("the library could not start (out of memory)")
    Setmethod(ctypes.cast(_message_method, c_void_p), 11)
    for slot in (12, 13, 14):  # start, progress, end notices: none
        Setmethod(None, slot)
    # The Finder resources, under the names the tool uses for them.
    for type_code, handler in ((b"vers", "add_vers"), (b"FREF", "add_FREF"),
                               (b"Bndl", "close_BNDL")):
        if AddProcessor(type_code, None, _handlers[handler]) != 0:
            raise errors.OutOfMemoryError("out of memory registering the resource processors")
    take_messages()


class Gate:
    """Shared for reading calls, exclusive for a file being written; the
    writing thread passes its own exclusive side (it may read)."""

    def __init__(self) -> None:
        self._condition = threading.Condition(threading.Lock())
        self._readers = 0
        self._writer: Optional[int] = None

    def enter(self) -> None:
        me = threading.get_ident()
        with self._condition:
            while self._writer is not None and self._writer != me:
                self._condition.wait()
            self._readers += 1

    def leave(self) -> None:
        with self._condition:
            self._readers -= 1
            if self._readers == 0:
                self._condition.notify_all()

    def __enter__(self) -> None:
        self.enter()

    def __exit__(self, *exc) -> None:
        self.leave()

    def acquire_writer(self) -> None:
        me = threading.get_ident()
        with self._condition:
            if self._writer == me:
                raise errors.StateError(
                    "another file is being written by this thread: the library writes one "
                    "file at a time; close it first")
            while self._writer is not None or self._readers > 0:
                self._condition.wait()
            self._writer = me

    def release_writer(self) -> None:
        with self._condition:
            self._writer = None
            self._condition.notify_all()

    def writing_here(self) -> bool:
        return self._writer == threading.get_ident()


gate = Gate()

# Open channels, and whether a failed write has stopped the library's output:
# the library then refuses every later write of the process until
# MacBin_Reset, which needs every channel closed.
_state_lock = threading.Lock()
open_channels = 0
output_stopped = False


def channel_opened() -> None:
    global open_channels
    with _state_lock:
        open_channels += 1


def channel_closed() -> None:
    global open_channels
    with _state_lock:
        open_channels -= 1


def note_output_stopped() -> None:
    global output_stopped
    with _state_lock:
        output_stopped = True


def restart_output_if_stopped(path: Optional[str] = None) -> None:
    """Called with the writer's side of the gate held: after a failed write,
    starts the library over so that it writes again."""
    global output_stopped
    with _state_lock:
        if not output_stopped:
            return
        if open_channels > 0:
            raise errors.StateError(
                "an earlier write failed, and the library refuses to write again until every "
                f"open file is closed ({open_channels} still open)", path)
        Reset()
        _start()
        output_stopped = False


_start()

# ---- MacRoman ------------------------------------------------------------------
# The library's own table, taken once: bytes 0x80-0xFF to their characters.


def _mac_roman_table() -> dict:
    table = {}
    buffer = ctypes.create_string_buffer(8)
    for byte in range(0x80, 0x100):
        length = MacRomanToUTF8(bytes([byte]), 1, 0, buffer, 8)
        table[byte] = buffer.raw[:length].decode("utf-8")
    return table


_FROM_MAC = _mac_roman_table()


def from_mac_roman(data: bytes) -> str:
    """MacRoman bytes as text (every byte has a character)."""
    text = data.decode("latin-1")
    return text.translate(_FROM_MAC) if not text.isascii() else text


def to_mac_roman(text: str, what: str = "text") -> bytes:
    """Text in MacRoman; ArgumentError naming the character MacRoman lacks."""
    if text.isascii() and "\0" not in text:
        return text.encode("ascii")
    utf8 = text.encode("utf-8", "surrogatepass")
    if b"\0" in utf8:
        raise errors.ArgumentError(f"{what} {text!r} holds a NUL character")
    need = UTF8ToMacRoman(utf8, None, 0)
    if need < 0:
        raise_failure(None, f"{what} {text!r} is not MacRoman text")
    buffer = ctypes.create_string_buffer(need + 1)
    UTF8ToMacRoman(utf8, buffer, need + 1)
    return buffer.raw[:need]


def four_bytes(code, what: str) -> bytes:
    """A type or creator code as its 4 bytes (str in MacRoman, or bytes)."""
    if isinstance(code, str):
        code = to_mac_roman(code, what)
    elif isinstance(code, (bytes, bytearray, memoryview)):
        code = bytes(code)
    else:
        raise TypeError(f"{what} must be 4 bytes or a 4-character str, not {type(code).__name__}")
    if len(code) != 4:
        raise errors.ArgumentError(f"{what} {code!r} must be 4 bytes long")
    return code
