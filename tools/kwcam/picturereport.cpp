#include "picturereport.h"

#include <QtCore/QFileInfo>
#include <QtCore/QStringList>

#include <chrono>
#include <vector>

#include <dlfcn.h>

#include "mvsim/control.h"

namespace kwcam {

namespace {

template <typename Function> Function lookUp(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

// "0-9, 0-1, 4": runs of consecutive picture indices.
QString runsOf(const std::vector<unsigned>& pictures)
{
    QStringList runs;
    for (std::size_t i = 0; i < pictures.size();) {
        std::size_t j = i;
        while (j + 1 < pictures.size() && pictures[j + 1] == pictures[j] + 1)
            ++j;
        runs << (i == j ? QString::number(pictures[i]) : QStringLiteral("%1-%2").arg(pictures[i]).arg(pictures[j]));
        i = j + 1;
    }
    return runs.join(QStringLiteral(", "));
}

}  // namespace

qint64 steadyNowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

QString picturesReceived(int device, qint64 sinceNs)
{
    using LedgerSize = int (*)(int);
    using LedgerEntry = int (*)(int, int, MvsimLedgerEntry*);
    using PictureCount = int (*)(int);
    using PictureName = int (*)(int, int, char*, size_t);
    const auto size = lookUp<LedgerSize>("MVSIM_LedgerSize");
    const auto entry = lookUp<LedgerEntry>("MVSIM_LedgerEntry");
    const auto count = lookUp<PictureCount>("MVSIM_PictureCount");
    const auto name = lookUp<PictureName>("MVSIM_PictureName");
    if (!size || !entry || !count || !name || device < 0)
        return QString();
    const int pictures = count(device);
    if (pictures <= 0)
        return QString();

    std::vector<unsigned> received;
    const int entries = size(device);
    for (int i = 0; i < entries; ++i) {
        MvsimLedgerEntry e{};
        if (entry(device, i, &e) == MVSIM_OK && e.fate == MVSIM_FATE_DELIVERED && e.triggerTime >= sinceNs)
            received.push_back(e.pictureIndex);
    }
    auto fileOf = [&](int index) {
        char buffer[4096];
        return name(device, index, buffer, sizeof buffer) >= 0 ? QString::fromUtf8(buffer) : QString();
    };
    const QFileInfo first(fileOf(0));
    QString text = QStringLiteral("%1 frames").arg(received.size());
    if (!received.empty())
        text += QStringLiteral(": pictures %1").arg(runsOf(received));
    text += QStringLiteral(" of %1 (%2").arg(pictures).arg(first.fileName());
    if (pictures > 1)
        text += QStringLiteral(" to %1").arg(QFileInfo(fileOf(pictures - 1)).fileName());
    return text + QStringLiteral(") in %1").arg(first.absolutePath());
}

}  // namespace kwcam
