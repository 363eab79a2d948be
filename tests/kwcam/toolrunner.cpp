#include "toolrunner.h"

#include <QtCore/QProcess>
#include <QtCore/QRegularExpression>
#include <QtCore/QTemporaryDir>

namespace {

// Far beyond any case's need; only a hung tool reaches it.
const int kFinishLimitMs = 60000;

}  // namespace

QString ToolResult::summary(const QString& name) const
{
    const QRegularExpression line(QStringLiteral("^%1: +(.*)$").arg(QRegularExpression::escape(name)),
                                  QRegularExpression::MultilineOption);
    const QRegularExpressionMatch match = line.match(out);
    return match.hasMatch() ? match.captured(1) : QString();
}

QProcessEnvironment toolEnvironment()
{
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("MVSIM_CONFIG"), QStringLiteral(KWCAM_TEST_CONFIG));
    // The configured cameras are held across processes while open: tests
    // running side by side each get a bus of their own.
    static QTemporaryDir runtimeDir;
    environment.insert(QStringLiteral("MVSIM_RUNTIME_DIR"), runtimeDir.path());
    environment.remove(QStringLiteral("KWCAM_PLUGIN"));
    environment.remove(QStringLiteral("QT_FATAL_WARNINGS"));
    return environment;
}

ToolResult runTool(const QStringList& arguments, const QProcessEnvironment& environment)
{
    ToolResult result;
    QProcess process;
    process.setProcessEnvironment(environment);
    process.start(QStringLiteral(KWCAM_TOOL_PATH), arguments);
    if (!process.waitForStarted(kFinishLimitMs))
        return result;
    result.finished = process.waitForFinished(kFinishLimitMs);
    if (!result.finished) {
        process.kill();
        process.waitForFinished(kFinishLimitMs);
    }
    result.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
    result.out = QString::fromLocal8Bit(process.readAllStandardOutput());
    result.err = QString::fromLocal8Bit(process.readAllStandardError());
    return result;
}

QString describe(const QStringList& arguments)
{
    QStringList quoted;
    for (const QString& argument : arguments)
        quoted << (argument.contains(QLatin1Char(' ')) ? QStringLiteral("'%1'").arg(argument) : argument);
    return QStringLiteral("kwcam ") + quoted.join(QLatin1Char(' '));
}
