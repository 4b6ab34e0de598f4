// Output primitives: raw fields, bytes, words, longs, 16.16 fixed-point
// numbers and Pascal strings to the current output file, most significant
// byte first, with process-wide failure detection.
//
// The observable contract is byte-at-a-time: each byte is written, then
// judged; the first failing byte is reported once ("Writing output file",
// severity 4), nothing after it is written, and every later call returns 1.
//
// With VARNEL_TESSEL_FAST_PATH the bytes go straight into the output file's
// put area (the stand-in's extension of the host library, tessel.h): a run
// that fits there is copied in one block, since a store into the buffer
// cannot fail, and every byte that could fail (a full buffer, an injected
// fault, a file that failed before) goes through fputb alone and is judged
// right after it.  Without it only the host library's own writes are used:
// fputb for a byte, fputm for a field's data and for its zero padding.
// fputm accepts the bytes before a failing one and stops there, so the
// contract is the same.
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

#include "frame/internal.hpp"
#include "stream/internal.hpp"
#include "varnel.h"

// Sticky failure flags: set here (and by record_write_failure), never
// cleared; write_failed is read by every primitive, output_error by
// MacBin_Close to decide whether to remove the file.
int32_t write_failed = 0;
int32_t output_error = 0;

namespace {

// Judges a call of the host library's write operations by errno, which was
// cleared right before it: a value left by an earlier, unrelated call must
// never fail a sound write.
bool judge_write(int32_t result) {
  if (result != 0 && errno == 0) errno = EIO;  // a failure without a reason is still one
  return MacBin_PutInError() == 0;
}

bool put_byte_slowly(uint8_t byte) {
  errno = 0;
  return judge_write(fputb(outfile, byte));
}

#if VARNEL_TESSEL_FAST_PATH

// Room in the file's put area; 0 without an output file, so that the slow
// path (fputb) answers for it.
size_t fast_room(TesselFile *file) {
  if (file == nullptr) return 0;
  const TesselPutArea *area = tessel_put_area(file);
  return area->next < area->end ? static_cast<size_t>(area->end - area->next) : 0;
}

// Writes `count` bytes: data[i] below `length`, zero after.  Returns 0, or 1
// after the failing byte (which sets write_failed).
int32_t put_field(const uint8_t *data, size_t length, size_t count) {
  size_t done = 0;
  while (done < count) {
    if (const size_t room = fast_room(outfile); room > 0) {
      TesselPutArea *area = tessel_put_area(outfile);
      const size_t n = std::min(room, count - done);
      const size_t from_data = done < length ? std::min(n, length - done) : 0;
      if (from_data > 0) std::memcpy(area->next, data + done, from_data);
      if (n > from_data) std::memset(area->next + from_data, 0, n - from_data);
      area->next += n;
      done += n;
      continue;
    }
    if (!put_byte_slowly(done < length ? data[done] : 0)) {
      write_failed = 1;
      return 1;
    }
    ++done;
  }
  return 0;
}

#else  // !VARNEL_TESSEL_FAST_PATH

bool put_block_plainly(const uint8_t *data, size_t count) {
  errno = 0;
  return judge_write(fputm(outfile, data, static_cast<int64_t>(count)));
}

// Writes `count` bytes: data[i] below `length`, zero after.  Returns 0, or 1
// after the failing byte (which sets write_failed).
int32_t put_field(const uint8_t *data, size_t length, size_t count) {
  static constexpr uint8_t kZeros[512] = {};
  const size_t from_data = std::min(length, count);
  bool written = from_data == 0 || put_block_plainly(data, from_data);
  for (size_t done = from_data; written && done < count;) {
    const size_t n = std::min(count - done, sizeof kZeros);
    written = put_block_plainly(kZeros, n);
    done += n;
  }
  if (written) return 0;
  write_failed = 1;
  return 1;
}

#endif  // VARNEL_TESSEL_FAST_PATH

// MacBin_PutByte's path for every byte that is not a plain store, kept out
// of line so that the store itself needs no stack frame.
[[gnu::noinline]] int32_t put_byte_out_of_line(uint8_t byte) {
  if (write_failed != 0) return 1;
#if VARNEL_TESSEL_FAST_PATH
  if (fast_room(outfile) > 0) {
    *tessel_put_area(outfile)->next++ = byte;
    return 0;
  }
#endif
  if (!put_byte_slowly(byte)) {
    write_failed = 1;
    return 1;
  }
  return 0;
}

}  // namespace

bool output_uses_tessel_extension() { return VARNEL_TESSEL_FAST_PATH != 0; }

int32_t MacBin_PutInError() {
  if (errno == 0) return 0;
  report("Writing output file", MACBIN_SEVERE, MACBIN_ERR_IO);
  output_error = 1;
  return 1;
}

void record_write_failure(int32_t code) {
  // Once output has failed it was reported; the message is given only once.
  if (write_failed == 0) report("Writing output file", MACBIN_SEVERE, code);
  write_failed = 1;
  output_error = 1;
}

extern "C" {

int32_t MacBin_PutBuf(const void *data, int32_t length, int32_t count) {
  if (write_failed != 0) return 1;
  if (count <= 0) return 0;
  // Without data only zero bytes can be written.
  const size_t data_length = data != nullptr && length > 0 ? static_cast<size_t>(length) : 0;
  return put_field(static_cast<const uint8_t *>(data), data_length, static_cast<size_t>(count));
}

int32_t MacBin_PutByte(int32_t value) {
#if VARNEL_TESSEL_FAST_PATH
  // The common case: one compare and one store into the file buffer; all
  // else (a full buffer, a failed file, no file) is the out-of-line path.
  TesselFile *file = outfile;
  if (write_failed == 0 && file != nullptr) {
    TesselPutArea *area = tessel_put_area(file);
    if (area->next < area->end) {
      *area->next++ = static_cast<uint8_t>(value);
      return 0;
    }
  }
#endif
  return put_byte_out_of_line(static_cast<uint8_t>(value));
}

int32_t MacBin_PutWord(int32_t value, int32_t count) {
  uint8_t bytes[2];
  put_be16(bytes, static_cast<uint32_t>(value) & 0xFFFFu);
  return MacBin_PutBuf(bytes, 2, count);
}

int32_t MacBin_PutInt(int32_t value, int32_t count) {
  uint8_t bytes[4];
  put_be32(bytes, static_cast<uint32_t>(value));
  return MacBin_PutBuf(bytes, 4, count);
}

int32_t MacBin_PutFixed(float value, int32_t count) {
  // 16.16 fixed point is defined for 0 <= value < 65536.  Outside it the
  // value is clamped (NaN and negatives to 0, 65536 and up to the largest
  // fixed value, FF FF FF FF), so no out-of-range float reaches an integer
  // conversion.
  uint32_t integer_part = 0;
  uint32_t fraction_part = 0;
  if (value >= 65536.0f) {
    integer_part = 0xFFFF;
    fraction_part = 0xFFFF;
  } else if (value > 0.0f) {  // false for NaN as well
    integer_part = static_cast<uint32_t>(value);
    const float fraction = value - static_cast<float>(integer_part);
    fraction_part = static_cast<uint32_t>(fraction * 65536.0f) & 0xFFFFu;
  }
  uint8_t bytes[4];
  put_be16(bytes, integer_part);
  put_be16(bytes + 2, fraction_part);
  return MacBin_PutBuf(bytes, 4, count);
}

int32_t MacBin_PutPascalString(const char *text, int32_t count) {
  if (text == nullptr) text = "";
  // The length byte says how many characters of the field are text: never
  // more than the field holds, never more than a byte can say.
  const size_t field = count > 0 ? static_cast<size_t>(count) : 0;
  const size_t length = std::min<size_t>(::strnlen(text, field), 255);
  MacBin_PutByte(static_cast<int32_t>(length));
  return MacBin_PutBuf(text, static_cast<int32_t>(length), count);
}

int32_t MacBin_GetPtrPos(void) { return static_cast<int32_t>(fgetp(outfile)); }

int32_t MacBin_SetPtrPos(int32_t base, int32_t offset) {
  const int64_t position = static_cast<int64_t>(base) + offset;
  const int64_t result = fputp(outfile, position);
  // fputp writes the pending bytes before it moves: a failure there is a
  // failure of the output file, reported as a failing byte would be.
  if (result < 0) record_write_failure();
  return static_cast<int32_t>(result);
}

}  // extern "C"
