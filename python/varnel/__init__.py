"""varnel: classic Macintosh files on Unix, through libvarnel.

Read any container the library reads (MacBinary I/II/III, AppleSingle,
AppleDouble, BinHex 4.0, bare resource forks)::

    import varnel
    with varnel.open("Sample.bin") as f:
        print(f.container, f.name, f.type, f.creator, f.created)
        data = f.read_data()                    # the data fork (f.open_data(): a stream)
        for r in f.resources:                   # read lazily, in map order
            print(r.type, r.id, r.name, r.size, r.attributes)
        icon = f.resources[b"ICN#", 128].decode()   # .width, .height, .rgba, .to_pillow()
        thumb = f.thumbnail(128)                # the Finder's icon, at most 128 x 128
        for r, contents in f.resources.iter_data():  # every resource's bytes, fast
            ...

Write one (the file appears only when complete; an exception inside the
``with`` leaves nothing)::

    with varnel.create("Report.bin", type=b"TEXT", creator=b"VARN",
                       container="macbinary") as out:   # or classic, applesingle,
        out.write(b"Hello, Mac\\r")                     # appledouble, binhex
        out.add_line('vers 1 "" 1.00 F 0 0/1.0/Version 1.0')   # the tool's resource lines
        out.add_line('FREF 128 "" TEXT 128')
        out.add_line('BNDL "Owner text"')                # the bundle, made on close
        out.add_resource(b"STR ", 128, b"\\x05Hello", name="Greeting")
        out.add_icon(b"ICN#", 128, pillow_image_or_rgba)

    varnel.convert("Report.bin", "Report.hqx", container="binhex")

Failures raise varnel.Error subclasses carrying the library's code and
reason: FileError (also an OSError), DamagedError, UnsupportedError,
LimitError, ArgumentError and StateError (also ValueErrors),
OutOfMemoryError, ImageError (an image file that could not be read).  The
library's warnings come as VarnelWarning; nothing is printed.

The library is found through VARNEL_LIBRARY (the file, or its directory),
else where CMake installed it beside this package, else by the system's
loader.  ``varnel.__version__`` is the library's version.  Writing is
process-wide in the library: one file is written at a time (other threads'
calls wait meanwhile); reading runs in any number of threads.
"""
from ._library import VERSION as __version__
from ._library import from_mac_roman, to_mac_roman
from .errors import (ArgumentError, DamagedError, Error, FileError, ImageError, LimitError,
                     OutOfMemoryError, StateError, UnsupportedError, VarnelWarning)
from .images import Image, Thumbnail, decode_picture, encode_resource
from .reader import (Attributes, Compression, DataForkReader, MacFile, Resource, Resources,
                     identify, open, thumbnail)
from .writer import Writer, convert, create

__all__ = [
    "__version__", "open", "create", "convert", "identify", "decode_picture", "encode_resource",
    "thumbnail", "MacFile", "Resource", "Resources", "Writer", "Image", "Thumbnail", "Attributes", "Compression",
    "DataForkReader", "to_mac_roman", "from_mac_roman",
    "Error", "FileError", "DamagedError", "UnsupportedError", "LimitError", "ArgumentError",
    "StateError", "OutOfMemoryError", "ImageError", "VarnelWarning",
]
