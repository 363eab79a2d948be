#include "output.h"

#include <cstdio>

namespace kwcam {

void writeStderr(const QByteArray& bytes)
{
    fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    fflush(stderr);
}

void printError(const QString& text)
{
    writeStderr((QStringLiteral("kwcam: ") + text + QLatin1Char('\n')).toLocal8Bit());
}

}  // namespace kwcam
