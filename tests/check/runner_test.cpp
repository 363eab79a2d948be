// The kit's child runner: whatever a child does (answers, crashes, exits
// without answering, hangs, cannot start), the outcome names it, and the
// kit goes on.
#include <gtest/gtest.h>

#include "runner.h"

namespace {

using kwcheck::Status;

struct ChildCase {
    const char* name;
    const char* script;  // run by /bin/sh; descriptor 3 takes the answer
    int timeoutMs;
    Status status;
    const char* detail;  // the outcome's detail starts with it
};

void PrintTo(const ChildCase& c, std::ostream* os)
{
    *os << c.name;
}

class ChildRunner : public ::testing::TestWithParam<ChildCase> {};

TEST_P(ChildRunner, NamesWhatTheChildDid)
{
    const ChildCase& c = GetParam();
    const kwcheck::ChildRun run =
        kwcheck::runChild("/bin/sh", {"-c", c.script}, {"KWCHECK_TEST_WORD=handed-over"}, c.timeoutMs);
    EXPECT_EQ(kwcheck::statusName(run.outcome.status), kwcheck::statusName(c.status));
    EXPECT_TRUE(run.outcome.detail.startsWith(QString::fromUtf8(c.detail))) << run.outcome.detail.toStdString();
    EXPECT_GE(run.seconds, 0.0);
}

INSTANTIATE_TEST_SUITE_P(
    Children, ChildRunner,
    ::testing::Values(
        ChildCase{"answer", "echo 'detail all fine' >&3; echo 'status pass' >&3", 10000, Status::Pass, "all fine"},
        ChildCase{"warning", "echo 'detail look here' >&3; echo 'status warn' >&3", 10000, Status::Warn, "look here"},
        ChildCase{"environment", "echo \"detail $KWCHECK_TEST_WORD\" >&3; echo 'status skip' >&3", 10000, Status::Skip,
                  "handed-over"},
        ChildCase{"unknown_status", "echo 'status maybe' >&3", 10000, Status::Fail,
                  "the child answered with the status \"maybe\""},
        ChildCase{"abort", "kill -ABRT $$", 10000, Status::Fail, "crashed: SIGABRT"},
        ChildCase{"crash_after_answer", "echo 'status pass' >&3; kill -SEGV $$", 10000, Status::Fail,
                  "crashed: SIGSEGV after the check"},
        ChildCase{"silent_exit", "echo 'last words' >&2; exit 3", 10000, Status::Fail,
                  "exited with code 3 without an answer (last message: last words)"},
        ChildCase{"hang", "exec sleep 30", 300, Status::Fail, "no answer in 0.3 s"},
        ChildCase{"hang_after_answer", "echo 'status pass' >&3; exec sleep 30", 300, Status::Fail,
                  "answered, then did not end within 0.3 s"}),
    [](const ::testing::TestParamInfo<ChildCase>& info) { return std::string(info.param.name); });

TEST(ChildRunnerStart, AProgramThatCannotRunIsAFailedCheck)
{
    const kwcheck::ChildRun run = kwcheck::runChild("/nonexistent/program", {}, {}, 10000);
    EXPECT_EQ(run.outcome.status, Status::Fail);
    EXPECT_EQ(run.outcome.detail, QStringLiteral("the child could not be started"));
}

}  // namespace
