// Runs the built kwcam as a separate process over the test configuration.
#ifndef KWCAM_TESTS_TOOLRUNNER_H
#define KWCAM_TESTS_TOOLRUNNER_H

#include <QtCore/QProcessEnvironment>
#include <QtCore/QString>
#include <QtCore/QStringList>

struct ToolResult {
    bool finished = false;  // false: it did not end within the generous limit
    int exitCode = -1;
    QString out;
    QString err;

    // The value of the summary line "name: value", or a null string.
    QString summary(const QString& name) const;
};

// The environment every case starts from: the stand-in reads the test
// configuration, and no plug-in is forced through the environment.
QProcessEnvironment toolEnvironment();

ToolResult runTool(const QStringList& arguments, const QProcessEnvironment& environment = toolEnvironment());

// A quoted copy of the command line, for failure messages.
QString describe(const QStringList& arguments);

#endif  // KWCAM_TESTS_TOOLRUNNER_H
