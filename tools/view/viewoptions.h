// kwcam-view's command line.
#ifndef KWVIEW_VIEWOPTIONS_H
#define KWVIEW_VIEWOPTIONS_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include "camerasession.h"
#include "frameconvert.h"
#include "kwhost/options.h"

namespace kwview {

struct ViewOptions {
    QString key;  // empty: the first camera listed (or the one -c names)
    // The options every host shares: plug-in, SDK, --quiet, -c, --trigger.
    kwhost::HostOptions host;
    DisplayOptions display;
    double zoom = 0;  // 0: fit to the window
    QString screenshotPath;
    quint64 screenshotAfter = 1;
    double timeoutSeconds = 10;
};

enum class ParseOutcome { Run, Help, Error };

// On Help, text is the help; on Error, the reason and a hint.
ParseOutcome parseViewOptions(const QStringList& arguments, ViewOptions* options, QString* text);

}  // namespace kwview

#endif  // KWVIEW_VIEWOPTIONS_H
