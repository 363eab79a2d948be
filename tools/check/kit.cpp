#include "kit.h"

namespace kwcheck {

QString statusName(Status status)
{
    switch (status) {
    case Status::Pass:
        return QStringLiteral("pass");
    case Status::Fail:
        return QStringLiteral("fail");
    case Status::Skip:
        return QStringLiteral("skip");
    case Status::Warn:
        return QStringLiteral("warn");
    }
    return QStringLiteral("fail");
}

Outcome pass(const QString& detail)
{
    return Outcome{Status::Pass, detail};
}

Outcome fail(const QString& detail)
{
    return Outcome{Status::Fail, detail};
}

Outcome warn(const QString& detail)
{
    return Outcome{Status::Warn, detail};
}

Outcome skip(const QString& detail)
{
    return Outcome{Status::Skip, detail};
}

bool Verdict::expect(bool ok, const QString& why)
{
    if (!ok)
        m_failures.append(why);
    return ok;
}

Outcome Verdict::outcome() const
{
    // The first failures tell the story; later ones mostly follow from them.
    const int shown = 3;
    if (!m_failures.isEmpty()) {
        QStringList first = m_failures.mid(0, shown);
        if (m_failures.size() > shown)
            first.append(QStringLiteral("%1 more").arg(m_failures.size() - shown));
        return fail(first.join(QStringLiteral("; ")));
    }
    if (!m_warnings.isEmpty())
        return warn(m_warnings.join(QStringLiteral("; ")));
    return pass(m_notes.join(QStringLiteral("; ")));
}

const std::vector<CheckInfo>& allChecks()
{
    static const std::vector<CheckInfo> checks = [] {
        std::vector<CheckInfo> list;
        addLibraryChecks(&list);
        addStateChecks(&list);
        addFrameChecks(&list);
        addTeardownChecks(&list);
        addPropertyChecks(&list);
        addFaultChecks(&list);
        return list;
    }();
    return checks;
}

const CheckInfo* findCheck(const QString& id)
{
    for (const CheckInfo& check : allChecks()) {
        if (check.id == id)
            return &check;
    }
    return nullptr;
}

}  // namespace kwcheck
