// The viewer's Qt message handler: every entry goes on to stderr as before
// (not those of Qt's own libraries, nor, when quiet, the plug-in's news),
// and the newest warning is kept for the status line. The plug-in's entry
// for every frame is neither printed nor kept: it says nothing new, and at
// thousands of frames a second it would flood both.
//
// Entries come from any thread (the plug-in logs on the SDK's thread); the
// kept text is guarded by a mutex held only to copy it.
#ifndef KWVIEW_WARNINGLOG_H
#define KWVIEW_WARNINGLOG_H

#include <QtCore/QString>

namespace kwview {

void installWarningLog();
// Quiet: only warnings and worse reach stderr (they are still kept).
void setQuietLog(bool quiet);
// The newest warning or critical entry that carries a source file (the
// plug-in's do; those of Qt's own libraries do not), empty when there was
// none; count rises by one per entry kept.
QString lastWarning(quint64* count = nullptr);

}  // namespace kwview

#endif  // KWVIEW_WARNINGLOG_H
