// The kit's report: a table on the terminal, row by row as checks finish,
// and a JSON file for tools.
#ifndef KWCHECK_REPORT_H
#define KWCHECK_REPORT_H

#include <QtCore/QString>
#include <QtCore/QTextStream>

#include <vector>

#include "kit.h"
#include "kwhost/losses.h"

namespace kwcheck {

struct Row {
    const CheckInfo* check = nullptr;
    Outcome outcome;
    double seconds = 0;
};

struct Report {
    QString plugin;
    QString sdk;
    QString camera;
    std::vector<Row> rows;
    double seconds = 0;

    int count(Status status) const;
};

// Frames lost as the kit's report states them: "frames lost: " and the
// losses as every host prints them.
QString lossesNote(const kwhost::Losses& losses);

void printHeader(QTextStream& out, const Report& report);
void printRow(QTextStream& out, const Row& row);
void printSummary(QTextStream& out, const Report& report);

// False with the reason when the file cannot be written.
bool writeJson(const QString& path, const Report& report, QString* error);

}  // namespace kwcheck

#endif  // KWCHECK_REPORT_H
