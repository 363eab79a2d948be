// Where the plug-in's Qt log entries go: stderr, one line each, except its
// entry for every frame, which floods the terminal and costs time on the
// SDK's thread, shown only when asked for.
#ifndef KWCAM_MESSAGELOG_H
#define KWCAM_MESSAGELOG_H

namespace kwcam {

void installMessageLog(bool showFrameEntries);

// While a progress bar occupies the terminal's last line, log lines first
// clear it so that the two do not mix.
void setStatusLineActive(bool active);

}  // namespace kwcam

#endif  // KWCAM_MESSAGELOG_H
