// Where the plug-in's Qt log entries go: stderr, one line each, except its
// entry for every frame, which floods the terminal and costs time on the
// SDK's thread, shown only when asked for.
#ifndef KWCAM_MESSAGELOG_H
#define KWCAM_MESSAGELOG_H

#include "commandline.h"

namespace kwcam {

// Quiet keeps only critical and fatal entries; Normal drops the entry per
// frame; Verbose keeps everything. Also sets the tool's own notices.
void installMessageLog(Verbosity verbosity);

// While a progress bar occupies the terminal's last line, log lines first
// clear it so that the two do not mix.
void setStatusLineActive(bool active);

}  // namespace kwcam

#endif  // KWCAM_MESSAGELOG_H
