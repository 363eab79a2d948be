#include "lostframes.h"

#include <QtCore/QStringList>

namespace kwview {

QString LostFrames::text() const
{
    if (source == Source::Unknown)
        return QStringLiteral("unknown");
    QStringList parts;
    for (const auto& fate : byFate) {
        if (fate.second > 0)
            parts << QStringLiteral("%1 %2").arg(fate.first).arg(fate.second);
    }
    if (parts.isEmpty())
        return QString::number(total);
    return QStringLiteral("%1 (%2)").arg(total).arg(parts.join(QStringLiteral(", ")));
}

LostFrames LostFrames::since(const LostFrames& earlier) const
{
    if (earlier.source != source)
        return *this;
    LostFrames result = *this;
    result.total = total >= earlier.total ? total - earlier.total : 0;
    for (int i = 0; i < result.byFate.size() && i < earlier.byFate.size(); ++i) {
        if (earlier.byFate.at(i).first == result.byFate.at(i).first)
            result.byFate[i].second -= qMin(result.byFate.at(i).second, earlier.byFate.at(i).second);
    }
    return result;
}

LostFrames lostFramesOf(const kwhost::FrameFates& fates)
{
    LostFrames lost;
    lost.source = LostFrames::Source::Fates;
    lost.byFate = {qMakePair(QStringLiteral("no free buffer"), static_cast<quint64>(fates.noBuffer)),
                   qMakePair(QStringLiteral("trigger during exposure"), static_cast<quint64>(fates.missed)),
                   qMakePair(QStringLiteral("dropped at stop"), static_cast<quint64>(fates.dropped)),
                   qMakePair(QStringLiteral("unplugged"), static_cast<quint64>(fates.unplugged))};
    for (const auto& fate : lost.byFate)
        lost.total += fate.second;
    return lost;
}

}  // namespace kwview
