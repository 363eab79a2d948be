#include "picturereport.h"

#include <QtCore/QFileInfo>
#include <QtCore/QStringList>

#include <chrono>
#include <vector>

#include "kwhost/sdkcontrol.h"

namespace kwcam {

namespace {

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

QString picturesReceived(const kwhost::SdkControl& sdk, int device, qint64 sinceNs)
{
    const QStringList names = sdk.pictureNames(device);
    const int pictures = names.size();
    if (pictures <= 0)
        return QString();

    std::vector<unsigned> received;
    for (const MvsimLedgerEntry& e : sdk.ledger(device)) {
        if (e.fate == MVSIM_FATE_DELIVERED && e.triggerTime >= sinceNs)
            received.push_back(e.pictureIndex);
    }
    const QFileInfo first(names.first());
    QString text = QStringLiteral("%1 frames").arg(received.size());
    if (!received.empty())
        text += QStringLiteral(": pictures %1").arg(runsOf(received));
    text += QStringLiteral(" of %1 (%2").arg(pictures).arg(first.fileName());
    if (pictures > 1)
        text += QStringLiteral(" to %1").arg(QFileInfo(names.last()).fileName());
    return text + QStringLiteral(") in %1").arg(first.absolutePath());
}

}  // namespace kwcam
