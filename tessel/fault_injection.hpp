// Private to the stand-in: never installed.
//
// The process-wide fault injection shared by the buffered-file code.  Its
// state is part of every build; only tests switch it on, through the hooks
// of testing.h (testing.cpp).
//
// Write budget and the put area.  Direct stores through the put area go
// into the buffer while put.next < put.end and are never counted.  So that
// a global byte budget is still met exactly, at most one write file (the
// "holder") has a put.end that reaches past its put.next while the budget is
// active: its grant is min(capacity, pending + budget) bytes.  Every
// slow-path entry first settles the holder (charges the bytes it stored
// since the grant and takes the grant back), so the budget is always exact
// when a decision is made.  With the budget off the holder is unused and
// put.end is simply the buffer end.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tessel/file.hpp"

namespace tessel {

// Charges the bytes the holder stored through the fast path since its grant
// and takes the grant back (its put area closes).  Cheap when
// nothing is granted.
void settle_write_budget();

// True while a write budget is active (a non-negative count was set).
bool write_budget_active();

// Bytes that may still be accepted before the injected failure (only
// meaningful while write_budget_active()); call settle_write_budget first.
int64_t write_budget_left();

// Charges `count` accepted bytes to the budget (no-op when inactive).
void charge_write_budget(int64_t count);

// The errno an injected write failure carries.
int32_t injected_write_error();

// Gives `file` (open for writing, no sticky error) the widest put area the
// buffer and the budget allow, making it the holder when a budget is active;
// any other file gets none.
void grant_put_limit(TesselFile *file);

// Forgets `file` as holder (settling first); call before the file's buffer
// or put area changes outside a direct store, and before it closes.
void release_holder(TesselFile *file);

// Called for each fputp on a write file before it moves.  Returns 0 when the
// seek may proceed, else the errno of the injected failure.  Successful
// seeks are counted with count_successful_seek.
int32_t injected_seek_error();
void count_successful_seek();

// Walks every live file record (the registry of buffered_file.cpp), so the
// fault setters can recompute put areas when the budget is switched.
void recompute_all_put_limits();

// Switch the faults (a negative count switches one off); behind the hooks
// tessel_fail_writes_after and tessel_fail_seeks_after.
void set_write_fault(int64_t bytes, int32_t error_number);
void set_seek_fault(int64_t calls, int32_t error_number);

}  // namespace tessel
