// The checks of the kit: what a check is, what it gets and what it answers.
//
// Every check runs in a child process of its own (see runner.h), so a check
// may leave threads, handles and memory behind, and a plug-in that crashes or
// hangs costs that one check only.
#ifndef KWCHECK_KIT_H
#define KWCHECK_KIT_H

#include <QtCore/QString>
#include <QtCore/QStringList>

#include <vector>

#include "kwhost/plugin.h"

namespace kwcheck {

class Sim;

enum class Status { Pass, Fail, Skip, Warn };

QString statusName(Status status);  // "pass", "fail", "skip", "warn"

struct Outcome {
    Status status = Status::Pass;
    QString detail;
};

Outcome pass(const QString& detail = QString());
Outcome fail(const QString& detail);
Outcome warn(const QString& detail);
Outcome skip(const QString& detail);

// What a check works with inside its child process.
struct Context {
    const kwhost::Plugin* plugin = nullptr;
    // The camera under test: over the stand-in the kit's fast Mono8 camera,
    // otherwise the KEY given on the command line or the first one listed.
    QString key;
    // The stand-in's control functions; null over any other SDK.
    const Sim* sim = nullptr;
};

using CheckFunction = Outcome (*)(Context& context);

// One case of a check routine that takes more than the context, as a plain
// CheckFunction: withValues<softwareTriggers, 5> runs
// softwareTriggers(context, 5).
template <auto check, auto... values> Outcome withValues(Context& context)
{
    return check(context, values...);
}

struct CheckInfo {
    QString id;  // "group.name"
    QString group;
    // Null when the check runs over any SDK; otherwise what of the stand-in
    // it needs, for the reason of the skip ("the simulator's fault injection").
    const char* needs = nullptr;
    CheckFunction run = nullptr;
};

// All checks, in the order they run.
const std::vector<CheckInfo>& allChecks();
const CheckInfo* findCheck(const QString& id);

// Each group's file adds its checks.
void addLibraryChecks(std::vector<CheckInfo>* checks);
void addStateChecks(std::vector<CheckInfo>* checks);
void addFrameChecks(std::vector<CheckInfo>* checks);
void addTeardownChecks(std::vector<CheckInfo>* checks);
void addPropertyChecks(std::vector<CheckInfo>* checks);
void addFaultChecks(std::vector<CheckInfo>* checks);

// Collects the findings of one check: the first few failures make the detail.
class Verdict {
public:
    // Records a failure with why when ok is false; returns ok.
    bool expect(bool ok, const QString& why);
    void note(const QString& text) { m_notes.append(text); }
    void warnAbout(const QString& text) { m_warnings.append(text); }
    bool failed() const { return !m_failures.isEmpty(); }
    // Fail with the failures, else warn with the warnings, else pass with
    // the notes.
    Outcome outcome() const;

private:
    QStringList m_failures;
    QStringList m_warnings;
    QStringList m_notes;
};

}  // namespace kwcheck

#endif  // KWCHECK_KIT_H
