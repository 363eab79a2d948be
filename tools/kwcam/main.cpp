// kwcam: a command-line host for camera plug-ins.
#include <QtCore/QCoreApplication>
#include <QtCore/QTextStream>

#include <cerrno>
#include <cstdio>

#include "commandline.h"
#include "commands.h"
#include "exitcodes.h"
#include "kwcheck/check.h"
#include "kwhost/imagewriter.h"
#include "messagelog.h"
#include "output.h"

namespace {

int runCommand(const kwcam::ParseResult& parsed)
{
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

// What the command printed must have reached its reader: a full disk or a
// closed pipe behind stdout is a failure, not a success.
int checkedStdout(int code)
{
    errno = 0;
    if (fflush(stdout) == 0 && !ferror(stdout))
        return code;
    const int error = errno;
    kwcam::printError(QStringLiteral("cannot write to the standard output: %1")
                          .arg(error != 0 ? kwhost::describeErrno(error) : QStringLiteral("write error")));
    return code == kwcam::kExitSuccess ? kwcam::kExitFailure : code;
}

}  // namespace

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
        return checkedStdout(kwcam::kExitSuccess);
    case kwcam::ParseResult::UsageError:
        QTextStream(stderr) << parsed.text;
        return kwcam::kExitUsage;
    case kwcam::ParseResult::Run:
        break;
    }
    kwcam::installMessageLog(parsed.invocation.verbosity);

    return checkedStdout(runCommand(parsed));
}
