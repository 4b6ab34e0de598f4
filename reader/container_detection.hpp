// Private to the reader.
//
// Which container a file is, by its content, in this order: the
// AppleSingle and AppleDouble magic numbers, the line BinHex texts open
// with ("(This file must be converted ...") before any NUL byte, the checks every MacBinary header
// meets, and a resource fork header whose parts lie inside the file with a
// map header that agrees with it.
#pragma once

#include <cstddef>

#include "reader/checked_cursor.hpp"

enum class Container { kAppleSingle, kAppleDouble, kBinHex, kMacBinary, kResourceFork, kNone };

// The leading bytes looked at for the BinHex line (mail headers and the
// like may come before it).
inline constexpr int64_t kBinHexSearchBytes = 64 * 1024;

// The container `file` is; false when the file could not be read.
bool detect_container(CheckedFile &file, Container *found);
