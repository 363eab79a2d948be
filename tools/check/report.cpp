#include "report.h"

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSaveFile>

namespace kwcheck {

namespace {

const int kIdWidth = 38;

QString duration(double seconds)
{
    return seconds < 1 ? QStringLiteral("%1 ms").arg(seconds * 1000, 0, 'f', 0)
                       : QStringLiteral("%1 s").arg(seconds, 0, 'f', 2);
}

}  // namespace

int Report::count(Status status) const
{
    int n = 0;
    for (const Row& row : rows)
        n += row.outcome.status == status ? 1 : 0;
    return n;
}

QString lossesNote(const kwhost::Losses& losses)
{
    return QStringLiteral("frames lost: %1").arg(losses.text());
}

void printHeader(QTextStream& out, const Report& report)
{
    out << "plug-in: " << report.plugin << '\n'
        << "SDK:     " << report.sdk << '\n'
        << "camera:  " << (report.camera.isEmpty() ? QStringLiteral("(none listed)") : report.camera) << "\n\n";
    out << QStringLiteral("check").leftJustified(kIdWidth) << ' ' << QStringLiteral("status") << ' '
        << QStringLiteral("time").rightJustified(8) << "  detail\n";
    out.flush();
}

void printRow(QTextStream& out, const Row& row)
{
    out << row.check->id.leftJustified(kIdWidth) << ' ' << statusName(row.outcome.status).leftJustified(6) << ' '
        << duration(row.seconds).rightJustified(8) << "  " << row.outcome.detail << '\n';
    out.flush();
}

void printSummary(QTextStream& out, const Report& report)
{
    out << "\nsummary: " << report.rows.size() << " checks in " << duration(report.seconds) << ": "
        << report.count(Status::Pass) << " pass, " << report.count(Status::Fail) << " fail, "
        << report.count(Status::Warn) << " warn, " << report.count(Status::Skip) << " skip\n";
    out.flush();
}

bool writeJson(const QString& path, const Report& report, QString* error)
{
    QJsonArray checks;
    for (const Row& row : report.rows) {
        checks.append(QJsonObject{
            {"id", row.check->id},
            {"group", row.check->group},
            {"status", statusName(row.outcome.status)},
            {"detail", row.outcome.detail},
            {"duration", row.seconds},
        });
    }
    const QJsonObject summary{
        {"total", static_cast<int>(report.rows.size())},
        {"pass", report.count(Status::Pass)},
        {"fail", report.count(Status::Fail)},
        {"warn", report.count(Status::Warn)},
        {"skip", report.count(Status::Skip)},
        {"duration", report.seconds},
    };
    const QJsonObject document{
        {"plugin", report.plugin}, {"sdk", report.sdk},  {"camera", report.camera},
        {"checks", checks},        {"summary", summary},
    };
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(QJsonDocument(document).toJson()) < 0 || !file.commit()) {
        *error = QStringLiteral("cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

}  // namespace kwcheck
