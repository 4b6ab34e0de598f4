// Private to the library: never installed.
//
// The byte-stream primitives' internal interface: the process-wide failure
// flags and big-endian helpers built by composition (never by the host's
// byte order).
#pragma once

#include <cstdint>
#include <span>

#include "format/big_endian.hpp"
#include "varnel.h"

// Process-wide failure flags: 0 at load, set once, never cleared.
// write_failed: set by MacBin_PutBuf at the first failing byte; turns every
//   later primitive into a no-op returning 1.
// output_error: set when the failure is reported; MacBin_Close then removes
//   the output file instead of keeping it.
extern int32_t write_failed;
extern int32_t output_error;

// True when the primitives store into the stand-in's put area and the
// writer patches bytes still in its buffer (VARNEL_TESSEL_FAST_PATH); then
// fewer bytes and seeks reach the file layer, which tests that count them
// must know.
bool output_uses_tessel_extension();

// Reports and returns 1 when errno is set (a failed write), else 0.
int32_t MacBin_PutInError();

// Records a write failure detected outside the primitives (a failed flush,
// seek or close of the output file): reports "Writing output file" once and
// sets both flags, exactly as a failing byte does.  `code` is the last
// error it records: MACBIN_ERR_IO with errno's reason, or kErrorFollows
// when the caller reported the cause (a fork past 32 bits) just before.
void record_write_failure(int32_t code = MACBIN_ERR_IO);

// Big-endian numbers, as every file format holds them.
using varnel::format::get_be16;
using varnel::format::get_be24;
using varnel::format::get_be32;
using varnel::format::put_be16;
using varnel::format::put_be24;
using varnel::format::put_be32;
