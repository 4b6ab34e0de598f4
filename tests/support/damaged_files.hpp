// Damaged files that more than one test program reads, as golden bytes.
#pragma once

#include "support/support.hpp"

namespace vt {

// A classic file whose header gives the resource fork 70 bytes, while its
// map ends 73 bytes after the fork's start: the map's last 3 bytes (its
// handle field) lie in the padding after the fork.  'STR ' 128 = "abc",
// unnamed.
inline Bytes fork_past_its_length() {
  return hex(
    "00 04 54 65 73 74 00 00 00 00 00 00 00 00 00 00"  // 000 name "Test"
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 010
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 020
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 030
    "00 54 45 58 54 56 41 52 4E 00 00 00 00 00 00 00"  // 040 TEXT VARN
    "00 00 00 00 00 00 00 00 00 00 46 00 00 00 00 00"  // 050 data fork 0 (53), rsrc fork 70 (57)
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 060
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 070
    "00 00 00 10 00 00 00 17 00 00 00 07 00 00 00 32"  // 080 fork: data 16, map 23, 7, 50
    "00 00 00 03 61 62 63 00 00 00 10 00 00 00 17 00"  // 090 "abc"; map at 97: header copy
    "00 00 07 00 00 00 32 00 00 00 00 00 00 00 00 00"  // 0A0 handle, file, attributes 0
    "1C 00 32 00 00 53 54 52 20 00 00 00 0A 00 80 FF"  // 0B0 lists at 28, 50; 1 type STR; 128
    "FF 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0C0 unnamed, data at 0; fork ends C6
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0D0 padding
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0E0
    "00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00"  // 0F0
);
}

}  // namespace vt
