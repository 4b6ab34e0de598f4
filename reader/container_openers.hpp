// Private to the reader.
//
// One opener per container.  Each takes the opened input (and its file),
// reads what the container says about the file, and returns a read channel
// or null after reporting why the file is refused.
#pragma once

#include "reader/open_steps.hpp"

// MacBinary I, II or III (also any other file of at least 128 bytes, whose
// first 128 are then taken as a MacBinary header).
MacBinChannel *open_macbinary(InputFile &input);

// An AppleSingle file, or an AppleDouble header file given by its own name
// (its data fork is then the file NAME beside "._NAME", when there is one).
MacBinChannel *open_apple_file(InputFile &input);

// A file that is no container of its own, read with the AppleDouble header
// file ("._NAME") beside it: `data` is the data fork.  Null with
// `not_a_header` true (nothing reported) when the header file is no
// AppleDouble header at all, so that the caller can try what else the
// file may be; null with it false after reporting why a damaged header
// file refuses the pair.
MacBinChannel *open_apple_double_pair(InputFile &header, InputFile &data, bool &not_a_header);

// A BinHex 4.0 text.
MacBinChannel *open_binhex(InputFile &input);

// A bare resource fork (the data fork is empty).
MacBinChannel *open_bare_resource_fork(InputFile &input);
