#include "kwhost/losses.h"

#include <QtCore/QStringList>

#include "kwhost/sdkcontrol.h"

namespace kwhost {

QString Losses::text() const
{
    switch (source) {
    case Source::Unknown:
        return QStringLiteral("unknown");
    case Source::FrameNumbers:
        return QStringLiteral("%1 (gaps in frame numbers)").arg(lost);
    case Source::Counters:
    case Source::Ledger:
        break;
    }
    QStringList counted;
    QStringList apart;
    for (const LossCause& cause : causes) {
        if (cause.count > 0)
            (cause.countsAsLost ? counted : apart) << QStringLiteral("%1 %2").arg(cause.count).arg(cause.name);
    }
    QString detail = QStringLiteral("SDK counters");
    if (!counted.isEmpty())
        detail += QStringLiteral(": ") + counted.join(QStringLiteral(", "));
    if (!apart.isEmpty())
        detail += QStringLiteral("; not lost: ") + apart.join(QStringLiteral(", "));
    return QStringLiteral("%1 (%2)").arg(lost).arg(detail);
}

Losses Losses::since(const Losses& earlier) const
{
    if (earlier.source != source || source == Source::Unknown)
        return *this;
    Losses result = *this;
    result.lost = lost >= earlier.lost ? lost - earlier.lost : 0;
    for (int i = 0; i < result.causes.size() && i < earlier.causes.size(); ++i) {
        LossCause& cause = result.causes[i];
        if (earlier.causes.at(i).name == cause.name)
            cause.count -= qMin(cause.count, earlier.causes.at(i).count);
    }
    return result;
}

Losses Losses::withEndingFrom(const Losses& later) const
{
    Losses result = *this;
    if (later.source != source)
        return result;
    for (int i = 0; i < result.causes.size() && i < later.causes.size(); ++i) {
        LossCause& cause = result.causes[i];
        if (!cause.countsAsLost && later.causes.at(i).name == cause.name)
            cause.count = later.causes.at(i).count;
    }
    return result;
}

Losses sdkLosses(const SdkControl& sdk, int device)
{
    Losses losses;
    QVector<quint64> counts;
    if (sdk.fateCounts(device, &counts)) {
        losses.source = Losses::Source::Ledger;
        for (int fate = 0; fate < counts.size(); ++fate) {
            LossCause cause;
            if (fate == MVSIM_FATE_PENDING || fate == MVSIM_FATE_DELIVERED ||
                !sdk.fateInfo(static_cast<unsigned int>(fate), &cause.name, &cause.countsAsLost))
                continue;
            cause.count = counts.at(fate);
            if (cause.countsAsLost)
                losses.lost += cause.count;
            losses.causes.append(cause);
        }
        return losses;
    }
    MvsimCounters counters;
    if (sdk.counters(device, &counters)) {
        losses.source = Losses::Source::Counters;
        losses.lost = counters.lost;
    }
    return losses;
}

Losses lossesFromFrameNumbers(quint64 missing)
{
    Losses losses;
    losses.source = Losses::Source::FrameNumbers;
    losses.lost = missing;
    return losses;
}

LossWatch::LossWatch(const SdkControl& sdk, int device) : m_sdk(&sdk), m_device(device)
{}

void LossWatch::begin()
{
    m_atBegin = sdkLosses(*m_sdk, m_device);
}

Losses LossWatch::sinceBegin(bool numbered, quint64 missing) const
{
    if (m_atBegin.source != Losses::Source::Unknown) {
        const Losses now = sdkLosses(*m_sdk, m_device);
        if (now.source == m_atBegin.source)
            return now.since(m_atBegin);
    }
    return numbered ? lossesFromFrameNumbers(missing) : Losses();
}

}  // namespace kwhost
