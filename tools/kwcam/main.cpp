// kwcam: a command-line host for camera plug-ins.
#include <QtCore/QCoreApplication>
#include <QtCore/QTextStream>

#include <cstdio>

#include "commandline.h"
#include "commands.h"
#include "exitcodes.h"
#include "kwcheck/check.h"
#include "messagelog.h"

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("kwcam"));
    QCoreApplication::setApplicationVersion(QStringLiteral(KWCAM_VERSION));
    kwcam::installMessageLog(kwcam::Verbosity::Normal);

    const kwcam::ParseResult parsed = kwcam::parseCommandLine(QCoreApplication::arguments());
    switch (parsed.status) {
    case kwcam::ParseResult::Help:
        QTextStream(stdout) << parsed.text;
        return kwcam::kExitSuccess;
    case kwcam::ParseResult::UsageError:
        QTextStream(stderr) << parsed.text;
        return kwcam::kExitUsage;
    case kwcam::ParseResult::Run:
        break;
    }
    kwcam::installMessageLog(parsed.invocation.verbosity);

    switch (parsed.invocation.command) {
    case kwcam::Command::List:
        return kwcam::runList(parsed.invocation);
    case kwcam::Command::Grab:
        return kwcam::runGrab(parsed.invocation);
    case kwcam::Command::Set:
        return kwcam::runSet(parsed.invocation);
    case kwcam::Command::Info:
        return kwcam::runInfo(parsed.invocation);
    case kwcam::Command::Check:
        // The conformance kit reads a command line of its own.
        return kwcheck::runCheckCommand(parsed.invocation.checkArguments, parsed.invocation.host);
    }
    return kwcam::kExitUsage;
}
