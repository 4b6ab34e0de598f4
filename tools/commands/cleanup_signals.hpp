// When SIGINT, SIGTERM, SIGHUP or SIGPIPE ends the run, the handler has the
// library remove every temporary it holds (MacBin_RemoveTemporaries), puts
// the signal's default action back and raises it again, so that whoever
// started the tool sees it end by that signal and nothing half-written is
// left.  SIGXFSZ is ignored, so that a file-size limit shows as a failed
// write (EFBIG) that the tool reports, instead of ending the process with
// the temporary file still there.
#pragma once

namespace varnel_tool {

// Call once, early.  A signal ignored by whoever started the tool (nohup)
// stays ignored.
void install_cleanup_on_signals();

}  // namespace varnel_tool
