// A bare resource fork (a ".rsrc" file) read into a read channel: the whole
// file is the resource fork, and the data fork is empty.  Nothing in the
// file names it or gives its type, creator, flags or dates: the name is the
// file's own, without a ".rsrc" ending, and the rest is zero (unknown).
#include <string>
#include <string_view>

#include "reader/container_openers.hpp"
#include "reader/open_steps.hpp"

namespace {

constexpr std::string_view kForkSuffix = ".rsrc";

}  // namespace

MacBinChannel *open_bare_resource_fork(InputFile &input) {
  const std::string path = input.path;
  std::string_view name = base_name(path);
  if (name.size() > kForkSuffix.size() && name.ends_with(kForkSuffix)) {
    name.remove_suffix(kForkSuffix.size());
  }
  ChannelHandle channel = make_read_channel(input);
  if (channel == nullptr) return nullptr;
  ReaderIndex &index = *reader_state(channel.get());
  FileFacts facts{};
  facts.format = MACBIN_FORMAT_RSRC;
  facts.crc_state = -1;
  facts.name = name;
  facts.rsrc_length = static_cast<uint32_t>(index.file_length_bytes);
  set_file_facts(*channel, index, facts, 0);
  index.data_start = 0;
  CheckedFile checked(channel->file, index.file_length_bytes);
  if (!read_resource_fork(checked, *channel, index)) return nullptr;
  return channel.release();
}
