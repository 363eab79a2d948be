#include "lostframes.h"

#include <QtCore/QStringList>

#include <dlfcn.h>
#include <vector>

namespace kwview {

namespace {

template <typename Function>
Function lookUp(const char* name)
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

FateLedger::FateLedger()
    : m_count(lookUp<FateCount>("MVSIM_FateCount")),
      m_name(lookUp<FateName>("MVSIM_FateName")),
      m_counts(lookUp<GetFateCounts>("MVSIM_GetFateCounts"))
{
}

bool FateLedger::read(int device, LostFrames* lost) const
{
    if (!available() || device < 0)
        return false;
    const int fates = m_count();
    if (fates <= 0 || fates > 64)
        return false;
    std::vector<unsigned long long> counts(static_cast<size_t>(fates), 0);
    const int written = m_counts(device, counts.data(), fates);
    if (written < 0)
        return false;
    lost->source = LostFrames::Source::Fates;
    lost->total = 0;
    lost->byFate.clear();
    for (int fate = 0; fate < written && fate < fates; ++fate) {
        const char* name = m_name(fate);
        const QString text = name != nullptr ? QString::fromUtf8(name) : QString::number(fate);
        // Delivery is the one fate that loses nothing.
        if (text == QLatin1String("delivered"))
            continue;
        lost->byFate.append(qMakePair(text, static_cast<quint64>(counts[static_cast<size_t>(fate)])));
        lost->total += counts[static_cast<size_t>(fate)];
    }
    return true;
}

}  // namespace kwview
