#include "runner.h"

#include <QtCore/QStringList>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <vector>

extern char** environ;

namespace kwcheck {

namespace {

QString signalName(int signal)
{
    switch (signal) {
    case SIGSEGV:
        return QStringLiteral("SIGSEGV");
    case SIGABRT:
        return QStringLiteral("SIGABRT");
    case SIGBUS:
        return QStringLiteral("SIGBUS");
    case SIGFPE:
        return QStringLiteral("SIGFPE");
    case SIGILL:
        return QStringLiteral("SIGILL");
    case SIGKILL:
        return QStringLiteral("SIGKILL");
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGPIPE:
        return QStringLiteral("SIGPIPE");
    default:
        return QStringLiteral("signal %1").arg(signal);
    }
}

// The last non-empty line of what the child wrote to stderr, for the detail.
QString lastLine(const QByteArray& text)
{
    const QList<QByteArray> lines = text.split('\n');
    for (auto line = lines.crbegin(); line != lines.crend(); ++line) {
        if (!line->trimmed().isEmpty())
            return QString::fromLocal8Bit(line->trimmed());
    }
    return QString();
}

// Reads what is there; false at the end of the stream.
bool drain(int fd, QByteArray* into, int keep)
{
    char buffer[4096];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) {
        into->append(buffer, static_cast<int>(n));
        if (keep > 0 && into->size() > keep)
            into->remove(0, into->size() - keep);
        return true;
    }
    return n < 0 && (errno == EINTR || errno == EAGAIN);
}

}  // namespace

ChildRun runChild(const QByteArray& program, const QList<QByteArray>& arguments, const QList<QByteArray>& environment,
                  int timeoutMs)
{
    ChildRun run;
    const auto began = std::chrono::steady_clock::now();

    // Everything the child needs is built before the fork: between fork and
    // exec only async-signal-safe calls are made.
    std::vector<QByteArray> storage;
    std::vector<char*> argv;
    storage.push_back(program);
    for (const QByteArray& argument : arguments)
        storage.push_back(argument);
    std::vector<QByteArray> environmentStorage;
    for (char** e = environ; *e != nullptr; ++e) {
        const QByteArray entry(*e);
        const QByteArray name = entry.left(entry.indexOf('=') + 1);
        bool replaced = false;
        for (const QByteArray& extra : environment)
            replaced = replaced || extra.startsWith(name);
        if (!replaced)
            environmentStorage.push_back(entry);
    }
    for (const QByteArray& extra : environment)
        environmentStorage.push_back(extra);
    for (QByteArray& s : storage)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (QByteArray& s : environmentStorage)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    int answerPipe[2];
    int errorPipe[2];
    if (pipe2(answerPipe, O_CLOEXEC) != 0)
        return ChildRun{fail(QStringLiteral("no pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)))), 0, {}};
    if (pipe2(errorPipe, O_CLOEXEC) != 0) {
        close(answerPipe[0]);
        close(answerPipe[1]);
        return ChildRun{fail(QStringLiteral("no pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)))), 0, {}};
    }
    const pid_t pid = fork();
    if (pid == 0) {
        // dup2 clears close-on-exec on the copies.
        dup2(answerPipe[1], kAnswerDescriptor);
        dup2(errorPipe[1], STDERR_FILENO);
        dup2(errorPipe[1], STDOUT_FILENO);
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    close(answerPipe[1]);
    close(errorPipe[1]);
    if (pid < 0) {
        close(answerPipe[0]);
        close(errorPipe[0]);
        return ChildRun{
            fail(QStringLiteral("cannot start a child: %1").arg(QString::fromLocal8Bit(strerror(errno)))), 0, {}};
    }

    QByteArray answer;
    QByteArray errors;
    bool answerOpen = true;
    bool errorsOpen = true;
    bool timedOut = false;
    const auto deadline = began + std::chrono::milliseconds(timeoutMs);
    while (answerOpen || errorsOpen) {
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            timedOut = true;
            break;
        }
        pollfd fds[2] = {{answerOpen ? answerPipe[0] : -1, POLLIN, 0}, {errorsOpen ? errorPipe[0] : -1, POLLIN, 0}};
        const int ready = poll(fds, 2, static_cast<int>(left.count()));
        if (ready < 0 && errno != EINTR)
            break;
        if (answerOpen && fds[0].revents != 0)
            answerOpen = drain(answerPipe[0], &answer, 0);
        if (errorsOpen && fds[1].revents != 0)
            errorsOpen = drain(errorPipe[0], &errors, 8192);
    }
    if (timedOut)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {}
    close(answerPipe[0]);
    close(errorPipe[0]);
    run.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();

    for (const QByteArray& line : answer.split('\n')) {
        const int space = line.indexOf(' ');
        if (space > 0)
            run.answer.insert(QString::fromUtf8(line.left(space)), QString::fromUtf8(line.mid(space + 1)));
        else if (!line.isEmpty())
            run.answer.insert(QString::fromUtf8(line), QString());
    }
    const QString statusText = run.answer.value(QStringLiteral("status"));
    const QString detail = run.answer.value(QStringLiteral("detail"));
    const QString said = lastLine(errors);

    if (timedOut) {
        run.outcome = fail(statusText.isEmpty()
                               ? QStringLiteral("no answer in %1 s").arg(timeoutMs / 1000.0)
                               : QStringLiteral("answered, then did not end within %1 s").arg(timeoutMs / 1000.0));
    } else if (WIFSIGNALED(status)) {
        const QString how = QStringLiteral("crashed: %1").arg(signalName(WTERMSIG(status)));
        // A crash after the answer (at exit, in an unload) fails the check too.
        run.outcome = fail(statusText.isEmpty() ? how : how + QStringLiteral(" after the check"));
        if (!said.isEmpty())
            run.outcome.detail += QStringLiteral(" (last message: %1)").arg(said);
    } else if (statusText.isEmpty()) {
        const int code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
        run.outcome = fail(code == 127 ? QStringLiteral("the child could not be started")
                                       : QStringLiteral("exited with code %1 without an answer").arg(code));
        if (!said.isEmpty())
            run.outcome.detail += QStringLiteral(" (last message: %1)").arg(said);
    } else {
        run.outcome = fail(QStringLiteral("the child answered with the status \"%1\"").arg(statusText));
        for (Status s : {Status::Pass, Status::Fail, Status::Skip, Status::Warn}) {
            if (statusName(s) == statusText)
                run.outcome = Outcome{s, detail};
        }
    }
    return run;
}

void writeAnswer(const QString& name, const QString& value)
{
    QString flat = value;
    flat.replace(QLatin1Char('\n'), QLatin1Char(' '));
    const QByteArray line = name.toUtf8() + ' ' + flat.toUtf8() + '\n';
    const char* p = line.constData();
    size_t left = static_cast<size_t>(line.size());
    while (left > 0) {
        const ssize_t n = write(kAnswerDescriptor, p, left);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return;
        p += n;
        left -= static_cast<size_t>(n);
    }
}

}  // namespace kwcheck
