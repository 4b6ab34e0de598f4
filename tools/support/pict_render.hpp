// Decodes the QuickDraw pictures this library writes as previews: version 2,
// one 8-bit indexed pixel map packed with PackBits (opcode 0x0098), or the
// same clipped by a mask region (0x0099).  Every read is bounded; damaged or
// foreign pictures give an error text, never a crash.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "support/image_sink.hpp"

namespace varnel_tool {

// Largest pixel map row the format can describe (row bytes below 0x4000).
inline constexpr int32_t kMaxPictRowBytes = 0x3FFF;

// Sends the picture to `sink` at the pixel map's own size: RGB, or RGBA
// when a mask region is present (alpha 255 inside the region, 0 outside).
// False with `error` set when the picture cannot be decoded or the sink
// refused; rows already sent stay sent.
bool render_pict(std::span<const uint8_t> picture, ImageSink &sink, std::string &error);

}  // namespace varnel_tool
