// The Qt message log of the plug-in inside a GStreamer process: its entries
// go to the element's debug category instead of stderr (gst-launch-1.0 has
// no QCoreApplication and no message handler of its own), the per-frame
// entry at the LOG level. A handler the application installed before keeps
// every entry.
#ifndef KWGST_QTLOG_H
#define KWGST_QTLOG_H

#include <QtCore/QString>

namespace kwgst {

// Once, when the GStreamer plug-in is loaded.
void installQtLog();

// Records a warning of the plug-in's for the capture of this thread.
void noteWarning(const QString& message);

// The last warning the plug-in logged on this thread while the capture
// lived: the reason an operation of the contract failed, which it reports
// only as a result.
class WarningCapture {
public:
    WarningCapture();
    ~WarningCapture();
    WarningCapture(const WarningCapture&) = delete;
    WarningCapture& operator=(const WarningCapture&) = delete;
    QString last() const { return m_last; }

private:
    friend void noteWarning(const QString& message);
    WarningCapture* m_outer;
    QString m_last;
};

}  // namespace kwgst

#endif  // KWGST_QTLOG_H
