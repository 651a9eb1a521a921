// The checks that every run of tolm passes through must be able to fail:
// a sanitizer report in the program's output, and a temporary directory
// the program left behind.
#include "fake_server.h"
#include "pty_run.h"

#include <csignal>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tolmtest;

namespace {

RunOptions shell(const std::string& script) {
    RunOptions o;
    o.binary = "/bin/sh";
    o.args = {"-c", script};
    return o;
}

TEST(HarnessCheckTest, SanitizerReportFailsTheTest) {
    PtyRun clean(shell("echo fine >&2"));
    ASSERT_TRUE(clean.wait_exit());
    EXPECT_EQ(clean.sanitizer_report(), "");
    EXPECT_NONFATAL_FAILURE(
        {
            PtyRun run(shell("echo 'x.cpp:3: runtime error: overflow' >&2"));
            run.wait_exit();
        },
        "sanitizer report");
    EXPECT_NONFATAL_FAILURE(
        {
            PtyRun run(shell("echo 'ERROR: AddressSanitizer: heap-use-after-free' >/dev/tty"));
            run.wait_exit();
        },
        "sanitizer report");
}

// Wherever the checkout lies, each test process has a /tmp of its own
// where the system lets it make one: the watch is then never blind.
TEST(HarnessCheckTest, PrivateTmpWhereverTheSystemAllowsOne) {
    // The powers the harness needs, tried in a child of this process.
    pid_t pid = fork();
    if (pid == 0)
        _exit(unshare(CLONE_NEWNS) == 0 || unshare(CLONE_NEWUSER | CLONE_NEWNS) == 0 ? 0 : 1);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) GTEST_SKIP() << "no mount namespace here";
    EXPECT_TRUE(has_private_tmp()) << "binary " << TOLM_BINARY << ", checkout " << TOLM_SOURCE_DIR;
    EXPECT_EQ(access(TOLM_BINARY, X_OK), 0);
}

// A tolm killed outright cannot remove its private directory: the watch
// must find that directory, and nothing else.
TEST(HarnessCheckTest, DirectoryOfAKilledTolmIsFound) {
    // Without a /tmp of its own, the directory this test leaves on purpose
    // would be blamed on a test running beside it.
    if (!has_private_tmp()) GTEST_SKIP() << "no private /tmp here";
    FakeServer server;
    server.on("/hold", Script::silent());
    LeftoverWatch watch;
    {
        RunOptions o;
        o.args = {server.url("/1/hold")};
        PtyRun run(o);
        ASSERT_TRUE(server.wait_for_requests(1, deadline())) << run.transcript();
        run.signal(SIGKILL);
        ASSERT_TRUE(run.wait_exit()) << run.transcript();
    }
    // A tolm of another suite that was running already may be taken for
    // its maker until it ends: the watch then gives no verdict yet.
    std::vector<std::string> left;
    auto end = std::chrono::steady_clock::now() + scaled(Millis(60000));
    while (left.empty() && std::chrono::steady_clock::now() < end)
        left = watch.left_behind();
    for (const auto& d : left)
        rmdir(d.c_str());
    ASSERT_EQ(left.size(), 1u);
    EXPECT_EQ(left[0].rfind("/tmp/tolm-", 0), 0u) << left[0];
    EXPECT_TRUE(watch.left_behind().empty());
}

} // namespace
