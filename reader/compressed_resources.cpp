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
#include <new>
#include <span>
#include <string>
#include <vector>

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
void report_failure(MacBinChannel *channel, const MacBinRefEntry *ref, const char *why,
                    const std::string &detail = {}) noexcept {
  try {
    const std::string name = name_of(channel, ref);
    const std::string text = (name.empty() ? std::string("Resource") : "Resource " + name) +
                             " cannot be read: " + why + detail;
    report(text.c_str(), MACBIN_ERROR);
  } catch (...) {
    report("Resource cannot be read", MACBIN_ERROR);
  }
}

int32_t copy_out(const std::vector<uint8_t> &contents, void *buffer, int32_t capacity) {
  const size_t copied = std::min(contents.size(), static_cast<size_t>(capacity));
  if (copied > 0) std::memcpy(buffer, contents.data(), copied);
  return static_cast<int32_t>(contents.size());
}

int32_t read_uncompressed(MacBinChannel *channel, const MacBinRefEntry *ref, void *buffer,
                          int32_t capacity) {
  ReaderIndex *state = reader_state(channel);
  if (state == nullptr) {
    report_failure(channel, ref, "not a channel opened for reading");
    return -1;
  }
  if (capacity < 0 || (buffer == nullptr && capacity != 0)) {
    report_failure(channel, ref, "no buffer for its bytes");
    return -1;
  }
  const StoredFacts facts = examine(channel, ref);
  switch (facts.storage) {
    case Storage::kUnreadable:
      report_failure(channel, ref,
                     name_of(channel, ref).empty()
                         ? "not one of the channel's resources"
                         : "its data lies outside the resource fork or cannot be read");
      return -1;
    case Storage::kDamaged:
      report_failure(channel, ref, "damaged compressed resource: ", facts.damage);
      return -1;
    case Storage::kPlain: {
      const int32_t length = MacBin_ReadResourceData(channel, ref, buffer, capacity);
      if (length < 0) report_failure(channel, ref, "its data cannot be read");
      return length;
    }
    case Storage::kCompressed:
      break;
  }
  if (!reader::is_known_decompressor(facts.header.decompressor)) {
    report_failure(channel, ref, "unknown decompressor ",
                   std::to_string(facts.header.decompressor));
    return -1;
  }
  reader::DecompressedCache &cache = state->decompressed;
  if (cache.ref == ref) return copy_out(cache.contents, buffer, capacity);

  std::vector<uint8_t> stored(static_cast<size_t>(facts.stored_length));
  if (MacBin_ReadResourceData(channel, ref, stored.data(), facts.stored_length) !=
      facts.stored_length) {
    report_failure(channel, ref, "its data cannot be read");
    return -1;
  }
  std::vector<uint8_t> contents(facts.header.uncompressed_length);
  const char *failure = reader::decompress_resource(stored, facts.header, contents);
  if (failure != nullptr) {
    report_failure(channel, ref, "damaged compressed resource: ", failure);
    return -1;
  }
  cache.ref = ref;
  cache.contents = std::move(contents);
  return copy_out(cache.contents, buffer, capacity);
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
    report_failure(channel, ref, "out of memory for its contents");
  } catch (...) {
    report_failure(channel, ref, "internal failure while decompressing");
  }
  return -1;
}
