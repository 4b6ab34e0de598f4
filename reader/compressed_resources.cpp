// MacBin_GetResourceCompression and MacBin_ReadResourceUncompressed: a
// resource's contents, decompressed when it is stored compressed.  The
// stored bytes come from MacBin_ReadResourceData, which checks the
// reference and every position and keeps the channel's file where it was.
//
// The Resource Manager decides by the attribute bit: a resource is
// decompressed when its attributes have 0x01 set and its data starts with
// the signature.  Real files hold resources with the bit set and plain data
// (no signature); they read as stored.  Data with the signature but the bit
// clear is plain data too.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <new>
#include <span>
#include <string>

#include "format/compressed_resource.hpp"
#include "frame/internal.hpp"
#include "reader/decompression.hpp"
#include "reader/lookup_index.hpp"

namespace format = varnel::format;
namespace reader = varnel::reader;

namespace varnel::reader {

bool is_known_decompressor(int32_t decompressor) { return decompressor >= 0 && decompressor <= 2; }

const char *decompress_resource(std::span<const uint8_t> stored,
                                const format::CompressedHeader &header,
                                std::span<uint8_t> output) {
  if (stored.size() < format::kCompressedHeaderSize) return "compression header cut short";
  const std::span<const uint8_t> stream = stored.subspan(format::kCompressedHeaderSize);
  switch (header.decompressor) {
    case 0: return decompress_bytes0(stream, output);
    case 1: return decompress_bytes1(stream, output);
    case 2: return decompress_words(header, stream, output);
    default: return "unknown decompressor";
  }
}

}  // namespace varnel::reader

namespace {

enum class Storage { kUnreadable, kPlain, kCompressed, kDamaged };

struct StoredFacts {
  Storage storage = Storage::kUnreadable;
  int32_t stored_length = -1;
  format::CompressedHeader header{};
  const char *damage = nullptr;  // kDamaged: why
};

// How `ref` is stored, from its attributes and the first bytes of its data.
StoredFacts examine(MacBinChannel *channel, const MacBinRefEntry *ref) {
  StoredFacts facts;
  uint8_t head[format::kCompressedHeaderSize];
  const int32_t length = MacBin_ReadResourceData(channel, ref, head, sizeof head);
  if (length < 0) return facts;  // not the channel's reference, or not readable
  facts.stored_length = length;
  const std::span<const uint8_t> first(head, std::min<size_t>(sizeof head, static_cast<size_t>(length)));
  if ((ref->attributes & format::kCompressedAttribute) == 0 || !format::has_compressed_signature(first)) {
    facts.storage = Storage::kPlain;
    return facts;
  }
  facts.damage = format::parse_compressed_header(first, facts.header);
  facts.storage = facts.damage == nullptr ? Storage::kCompressed : Storage::kDamaged;
  return facts;
}

// "ICN# 128", or empty when `ref` is none of the channel's references.
std::string name_of(const MacBinChannel *channel, const MacBinRefEntry *ref) {
  if (channel == nullptr || channel->types == nullptr) return {};
  const std::less<const MacBinRefEntry *> before;
  for (int32_t t = 0; t < channel->type_count; ++t) {
    const MacBinTypeEntry &entry = channel->types[t];
    if (entry.refs == nullptr || entry.count <= 0) continue;
    if (!before(ref, entry.refs) && before(ref, entry.refs + entry.count))
      return std::string(entry.type, strnlen(entry.type, 4)) + " " + std::to_string(ref->id);
  }
  return {};
}

// Reports the one reason of a refused read (never throws: it also runs in
// the entry point's handlers).
void report_failure(MacBinChannel *channel, const MacBinRefEntry *ref, int32_t code, const char *why,
                    const std::string &detail = {}) noexcept {
  try {
    const std::string name = name_of(channel, ref);
    const std::string text = (name.empty() ? std::string("Resource") : "Resource " + name) +
                             " cannot be read: " + why + detail;
    report(text.c_str(), MACBIN_ERROR, code);
  } catch (...) {
    report("Resource cannot be read", MACBIN_ERROR, code);
  }
}

int32_t copy_out(const reader::DecompressedCache &kept, void *buffer, int32_t capacity) {
  const size_t copied = std::min(kept.length, static_cast<size_t>(capacity));
  if (copied > 0) std::memcpy(buffer, kept.contents.get(), copied);
  return static_cast<int32_t>(kept.length);
}

int32_t read_uncompressed(MacBinChannel *channel, const MacBinRefEntry *ref, void *buffer,
                          int32_t capacity) {
  ReaderIndex *state = reader_state(channel);
  if (state == nullptr) {
    report_failure(channel, ref, MACBIN_ERR_STATE, "not a channel opened for reading");
    return -1;
  }
  if (capacity < 0 || (buffer == nullptr && capacity != 0)) {
    report_failure(channel, ref, MACBIN_ERR_ARGUMENT, "no buffer for its bytes");
    return -1;
  }
  // The bytes call after a length call: the reference was checked when
  // its contents were kept.
  reader::DecompressedCache &cache = state->decompressed;
  if (ref != nullptr && cache.ref == ref) return copy_out(cache, buffer, capacity);

  const int32_t stored_length = MacBin_ReadResourceData(channel, ref, nullptr, 0);
  if (stored_length < 0) {
    const bool own = !name_of(channel, ref).empty();
    report_failure(channel, ref, own ? MACBIN_ERR_DAMAGED : MACBIN_ERR_ARGUMENT,
                   !own
                       ? "not one of the channel's resources"
                       : "its data lies outside the resource fork or cannot be read");
    return -1;
  }
  // `ref` is the channel's own: its attributes may be read.
  if ((ref->attributes & format::kCompressedAttribute) == 0) {
    const int32_t length = MacBin_ReadResourceData(channel, ref, buffer, capacity);
    if (length < 0) report_failure(channel, ref, MACBIN_ERR_DAMAGED, "its data cannot be read");
    return length;
  }
  const auto stored_size = static_cast<size_t>(stored_length);
  std::unique_ptr<uint8_t[]> stored_bytes(new uint8_t[stored_size]);
  if (MacBin_ReadResourceData(channel, ref, stored_bytes.get(), stored_length) != stored_length) {
    report_failure(channel, ref, MACBIN_ERR_DAMAGED, "its data cannot be read");
    return -1;
  }
  const std::span<const uint8_t> stored(stored_bytes.get(), stored_size);
  if (!format::has_compressed_signature(stored)) {
    // The bit without the signature: plain bytes.
    const size_t copied = std::min(stored_size, static_cast<size_t>(capacity));
    if (copied > 0) std::memcpy(buffer, stored.data(), copied);
    return stored_length;
  }
  format::CompressedHeader header;
  if (const char *damage = format::parse_compressed_header(stored, header)) {
    report_failure(channel, ref, MACBIN_ERR_DAMAGED, "damaged compressed resource: ", damage);
    return -1;
  }
  if (!reader::is_known_decompressor(header.decompressor)) {
    report_failure(channel, ref, MACBIN_ERR_UNSUPPORTED, "unknown decompressor ", std::to_string(header.decompressor));
    return -1;
  }
  // Left uninitialised: a decompressor that succeeds has written every byte.
  const size_t length = header.uncompressed_length;
  std::unique_ptr<uint8_t[]> contents(new uint8_t[length]);
  const char *failure =
      reader::decompress_resource(stored, header, std::span<uint8_t>(contents.get(), length));
  if (failure != nullptr) {
    report_failure(channel, ref, MACBIN_ERR_DAMAGED, "damaged compressed resource: ", failure);
    return -1;
  }
  cache.ref = ref;
  cache.contents = std::move(contents);
  cache.length = length;
  return copy_out(cache, buffer, capacity);
}

}  // namespace

extern "C" int32_t MacBin_GetResourceCompression(MacBinChannel *channel, const MacBinRefEntry *ref,
                                                 MacBinCompressionInfo *info) {
  if (info == nullptr) return -1;
  *info = MacBinCompressionInfo{};
  if (reader_state(channel) == nullptr) return -1;
  const StoredFacts facts = examine(channel, ref);
  switch (facts.storage) {
    case Storage::kUnreadable:
    case Storage::kDamaged:
      return -1;
    case Storage::kPlain:
      *info = {-1, 0, facts.stored_length, facts.stored_length};
      return 0;
    case Storage::kCompressed:
      break;
  }
  *info = {facts.header.decompressor, facts.header.version,
           static_cast<int32_t>(facts.header.uncompressed_length), facts.stored_length};
  return 1;
}

extern "C" int32_t MacBin_ReadResourceUncompressed(MacBinChannel *channel, const MacBinRefEntry *ref,
                                                   void *buffer, int32_t capacity) {
  try {
    return read_uncompressed(channel, ref, buffer, capacity);
  } catch (const std::bad_alloc &) {
    report_failure(channel, ref, MACBIN_ERR_MEMORY, "out of memory for its contents");
  } catch (...) {
    report_failure(channel, ref, MACBIN_ERR_DAMAGED, "internal failure while decompressing");
  }
  return -1;
}
