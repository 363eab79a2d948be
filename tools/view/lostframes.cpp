#include "lostframes.h"

#include <QtCore/QStringList>

#include <dlfcn.h>

namespace kwview {

namespace {

template <typename Function> Function lookUp(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

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

FateLedger::FateLedger() : m_fates(lookUp<GetFrameFates>("MVSIM_GetFrameFates"))
{}

bool FateLedger::read(int device, LostFrames* lost) const
{
    FateCounts counts = {};
    if (m_fates == nullptr || device < 0 || m_fates(device, &counts) != 0)
        return false;
    // Delivered frames and frames made while no callback was registered
    // are not the host's losses.
    lost->source = LostFrames::Source::Fates;
    lost->byFate = {qMakePair(QStringLiteral("no buffer"), static_cast<quint64>(counts.noBuffer)),
                    qMakePair(QStringLiteral("missed trigger"), static_cast<quint64>(counts.missed)),
                    qMakePair(QStringLiteral("dropped at stop"), static_cast<quint64>(counts.dropped)),
                    qMakePair(QStringLiteral("unplugged"), static_cast<quint64>(counts.unplugged))};
    lost->total = 0;
    for (const auto& fate : lost->byFate)
        lost->total += fate.second;
    return true;
}

}  // namespace kwview
