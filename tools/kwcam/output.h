// Everything kwcam writes on stderr goes through here: one write per line,
// so that lines from the SDK's thread and the main thread do not interleave.
#ifndef KWCAM_OUTPUT_H
#define KWCAM_OUTPUT_H

#include <QtCore/QByteArray>
#include <QtCore/QString>

namespace kwcam {

// Writes bytes to stderr as they are, in one write, and flushes.
void writeStderr(const QByteArray& bytes);
// "kwcam: <text>" and a line end: the tool's errors, always shown.
void printError(const QString& text);
// The same for what is no error (what the tool is doing, progress); not
// shown with --quiet.
void printNotice(const QString& text);
void setNoticesShown(bool shown);
bool noticesShown();

}  // namespace kwcam

#endif  // KWCAM_OUTPUT_H
