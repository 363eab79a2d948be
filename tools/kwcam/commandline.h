// The command line of kwcam: commands, their options and the checks on
// option values. Parsing does nothing but fill an Invocation; a wrong command
// line ends in a usage error before any camera is touched.
#ifndef KWCAM_COMMANDLINE_H
#define KWCAM_COMMANDLINE_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include "kwhost/options.h"
#include "kwhost/trigger.h"

namespace kwcam {

enum class Command { List, Grab, Set, Info, Check };

using kwhost::TriggerChoice;

// What reaches stderr besides the tool's errors: Quiet shows nothing else,
// Normal the plug-in's log entries (but its entry per frame) and the
// tool's progress, Verbose also the entry per frame.
enum class Verbosity { Quiet, Normal, Verbose };

struct GrabOptions {
    QString key;                                  // empty: the first camera listed
    quint64 frames = 10;                          // 0: until Ctrl-C, --timeout or --duration
    double durationSeconds = 0;                   // above 0: grab this long, whatever the frame count
    TriggerChoice trigger = TriggerChoice::Free;  // the shared --trigger
    double rateHz = 10.0;                         // triggered modes; 0 in hardware mode: pulses come from outside
    bool exposureGiven = false;
    int exposure = 0;
    bool gainGiven = false;
    int gain = 0;
    bool whiteBalanceGiven = false;
    int whiteBalance[3] = {0, 0, 0};  // red, green, blue ratios
    QString savePath;                 // empty: no frame is saved
    double timeoutSeconds = 10.0;
    bool timeoutGiven = false;  // a continuous grab has no time-out unless given
};

struct SetOptions {
    QString key;
    QString property;  // as typed: exposure, gain, wb-red, wb-green, wb-blue
    int propertyId = 0;
    int value = 0;
};

struct ListOptions {
    bool longFormat = false;  // a row of essentials per camera
};

struct InfoOptions {
    QString key;  // empty: the first camera listed
};

struct Invocation {
    Command command = Command::List;
    // The options every host shares (--plugin, --sdk, --sim, --quiet, -c,
    // --trigger), before the command and after it.
    kwhost::HostOptions host;
    Verbosity verbosity = Verbosity::Normal;
    // check: its own arguments, after the command word.
    QStringList checkArguments;
    ListOptions list;
    GrabOptions grab;
    SetOptions set;
    InfoOptions info;
};

struct ParseResult {
    enum Status { Run, Help, UsageError } status = Run;
    QString text;  // help text for Help, the reason and usage for UsageError
    Invocation invocation;
};

ParseResult parseCommandLine(const QStringList& arguments);

}  // namespace kwcam

#endif  // KWCAM_COMMANDLINE_H
