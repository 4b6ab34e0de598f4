// MacBin_GetPictureInfo: a picture's header as a host sees it, without
// drawing anything.
#include <algorithm>
#include <cstring>
#include <optional>
#include <span>

#include "format/pict_file.hpp"
#include "varnel.h"

int32_t MacBin_GetPictureInfo(const void *data, int64_t length, MacBinPictureInfo *info) {
  if (info == nullptr) return 0;
  std::memset(info, 0, sizeof *info);
  if (data == nullptr || length <= 0) return 0;
  // The header lies in the first bytes; a length past the address space is
  // fine.
  const auto looked_at =
      static_cast<size_t>(std::min<int64_t>(length, int64_t{varnel::format::kPictureHeaderBytes}));
  const std::optional<varnel::format::PictureHeader> header =
      varnel::format::read_picture_header(std::span<const uint8_t>(static_cast<const uint8_t *>(data), looked_at));
  if (!header) return 0;
  info->version = header->version;
  info->top = header->top;
  info->left = header->left;
  info->bottom = header->bottom;
  info->right = header->right;
  info->resolution_stated = header->resolution_stated ? 1 : 0;
  info->horizontal_dpi = header->horizontal_dpi_fixed;
  info->vertical_dpi = header->vertical_dpi_fixed;
  return 1;
}
