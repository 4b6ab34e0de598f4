// The subcommands.  Each takes the arguments after its name and returns the
// exit status (see ExitStatus); usage mistakes throw UsageError.
#pragma once

#include <string>
#include <vector>

namespace varnel_tool {

using Arguments = std::vector<std::string>;

int run_pack(const Arguments &arguments);
int run_list(const Arguments &arguments);
int run_extract(const Arguments &arguments);
int run_render(const Arguments &arguments);
int run_ct(const Arguments &arguments);
int run_convert(const Arguments &arguments);
int run_thumbnail(const Arguments &arguments);
int run_check(const Arguments &arguments);

}  // namespace varnel_tool
