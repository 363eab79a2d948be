// The options every host shares, declared and read in one place so that they
// mean the same in kwcam, the viewer and the kit:
//   --plugin PATH      the plug-in library
//   --sdk sim|genicam|PATH, --sim (short for --sdk sim)
//                      the camera SDK the plug-in binds to; $KWCAM_SDK takes
//                      the same values
//   --quiet            only errors on stderr
//   -c, --camera CAMERA  a camera by index or by a part of its key
//   --trigger MODE     free, hardware or software
// The first three go before a command and after it; -c where a command
// chooses a camera, --trigger where it starts one.
#ifndef KWHOST_OPTIONS_H
#define KWHOST_OPTIONS_H

#include <QtCore/QCommandLineOption>
#include <QtCore/QCommandLineParser>
#include <QtCore/QList>
#include <QtCore/QString>

#include "kwhost/trigger.h"

namespace kwhost {

enum class SdkKind {
    Default,    // $KWCAM_SDK, else the one the system's loader finds
    Simulator,  // the stand-in installed beside the plug-in
    GenICam,    // the GenICam SDK installed beside the plug-in
    Path,       // a library file
};

struct SdkChoice {
    SdkKind kind = SdkKind::Default;
    QString path;  // for Path
};

// "sim", "genicam" or the path of an SDK library, as --sdk and $KWCAM_SDK
// take them; false with the reason for an empty word.
bool sdkFromWord(const QString& word, SdkChoice* choice, QString* error);
// The word that gives choice back ("sim", "genicam", the path); empty for
// Default. For hosts that hand their choice on to a child process.
QString sdkWord(const SdkChoice& choice);

struct HostOptions {
    QString pluginPath;  // empty: search the usual places (see Plugin::load)
    SdkChoice sdk;
    bool quiet = false;
    QString camera;  // -c as given; null when not given
    TriggerChoice trigger = TriggerChoice::Free;
    bool triggerGiven = false;
};

// The groups of shared options a command line offers.
enum HostOptionGroup : unsigned {
    kLoadOptions = 1,    // --plugin, --sdk, --sim, --quiet
    kCameraOption = 2,   // -c / --camera
    kTriggerOption = 4,  // --trigger
};

QList<QCommandLineOption> hostOptions(unsigned groups);

// A number option's value: a finite number from low to high (NaN and the
// infinities are refused, whatever the range).
bool parseNumber(const QString& text, double low, double high, double* out);

// Reads the options of groups that parser found into options; what is given
// here replaces what an earlier parser (the options before a command) put
// there. False with the reason of a usage error.
bool readHostOptions(const QCommandLineParser& parser, unsigned groups, HostOptions* options, QString* error);

}  // namespace kwhost

#endif  // KWHOST_OPTIONS_H
