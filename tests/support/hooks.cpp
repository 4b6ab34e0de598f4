// The library's test hooks (zone accounting, injected file faults, the
// private channel release), reached from here only, so that the tests name
// each of them once.
#include <cstring>
#include <stdexcept>

#include "frame/internal.hpp"
#include "support/support.hpp"
#include "tessel/testing.h"

namespace vt {

int32_t write_parameter_text(MacBinChannel *, const char *param) {
  const auto length = static_cast<int32_t>(std::strlen(param));
  return MacBin_PutBuf(param, length, length);
}

void set_trace_flags(uint32_t flags) { debug_values.trace_flags = flags; }

size_t zone_in_use() { return tessel_zone_in_use(MacIOControl.zone); }
void limit_zone(size_t bytes) { tessel_zone_set_limit(MacIOControl.zone, bytes); }

void fail_writes_after(int64_t bytes, int32_t error_number) {
  tessel_fail_writes_after(bytes, error_number);
}
void fail_seeks_after(int64_t calls, int32_t error_number) {
  tessel_fail_seeks_after(calls, error_number);
}
void clear_faults() {
  tessel_fail_writes_after(-1, 0);
  tessel_fail_seeks_after(-1, 0);
}

ScratchOutput::ScratchOutput() : path_(dir_.file("out")) {
  file_ = fopenw(fdbset(0, "STREAM,SEQUENTIAL"), path_.c_str(), "", 0);
  if (file_ == nullptr) throw std::runtime_error("cannot open the scratch output " + path_);
  open_ = true;
  outfile = file_;
}

MacBinChannel *ScratchOutput::open_channel(const char *type, int32_t id, const char *name) {
  channel_ = MacBin_NewChannel();
  if (channel_ == nullptr) throw std::runtime_error("no channel for the scratch output");
  channel_->file = file_;
  channel_->mode = 2;
  std::strncpy(channel_->cur_type, type, sizeof channel_->cur_type - 1);
  channel_->cur_id = id;
  channel_->cur_name = name;
  MacChannel = channel_;
  return channel_;
}

int32_t ScratchOutput::close() {
  open_ = false;
  return fclosx(file_);
}

Bytes ScratchOutput::bytes() {
  if (open_) close();
  return read_file(path_);
}

ScratchOutput::~ScratchOutput() {
  if (open_) fclosx(file_);
  fdbfree(file_);
  if (outfile == file_) outfile = nullptr;
  if (channel_ != nullptr) {
    if (MacChannel == channel_) MacChannel = nullptr;
    release_channel_record(channel_);
  }
}

}  // namespace vt
