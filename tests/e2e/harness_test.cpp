// The test harness itself: the terminal emulator, the pty runner (with
// /bin/sh instead of tolm) and the fake server.
#include "fake_server.h"
#include "pty_run.h"
#include "screen.h"

#include <arpa/inet.h>
#include <csignal>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolmtest;
using std::chrono::milliseconds;

namespace {

TEST(ScreenTest, RowsStandoutAndCursor) {
    Screen s(5, 20);
    s.feed("hello\r\n\x1b[7mstand\x1b[27mout\r\n\xE6\x97\xA5\xE6\x9C\xAC x");
    EXPECT_EQ(s.row(0), "hello");
    EXPECT_EQ(s.row(1), "standout");
    EXPECT_EQ(s.row(2), "\xE6\x97\xA5\xE6\x9C\xAC x");
    EXPECT_EQ(s.row(3), "");
    EXPECT_EQ(s.row_padded(0), "hello" + std::string(15, ' '));
    EXPECT_TRUE(s.standout(1, 0));
    EXPECT_TRUE(s.standout(1, 4));
    EXPECT_FALSE(s.standout(1, 5));
    EXPECT_TRUE(s.row_has_standout(1));
    EXPECT_FALSE(s.row_has_standout(0));
    EXPECT_EQ(s.cursor_row(), 2);
    EXPECT_EQ(s.cursor_col(), 6);
    EXPECT_NE(s.dump().find(" 1*|standout\n"), std::string::npos) << s.dump();
    EXPECT_NE(s.dump().find(" 0 |hello\n"), std::string::npos) << s.dump();
}

TEST(ScreenTest, TerminfoSequencesOfXterm) {
    Screen s(4, 10);
    // clear, scroll region rows 1-3, cursor to row 3, index (scrolls the
    // region), column address, clear to end of line, save and restore.
    s.feed("\x1b[H\x1b[2JA\r\nB\r\nC\r\nD");
    s.feed("\x1b[1;3r\x1b[3;1H\n");
    EXPECT_EQ(s.row(0), "B");
    EXPECT_EQ(s.row(1), "C");
    EXPECT_EQ(s.row(2), "");
    EXPECT_EQ(s.row(3), "D");
    s.feed("\x1b[4;1H\x1b"
           "7\x1b[1;1Hxyz\x1b[2Gq\x1b[K\x1b"
           "8");
    EXPECT_EQ(s.row(0), "xq");
    EXPECT_EQ(s.cursor_row(), 3);
    EXPECT_EQ(s.cursor_col(), 0);
}

TEST(ScreenTest, Resize) {
    Screen s(3, 10);
    s.feed("abc");
    s.resize(6, 40);
    EXPECT_EQ(s.rows(), 6);
    EXPECT_EQ(s.cols(), 40);
    s.feed("\x1b[6;35Hend");
    EXPECT_EQ(s.row(5), std::string(34, ' ') + "end");
    EXPECT_EQ(s.row(0), "abc");
}

TEST(ScreenTest, RepliesGoToTheReplyFd) {
    int p[2];
    ASSERT_EQ(pipe(p), 0);
    Screen s(24, 80, p[1]);
    s.feed("\x1b[5;7H\x1b[6n"); // cursor position report
    char buf[32] = {};
    ssize_t n = read(p[0], buf, sizeof buf - 1);
    EXPECT_EQ(std::string(buf, n > 0 ? static_cast<size_t>(n) : 0), "\x1b[5;7R");
    close(p[0]);
    close(p[1]);
}

RunOptions shell(Mode mode, const std::string& script) {
    RunOptions o;
    o.mode = mode;
    o.binary = "/bin/sh";
    o.args = {"-c", script};
    return o;
}

TEST(PtyRunTest, BatchModeHasPipesAndATerminal) {
    PtyRun run(shell(Mode::Batch, "test -t 1 || printf notty; printf tty >/dev/tty; "
                                  "printf err >&2; test -t 0 && exit 3"));
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_EQ(run.out(), "notty");
    EXPECT_EQ(run.err(), "err");
    EXPECT_NE(run.pty().find("tty"), std::string::npos) << run.transcript();
    EXPECT_TRUE(run.status().exited);
    EXPECT_EQ(run.status().code, 3);
}

TEST(PtyRunTest, EnvironmentIsBuiltFromScratch) {
    RunOptions o = shell(Mode::Batch, "printf '%s|%s|%s|%s|%s|%s' \"$TERM\" \"$LINES\" "
                                      "\"$COLUMNS\" \"$PAGER\" \"$EXTRA\" \"$LC_ALL\"; pwd");
    o.pager = "mypager";
    o.env["EXTRA"] = "x y";
    o.cwd = "/usr";
    setenv("LINES", "99", 1);
    PtyRun run(o);
    unsetenv("LINES");
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_EQ(run.out(), "xterm-256color|||mypager|x y|C.UTF-8/usr\n");
}

TEST(PtyRunTest, InteractiveModeTypingResizeAndScreen) {
    RunOptions o =
        shell(Mode::Interactive, "stty size; read x; echo \"got $x\"; stty size; exit 5");
    o.rows = 30;
    o.cols = 100;
    PtyRun run(o);
    Screen screen(30, 100, run.master());
    run.on_pty_output([&](std::string_view b) { screen.feed(b); });
    ASSERT_TRUE(run.pump_until([&] { return screen.row(0) == "30 100"; })) << screen.dump();
    run.resize(12, 50);
    screen.resize(12, 50);
    run.send("abc\r");
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_EQ(run.status().code, 5);
    EXPECT_NE(run.pty().find("got abc"), std::string::npos) << run.transcript();
    EXPECT_NE(run.pty().find("12 50"), std::string::npos) << run.transcript();
}

TEST(PtyRunTest, NoTerminalAtAll) {
    PtyRun run(shell(Mode::NoTerminal, "{ true </dev/tty; } 2>/dev/null || exit 7"));
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_EQ(run.status().code, 7);
    EXPECT_EQ(run.master(), -1);
}

TEST(PtyRunTest, SignalsAndStatus) {
    PtyRun run(shell(Mode::Batch, "exec sleep 30"));
    run.pump_for(milliseconds(50));
    EXPECT_TRUE(run.running());
    run.signal(SIGTERM);
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_FALSE(run.status().exited);
    EXPECT_EQ(run.status().signal, SIGTERM);
}

TEST(PtyRunTest, TimeoutKillsTheProcessGroup) {
    PtyRun run(shell(Mode::Batch, "sleep 30 & sleep 30"));
    auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(run.wait_exit(milliseconds(200)));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_FALSE(run.running());
    EXPECT_EQ(run.status().signal, SIGKILL);
}

TEST(PtyRunTest, SanitizerReportIsFound) {
    PtyRun run(shell(Mode::Batch, "echo 'ERROR: AddressSanitizer: heap-use-after-free' >&2"));
    ASSERT_TRUE(run.wait_exit());
    EXPECT_NE(run.sanitizer_report(), "");
    run.ignore_sanitizer_report();
    PtyRun clean(shell(Mode::Batch, "echo fine >&2"));
    ASSERT_TRUE(clean.wait_exit());
    EXPECT_EQ(clean.sanitizer_report(), "");
    // Unless told otherwise, the runner fails the test when it goes.
    EXPECT_NONFATAL_FAILURE(
        {
            PtyRun again(shell(Mode::Batch, "echo 'x.cpp:3: runtime error: overflow' >&2"));
            again.wait_exit();
        },
        "sanitizer report");
}

TEST(PtyRunTest, LeftoverTemporaryDirectoryIsFound) {
    // In a private parent: /tmp itself is watched by tests running alongside.
    char parent[] = "/tmp/tmpdir-check-XXXXXX";
    ASSERT_NE(mkdtemp(parent), nullptr);
    std::vector<std::string> before = tolm_tmpdirs(parent);
    std::string name = std::string(parent) + "/tolm-ABC123";
    ASSERT_EQ(mkdir(name.c_str(), 0700), 0);
    EXPECT_NONFATAL_FAILURE(expect_no_new_tmpdirs(before, parent), "tolm-ABC123");
    rmdir(name.c_str());
    expect_no_new_tmpdirs(before, parent);
    rmdir(parent);
}

std::string ask(uint16_t port, const std::string& request, bool close_after = true) {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) return "connect failed";
    send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string answer;
    char buf[4096];
    for (ssize_t n; (n = read(fd, buf, sizeof buf)) > 0;)
        answer.append(buf, static_cast<size_t>(n));
    if (close_after) close(fd);
    return answer;
}

TEST(FakeServerTest, ScriptsAndRecordedRequests) {
    FakeServer server;
    server.on("/a", Script::chunked({"one", "two"}, milliseconds(20)));
    server.on("/find\tcats", Script::send("meow"));
    server.set_default(Script::send("default"));
    EXPECT_EQ(ask(server.port(), "/a\r\n"), "onetwo");
    EXPECT_EQ(ask(server.port(), "/find\tcats\r\n"), "meow");
    EXPECT_EQ(ask(server.port(), "other\r\n"), "default");
    EXPECT_EQ(ask(server.port(), "\r\n"), "default");
    EXPECT_EQ(server.requests(), (std::vector<std::string>{"/a", "/find\tcats", "other", ""}));
    EXPECT_EQ(server.raw_requests()[1], "/find\tcats\r\n");
    EXPECT_EQ(server.connections(), 4u);
    EXPECT_EQ(server.url("/1"), "gopher://127.0.0.1:" + std::to_string(server.port()) + "/1");
}

TEST(FakeServerTest, ResetIsSeenByTheClient) {
    FakeServer server;
    server.on("/r", Script::reset_after("data", milliseconds(100)));
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server.port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    send(fd, "/r\r\n", 4, MSG_NOSIGNAL);
    char buf[64];
    std::string got;
    ssize_t n;
    while ((n = read(fd, buf, sizeof buf)) > 0)
        got.append(buf, static_cast<size_t>(n));
    EXPECT_EQ(got, "data");
    EXPECT_EQ(n, -1);
    EXPECT_EQ(errno, ECONNRESET);
    close(fd);
}

TEST(FakeServerTest, SilentConnectionEndsWithTheServer) {
    auto server = std::make_unique<FakeServer>(true);
    EXPECT_TRUE(server->has_ipv6());
    server->on("/hold", Script::silent());
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(server->port());
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    send(fd, "/hold\r\n", 7, MSG_NOSIGNAL);
    ASSERT_TRUE(server->wait_for_requests(1, deadline()));
    auto start = std::chrono::steady_clock::now();
    server.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500));
    char buf[8];
    EXPECT_EQ(read(fd, buf, sizeof buf), 0);
    close(fd);
}

} // namespace
