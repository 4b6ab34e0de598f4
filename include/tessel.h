/*
 * tessel.h - the small host utility layer that libvarnel is built on.
 *
 * libvarnel reaches files, memory zones, fatal exits, rounding and CT image
 * rows only through these operations.  Hosts use them too: read handlers read
 * resource data from a channel's `file` with fgetb/fgetm/fgetw, and the CT
 * writer makes the single-channel images that the icon builders take.
 *
 * Byte order: fgetw/fgetl/fwtow/fltol and CT headers work least significant
 * byte first (the "host file order").  libvarnel pairs them with its own swaps.
 *
 * Failure: every operation that can fail sets errno to a non-zero value when
 * it fails.  It never clears errno on success, so callers that judge by errno
 * clear it first.
 *
 * Ownership: a TesselFile comes from fdbset (a description, not yet open) and
 * becomes an open file through fopenw/fopenr; fdbfree releases it (open or
 * not).  fclosx/fcldelete close it but leave the record to fdbfree.  A zone
 * lives until the process ends.
 *
 * Threads: a file belongs to one thread at a time; different files may be
 * used from different threads at once.  Making and releasing files
 * (fdbset, fopenr, fdbfree) and zalloc/zfree/zcreate may be called from any
 * thread.
 */
#ifndef TESSEL_H
#define TESSEL_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Opaque handles. */
typedef struct TesselFile TesselFile;         /* a file description / buffered file */
typedef struct TesselZone TesselZone;         /* a memory zone */
typedef struct TesselCtReader TesselCtReader; /* CT row reader */

/* ---- Buffered files ---------------------------------------------------- */

/* A new file description.  `options` is informational ("STREAM",
 * "STREAM,SEQUENTIAL").  Returns null and sets errno when out of memory. */
TesselFile *fdbset(int32_t reserved, const char *options);

/* Releases a description or a file handle (closing it first if still open,
 * which flushes it; errno is left as it was).  Null, and pointers that are not
 * live records from fdbset/fopenr, are ignored. */
void fdbfree(TesselFile *file);

/* Opens `path` for writing (created or truncated, mode 0666 less the umask).
 * `description` comes from fdbset and must not be open; on success the same
 * pointer is returned, now open.  On failure errno is set and null is returned
 * (the description stays the caller's). */
TesselFile *fopenw(TesselFile *description, const char *path, const char *options, int32_t flags);

/* Opens `path` for reading.  The first argument is either a description from
 * fdbset (returned, now open) or an option text such as "STREAM", or null (a
 * new file record is made; release it with fdbfree).  The stand-in keeps a
 * registry of live records to tell the two apart.  On failure errno is set
 * (ENOENT for a missing file) and null is returned; a description passed in
 * stays the caller's. */
TesselFile *fopenr(const void *description_or_options, const char *path, const char *options,
                   int32_t flags);

/* Closes the file (flushing what is buffered).  Returns 0, or -1 with errno
 * set when the file had a write failure at any time or the final flush or
 * close failed.  The record stays valid for fdbfree. */
int32_t fclosx(TesselFile *file);

/* Closes the file without flushing (buffered bytes are dropped) and removes it
 * from the file system.  A file opened for writing whose fclosx failed is
 * closed already yet incomplete, and the record is all that still names it:
 * fcldelete then removes it too (once).  Returns 0, or -1 with errno set when
 * it could not be removed; EBADF when the record is not open and no failed
 * fclosx left a file to remove.  The record stays valid for fdbfree. */
int32_t fcldelete(TesselFile *file);

/* Current byte position from the start of the file, or -1 with errno set when
 * the file is not open. */
int64_t fgetp(TesselFile *file);

/* Moves to the absolute byte `position` (flushing pending output first).
 * Returns the new position, or -1 with errno set.  On a file open for writing
 * a failed flush or move fails the file for good, like a failed write (later
 * bytes would land at the wrong place); a file that already failed refuses
 * to move.  On a file open for reading a move inside the buffered bytes costs
 * no system call. */
int64_t fputp(TesselFile *file, int64_t position);

/* Length of the file in bytes, including bytes still buffered (no flush). */
int64_t fgeteof(TesselFile *file);

/* Skips `count` bytes forward (fputp to the current position + count).
 * Returns the new position, or -1 with errno. */
int64_t fskipb(TesselFile *file, int64_t count);

/* Next byte (0 to 255), or -1 at the end of the file (errno untouched) or on
 * error (errno set). */
int32_t fgetb(TesselFile *file);

/* Next 2 / 4 bytes, least significant first.  Bytes past the end read as 0
 * (and errno is set to EIO, as by fgetm). */
uint16_t fgetw(TesselFile *file);
uint32_t fgetl(TesselFile *file);

/* Reads `count` bytes into `buffer`.  Returns 1 when all were read (count 0
 * included), else 0 with errno set: EIO when the file ended early, the read's
 * own error otherwise.  The bytes not read are then zero in the buffer. */
int32_t fgetm(TesselFile *file, void *buffer, int64_t count);

/* Writes one byte.  Returns 0; on failure returns -1 with errno set.  Bytes
 * are buffered (64 KiB); the buffer is written when it is full, by fputp and
 * by fclosx, and a failing flush is reported by the call that flushed (bytes
 * stored through the put area below are flushed by the same calls).  Once
 * a write or flush of the file failed, every later fputb/fputm fails again
 * with errno = that first error, fputp refuses, and fclosx reports failure:
 * a failure cannot be lost between two calls. */
int32_t fputb(TesselFile *file, int32_t byte);

/* Writes `count` bytes.  Same error rules as fputb.  Returns 0 or -1; on a
 * failure the bytes before the failing one have been accepted. */
int32_t fputm(TesselFile *file, const void *data, int64_t count);

/* ---- Byte order and records -------------------------------------------- */

/* Turn a 16/32-bit value into its least-significant-first memory form (the
 * identity on little-endian machines). */
uint16_t fwtow(uint16_t value);
uint32_t fltol(uint32_t value);

/* Turns the fields of `record`, stored least significant byte first, into
 * host values in place.  `layout` is digit pairs: a count and an item size
 * in bytes (1, 2 or 4; 8 works too, other sizes are skipped unconverted),
 * e.g. "828434228484".  A NUL in either character of a pair ends the layout;
 * pairs that are not two digits are ignored.  The record must hold every
 * field the layout names. */
void fxtox(void *record, const char *layout);

/* Copies the part of `path` named by `part` into `buffer` (at least 256
 * bytes; the text is cut to 255 characters and NUL-terminated): "NAME" gives
 * the file name without directory and without its last extension
 * ("dir/Sample.bin" -> "Sample", "a.tar.gz" -> "a.tar", ".profile" stays).
 * Any other part (or null) gives the whole file name without directory.
 * Returns buffer (null when buffer is null). */
char *fparse(char *buffer, const char *path, int32_t reserved, const char *part);

/* ---- Memory zones ------------------------------------------------------ */

/* A new zone, or null with errno set.  Blocks are not cleared: their bytes
 * are whatever the heap held (callers set every field they read).  zalloc
 * returns null with errno = ENOMEM when out of memory or past the zone's
 * limit, and a distinct block even for size 0.  zfree must be given the
 * block's size; a null block is ignored. */
TesselZone *zcreate(int32_t reserved1, int32_t reserved2);
void *zalloc(TesselZone *zone, size_t size);
void zfree(TesselZone *zone, void *block, size_t size);

/* ---- Fatal exits, rounding, copying ------------------------------------ */

/* Prints "tessel: fatal:", `text` as given (the library's texts begin with a
 * backspace) and a newline to standard error, and ends the process with
 * status 1 (standard output is flushed first).  Does not return. */
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void errexit(const char *text);

/* Ends the process with `status` after flushing standard output. */
#if defined(__GNUC__)
__attribute__((noreturn))
#endif
void exits(int32_t status);

/* Nearest integer, halves away from zero (2.5 -> 3, -2.5 -> -3); saturates
 * at INT32_MIN/INT32_MAX; NaN gives 0. */
int32_t nint(double value);

/* Copies `count` bytes from `source` to `destination` (regions may overlap);
 * a count of 0 or less copies nothing. */
void movb(const void *source, void *destination, int64_t count);

/* ---- CT images ---------------------------------------------------------
 * A CT file: a 512-byte header whose numeric fields are stored least
 * significant byte first, then the rows one after another from the data
 * offset, `width` bytes each, no padding.
 *   offset  4: channel count, 16-bit
 *   offset 32: row count, 32-bit signed
 *   offset 36: row width in pixels (= bytes per row), 32-bit signed
 *   offset 68: data offset (absolute file position of the first row), 32-bit
 * Other header bytes are zero when written by tessel_write_ct.  A file with
 * more than one channel (which the library refuses as not mono) stores its
 * samples interleaved, width x channels bytes per row; the width field still
 * counts pixels. */

enum {
  TESSEL_CT_HEADER_SIZE = 512,
  TESSEL_CT_CHANNELS_OFFSET = 4,
  TESSEL_CT_ROWS_OFFSET = 32,
  TESSEL_CT_WIDTH_OFFSET = 36,
  TESSEL_CT_DATA_OFFSET = 68
};

/* A row reader for `file` (not owned; it reads from the file's current
 * position, so position the file at the data offset with fputp) delivering
 * rows of `width` samples, or null with errno set when out of memory. */
TesselCtReader *ct_finit(TesselFile *file, int32_t width);
/* Reads the next `count` bytes into `buffer` (count <= 0 reads nothing and
 * returns 0).  Returns 0; on a short read or error returns -1 with errno set
 * (EIO for a file that ends early). */
int32_t ct_fgetrow(TesselCtReader *reader, void *buffer, int32_t count);
void ct_free(TesselCtReader *reader);

/* Writes a single-channel (channels = 1) or interleaved CT file of `rows`
 * rows of `width` pixels (`pixels` holds rows x width x channels bytes) with
 * the data at offset 512.  Returns 0, or -1 with errno set (EINVAL for a
 * negative size, channels outside 1 to 65535 or null pixels); a file that
 * could not be written completely is removed. */
int32_t tessel_write_ct(const char *path, const uint8_t *pixels, int32_t width, int32_t rows,
                        int32_t channels);

/* ---- The stand-in's own extension: not part of libtessel ---------------
 * libtessel has none of this.  It lets a writer that puts out one byte at a
 * time store straight into a write file's buffer, as putc does with a FILE,
 * and patch bytes that are still in that buffer.  A build that must keep to
 * libtessel's own interface defines TESSEL_NO_EXTENSION, which hides it.
 *
 * The put area.  Every TesselFile record begins with one.  While
 * next < end, a byte may be stored at *next followed by next++ (or a run of
 * n <= end - next bytes copied there followed by next += n): such bytes
 * belong to the file exactly as if fputb had written them, in order with the
 * fputb/fputm calls before and after.  When next == end, write the byte with
 * fputb (or fputm) instead: that call makes room (flushing a full buffer),
 * reports a failure of that flush or of the file as its own, and sets the
 * area anew.  The stand-in keeps next == end whenever a direct store would
 * be wrong: the file is not open for writing or has failed, its buffer is
 * full, or an injected write fault must count the next byte.  Callers only
 * ever move `next` forward, never past `end`, and change nothing else;
 * every other call on the file may move both.  The area lives as long as the
 * record (until fdbfree).
 *
 * Example, a putc-like writer:
 *   TesselPutArea *area = tessel_put_area(file);
 *   if (area->next < area->end) *area->next++ = byte;
 *   else if (fputb(file, byte) != 0) ... failed, errno says why ...
 */
#ifndef TESSEL_NO_EXTENSION

typedef struct TesselPutArea {
  uint8_t *next; /* where the next byte goes */
  uint8_t *end;  /* direct stores stop here; next == end: call fputb */
} TesselPutArea;

/* The put area of `file`, a live record from fdbset or fopenr (not null). */
static inline TesselPutArea *tessel_put_area(TesselFile *file) {
#ifdef __cplusplus
  return reinterpret_cast<TesselPutArea *>(file);
#else
  return (TesselPutArea *)(void *)file;
#endif
}

/* Overwrites `count` bytes at the absolute `position` of a write file when
 * every one of them is still pending in its buffer (written, not yet
 * flushed), e.g. a length word patched right after the data it counts.
 * Returns 1 when done: the position does not move and nothing is flushed.
 * Returns 0 when nothing was done: the bytes are not all pending (flushed
 * already, past the end written so far, or straddling the start of the
 * buffer), the file is null, not open for writing or failed, or `data` is
 * null with count > 0.  The caller then moves with fputp and writes. */
int32_t tessel_patch_pending(TesselFile *file, int64_t position, const void *data, size_t count);

#endif /* TESSEL_NO_EXTENSION */

#ifdef __cplusplus
}
#endif

#endif /* TESSEL_H */
