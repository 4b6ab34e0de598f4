/*
 * testing.h - hooks of the libtessel stand-in for tests, fuzzers and
 * benchmarks only.
 *
 * Never installed and never exported from the shared library: they live in
 * the object library tessel_testing, which test programs link together with
 * the static library.  They switch behaviour that the stand-in's file and
 * zone code carries in every build (fault injection, zone accounting).
 */
#ifndef TESSEL_TESTING_H
#define TESSEL_TESTING_H

#include <stddef.h>
#include <stdint.h>

#include "tessel.h"

#ifdef __cplusplus
extern "C" {
#endif

/* ---- Zones ---------------------------------------------------------------- */

/* Bytes currently allocated from the zone (for leak checks). */
size_t tessel_zone_in_use(const TesselZone *zone);
/* Caps the bytes the zone may hand out (0 = no cap); zalloc beyond returns
 * null with errno = ENOMEM, for out-of-memory paths. */
void tessel_zone_set_limit(TesselZone *zone, size_t limit);
/* Fills every block zalloc hands out from now on with `byte` (0 to 255; -1
 * stops filling), so that a field read but never set shows. */
void tessel_zone_set_fill(TesselZone *zone, int32_t byte);

/* ---- Fault injection --------------------------------------------------------
 * Makes the file layer fail the way a full disk does, for every file opened
 * for writing.  After `bytes` more bytes have been accepted by fputb/fputm
 * and by direct stores through the put area (tessel_put_area), counted
 * across all files, the next byte fails with `error_number` (ENOSPC when 0)
 * exactly there: the bytes before it reach the file, and the file is failed
 * for good.  Until the fault is switched off every write file then fails at
 * its next byte.
 * After `calls` more successful fputp calls on files open for writing, the
 * next one fails with `error_number` (EIO when 0) and fails its file for
 * good; read files are not affected.  A negative count switches the fault
 * off (the default); files that failed stay failed. */
void tessel_fail_writes_after(int64_t bytes, int32_t error_number);
void tessel_fail_seeks_after(int64_t calls, int32_t error_number);

#ifdef __cplusplus
}
#endif

#endif /* TESSEL_TESTING_H */
