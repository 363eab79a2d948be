// Runs one check in a child process: the kwcam binary itself, exec'd with
// the hidden "check --run-one" mode, so the child starts clean (no threads or
// Qt state copied by fork). The child answers on a pipe of its own; a child
// that crashes, aborts, exits without answering or outlives its time-out
// (then killed) is a failed check with the reason.
#ifndef KWCHECK_RUNNER_H
#define KWCHECK_RUNNER_H

#include <QtCore/QByteArray>
#include <QtCore/QList>
#include <QtCore/QMultiMap>
#include <QtCore/QString>

#include "kit.h"

namespace kwcheck {

// The descriptor the child writes its answer to.
const int kAnswerDescriptor = 3;

struct ChildRun {
    Outcome outcome;
    double seconds = 0;
    // The child's answer: "name value" lines (status, detail, sdk, key).
    QMultiMap<QString, QString> answer;
};

// environment: NAME=VALUE entries set in the child on top of the parent's.
ChildRun runChild(const QByteArray& program, const QList<QByteArray>& arguments, const QList<QByteArray>& environment,
                  int timeoutMs);

// In the child: one "name value" line of the answer (value on one line).
void writeAnswer(const QString& name, const QString& value);

}  // namespace kwcheck

#endif  // KWCHECK_RUNNER_H
