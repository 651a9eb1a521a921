// The real tolm in batch mode (standard output a pipe, the pty its
// controlling terminal) against the scripted fake server.
#include "fake_server.h"
#include "isolation.h"
#include "listing.h"
#include "pty_run.h"

#include <algorithm>
#include <csignal>
#include <cstring>
#include <gtest/gtest.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tolmtest;
using std::chrono::milliseconds;

namespace {

// Every byte value, then a gopher end-of-response line that a download
// must copy like any other bytes.
std::string binary_payload() {
    std::string s;
    for (int round = 0; round < 4; ++round)
        for (int b = 0; b < 256; ++b)
            s += static_cast<char>((b * 7 + round) & 0xFF);
    return s + "\r\n.\r\n";
}

std::string printable(const std::string& s) {
    std::string out;
    for (char ch : s) {
        auto c = static_cast<unsigned char>(ch);
        if (c == '\n')
            out += "\\n\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c < 0x20 || c == 0x7F) {
            char buf[8];
            snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else
            out += static_cast<char>(c);
    }
    return out;
}

class BatchTest : public TolmTest {
  protected:
    BatchResult run(const std::string& url) { return run_batch({url}); }

    FakeServer server_;
};

#define EXPECT_EXIT_CODE(result, expected)                                                         \
    do {                                                                                           \
        EXPECT_TRUE((result).finished) << "did not end in time\n" << (result).transcript;          \
        EXPECT_TRUE((result).status.exited && (result).status.code == (expected))                  \
            << "expected exit status " << (expected) << "\n"                                       \
            << (result).transcript;                                                                \
    } while (0)

// ---------------------------------------------------------------- texts

struct TextCase {
    const char* name;
    std::vector<std::string> chunks;
    std::string expected;
};
void PrintTo(const TextCase& c, std::ostream* os) {
    *os << c.name;
}

class TextTest : public BatchTest, public ::testing::WithParamInterface<TextCase> {};

TEST_P(TextTest, WritesTheTextExactly) {
    const TextCase& c = GetParam();
    server_.on("/doc.txt", Script::chunked(c.chunks, milliseconds(50)));
    BatchResult r = run(server_.url("/0/doc.txt"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(printable(r.out), printable(c.expected));
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(server_.raw_requests(), std::vector<std::string>{"/doc.txt\r\n"});
}

INSTANTIATE_TEST_SUITE_P(
    Batch, TextTest,
    ::testing::Values(
        TextCase{"Terminated", {"line one\r\nline two\r\n.\r\n"}, "line one\r\nline two\r\n"},
        TextCase{"TerminatorSplitOverTwoReads", {"a\r\nb\r\n.", "\r\n"}, "a\r\nb\r\n"},
        TextCase{"NoTerminatorLfOnly",
                 {"first\nsecond without newline"},
                 "first\nsecond without newline"},
        TextCase{"TerminatorFollowedByMore", {"a\r\n.\r\nmore"}, "a\r\n.\r\nmore"},
        TextCase{"StopsAtNul", {std::string("abc\0def\r\n.\r\n", 12)}, "abc"},
        TextCase{"ExactlyOneBlock", {std::string(1024, 'x')}, std::string(1024, 'x')},
        TextCase{"ThreeOtherBytes", {"abc"}, "abc"},
        // Only the pager's copy is filtered: standard output is no terminal.
        TextCase{"EscapesAndControlsKept",
                 {"\x1b]2;PWNED\x07\x1b[2J\x1b[31mred\x01\x7f\xc2\x9b\u202E\r\n.\r\n"},
                 "\x1b]2;PWNED\x07\x1b[2J\x1b[31mred\x01\x7f\xc2\x9b\u202E\r\n"},
        TextCase{"LongChunked",
                 {std::string(3000, 'a') + "\r\n", std::string(3000, 'b') + "\r\n.\r\n"},
                 std::string(3000, 'a') + "\r\n" + std::string(3000, 'b') + "\r\n"}),
    [](const auto& test) { return std::string(test.param.name); });

// The terminator ends the response: tolm must not wait for the server to
// close the connection.
TEST_F(BatchTest, TextEndsAtTerminatorWithoutWaitingForClose) {
    Script s = Script::send("held open\r\n.\r\n");
    s.end = Script::End::Silent;
    server_.on("/held", s);
    BatchResult r = run(server_.url("/0/held"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "held open\r\n");
}

// ---------------------------------------------------------------- menus

struct MenuCase {
    const char* name;
    std::string menu;     // what the server sends
    std::string expected; // tolm's listing
};
void PrintTo(const MenuCase& c, std::ostream* os) {
    *os << c.name;
}

class MenuTest : public BatchTest, public ::testing::WithParamInterface<MenuCase> {};

TEST_P(MenuTest, ListsOneLinePerItem) {
    const MenuCase& c = GetParam();
    for (char type : {'1', '7'}) {
        SCOPED_TRACE(std::string("type ") + type);
        FakeServer server;
        server.on("/menu", Script::send(c.menu));
        BatchResult r = run_batch({server.url(std::string("/") + type + "/menu")});
        EXPECT_EXIT_CODE(r, 0);
        EXPECT_EQ(printable(r.out), printable(c.expected));
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(server.raw_requests(), std::vector<std::string>{"/menu\r\n"});
    }
}

INSTANTIATE_TEST_SUITE_P(
    Batch, MenuTest,
    ::testing::Values(
        MenuCase{"InfoDirText",
                 "iWelcome here\t\tnull.host\t1\r\n"
                 "1A directory\t/dir\t127.0.0.1\t70\r\n"
                 "0A text\t/t.txt\t127.0.0.1\t70\r\n"
                 ".\r\n",
                 "   |Welcome here\nDir+A directory\nTxt+A text\n"},
        MenuCase{"LineWithoutFields",
                 "1Dir\t/d\th\t70\r\n"
                 "just some words\r\n"
                 "two\ttabs\tonly\r\n"
                 "\r\n"
                 ".\r\n",
                 "Dir+Dir\n ? +just some words\r\n ? +two\ttabs\tonly\r\n ? +\r\n"},
        MenuCase{"EveryTag",
                 "0t\ts\th\t1\r\n1d\ts\th\t1\r\n2c\ts\th\t1\r\n3e\ts\th\t1\r\n"
                 "4m\ts\th\t1\r\n5p\ts\th\t1\r\n6u\ts\th\t1\r\n7s\ts\th\t1\r\n"
                 "8l\ts\th\t1\r\n9b\ts\th\t1\r\n+m\ts\th\t1\r\nIi\ts\th\t1\r\n"
                 "Tt\ts\th\t1\r\ngg\ts\th\t1\r\nhu\ts\th\t1\r\nii\ts\th\t1\r\n"
                 "Aa\ts\th\t1\r\n:c\ts\th\t1\r\nZz\ts\th\t1\r\nss\ts\th\t1\r\n"
                 "[b\ts\th\t1\r\n\xC3x\ts\th\t1\r\n"
                 ".\r\n",
                 "Txt+t\nDir+d\nCSO|c\nErr|e\nMac+m\nDOS+p\nUUE+u\nInd+s\nTln|l\nBin+b\n"
                 "Mir+m\nImg+i\nIBM|t\nGIF+g\nURL+u\n   |i\n!  |a\n!  |c\n!  |z\n ? +s\n"
                 " ? +b\n ? +x\n"},
        MenuCase{"LfLineEndsAndExtraFields",
                 "1One\t/1\th\t70\t+\n0Two\t/2\th\t70\t+\tmore\r\n.\r\n", "Dir+One\nTxt+Two\n"},
        // The end test needs CR LF before the dot: after a bare LF the dot
        // line is an ordinary (fieldless) line.
        MenuCase{"DotAfterBareLfIsALine", "1One\t/1\th\t70\n.\r\n", "Dir+One\n ? +.\r\n"},
        MenuCase{"NoTerminator", "1One\t/1\th\t70\r\n0Two\t/2\th\t70\r\n", "Dir+One\nTxt+Two\n"},
        MenuCase{"UnterminatedLastLineIsNoItem", "1One\t/1\th\t70\r\n0Tw", "Dir+One\n"},
        MenuCase{"EmptyDisplay", "1\t/1\th\t70\r\n.\r\n", "Dir+\n"},
        MenuCase{"TabAsType", "\tX\tY\tZ\r\n\tX\tY\r\n.\r\n", " ? +X\n ? +\tX\tY\r\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(BatchTest, UrlWithoutPathListsTheRootMenu) {
    server_.on("", Script::send("iroot menu\t\tnull.host\t1\r\n.\r\n"));
    BatchResult r = run(server_.url());
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "   |root menu\n");
    EXPECT_EQ(server_.raw_requests(), std::vector<std::string>{"\r\n"});
}

TEST_F(BatchTest, UrlWithoutSchemeListsTheRootMenu) {
    server_.on("", Script::send("iroot menu\t\tnull.host\t1\r\n.\r\n"));
    BatchResult r = run("127.0.0.1:" + std::to_string(server_.port()));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "   |root menu\n");
}

TEST_F(BatchTest, IPv6LiteralInBrackets) {
    FakeServer server(true);
    ASSERT_TRUE(server.has_ipv6());
    server.on("/x", Script::send("iover IPv6\t\tnull.host\t1\r\n.\r\n"));
    BatchResult r = run("gopher://[::1]:" + std::to_string(server.port()) + "/1/x");
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "   |over IPv6\n");
}

TEST_F(BatchTest, MenuWithoutAnyNewlineIsNotParsed) {
    server_.on("/m", Script::send("no newline at all"));
    BatchResult r = run(server_.url("/1/m"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Couldn't parse dir item\n");
}

// ---------------------------------------------------------------- search

TEST_F(BatchTest, SearchSendsSelectorTabQueryAndListsResults) {
    server_.on("/find\tcats", Script::send("0Cats\t/cats.txt\th\t70\r\n.\r\n"));
    BatchResult r = run(server_.url("/7/find%09cats"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"/find\tcats"});
    EXPECT_EQ(server_.raw_requests(), std::vector<std::string>{"/find\tcats\r\n"});
    EXPECT_EQ(r.out, "Txt+Cats\n");
}

TEST_F(BatchTest, SearchWithoutQuerySendsSelector) {
    server_.on("/find", Script::send("iNo query given\t\tnull.host\t1\r\n.\r\n"));
    BatchResult r = run(server_.url("/7/find"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"/find"});
    EXPECT_EQ(r.out, "   |No query given\n");
}

// ---------------------------------------------------------------- types

class SilentTypeTest : public BatchTest, public ::testing::WithParamInterface<char> {};

TEST_P(SilentTypeTest, PrintsNothing) {
    server_.set_default(Script::send("should not be asked\r\n.\r\n"));
    BatchResult r = run(server_.url(std::string("/") + GetParam() + "/sel"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(server_.connections(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Batch, SilentTypeTest, ::testing::Values('2', '3', '8', 'T'),
                         [](const auto& test) { return std::string(1, test.param); });

class DownloadTypeTest : public BatchTest, public ::testing::WithParamInterface<char> {};

TEST_P(DownloadTypeTest, CopiesByteForByte) {
    const std::string payload = binary_payload();
    server_.on("/file",
               Script::chunked({payload.substr(0, 700), payload.substr(700)}, milliseconds(30)));
    BatchResult r = run(server_.url(std::string("/") + GetParam() + "/file"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out.size(), payload.size());
    EXPECT_TRUE(r.out == payload) << "the copy differs from what the server sent";
    EXPECT_EQ(r.err, "");
    EXPECT_EQ(server_.raw_requests(), std::vector<std::string>{"/file\r\n"});
}

INSTANTIATE_TEST_SUITE_P(Batch, DownloadTypeTest,
                         ::testing::Values('4', '5', '6', '9', 'I', 'g', 'h', 'i', '+', 's', 'd',
                                           '['),
                         [](const auto& test) {
                             char c = test.param;
                             if (c == '+') return std::string("plus");
                             if (c == '[') return std::string("bracket");
                             return std::string(1, c);
                         });

TEST_F(BatchTest, DownloadOfEmptyResponseIsEmpty) {
    BatchResult r = run(server_.url("/9/nothing"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "");
}

class UnsupportedTypeTest : public BatchTest, public ::testing::WithParamInterface<char> {};

TEST_P(UnsupportedTypeTest, ReportsTypeOnStderr) {
    char type = GetParam();
    server_.set_default(Script::send("should not be asked\r\n.\r\n"));
    BatchResult r = run(server_.url(std::string("/") + type + "/sel"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, std::string("Type ") + type + " (!  |) not supported\n");
    EXPECT_EQ(server_.connections(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Batch, UnsupportedTypeTest,
                         ::testing::Values(':', ';', '<', '=', '>', '?', '@', 'A', 'H', 'J', 'M',
                                           'S', 'U', 'Z'),
                         [](const auto& test) {
                             char c = test.param;
                             if (c >= 'A' && c <= 'Z') return std::string(1, c);
                             return "code" + std::to_string(static_cast<int>(c));
                         });

// ---------------------------------------------------------------- start-up messages

struct FatalCase {
    const char* name;
    std::vector<std::string> args;
    std::string err;
};
void PrintTo(const FatalCase& c, std::ostream* os) {
    *os << c.name;
}

class FatalTest : public TolmTest, public ::testing::WithParamInterface<FatalCase> {};

TEST_P(FatalTest, MessageAndStatusOne) {
    const FatalCase& c = GetParam();
    BatchResult r = run_batch(c.args);
    EXPECT_EXIT_CODE(r, 1);
    EXPECT_EQ(r.err, c.err);
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(
    Batch, FatalTest,
    ::testing::Values(
        FatalCase{"NoArgument", {}, "usage: tolm URL\n"},
        FatalCase{"TwoArguments", {"gopher://127.0.0.1/1", "x"}, "usage: tolm URL\n"},
        FatalCase{"Gophers", {"gophers://127.0.0.1/1"}, "Protocol not supported: gophers\n"},
        FatalCase{"Go", {"go://127.0.0.1/1"}, "Protocol not supported: go\n"},
        FatalCase{"EmptyScheme", {"://127.0.0.1/1"}, "Protocol not supported: \n"},
        FatalCase{"UpperCaseScheme", {"GOPHER://127.0.0.1/1"}, "Protocol not supported: GOPHER\n"},
        FatalCase{"SchemeInSelectorWithoutScheme",
                  {"127.0.0.1/1/a://b"},
                  "Protocol not supported: 127.0.0.1/1/a\n"},
        FatalCase{"EmptyPort", {"gopher://host:/1"}, "Can't parse url\n"},
        FatalCase{"EmptyHost", {"gopher:///1"}, "Can't parse url\n"},
        FatalCase{"SchemeOnly", {"gopher://"}, "Can't parse url\n"},
        FatalCase{"EmptyArgument", {""}, "Can't parse url\n"},
        FatalCase{"UnclosedBracket", {"gopher://[::1/1"}, "Can't parse url\n"},
        FatalCase{"PortAtEnd", {"gopher://host:"}, "Can't parse url\n"}),
    [](const auto& test) { return std::string(test.param.name); });

TEST_F(BatchTest, ConnectionRefused) {
    RefusedPort refused;
    const uint16_t port = refused.port();
    for (const char* path : {"/1/x", "/0/x", "/9/x"}) {
        SCOPED_TRACE(path);
        BatchResult r = run("gopher://127.0.0.1:" + std::to_string(port) + path);
        EXPECT_EXIT_CODE(r, 0);
        EXPECT_EQ(r.err,
                  "Can't connect to: 127.0.0.1:" + std::to_string(port) + ": Connection refused\n");
        EXPECT_EQ(r.out, "");
    }
}

// A first label longer than the 63 bytes a name may have: the resolver
// refuses the name without sending a query, so the answer comes at once
// whether or not a name server can be reached.
TEST_F(BatchTest, UnresolvableHost) {
    const std::string host = std::string(64, 'x') + ".test";
    BatchResult r = run("gopher://" + host + ":7070/1/x");
    EXPECT_EXIT_CODE(r, 0);
    const std::string prefix = "Can't resolve hostname \"" + host + "\": ";
    EXPECT_EQ(r.err.substr(0, prefix.size()), prefix) << r.transcript;
    EXPECT_GT(r.err.size(), prefix.size() + 1) << "no error text";
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "not exactly one line\n" << r.transcript;
    EXPECT_EQ(r.out, "");
}

struct EmptyCase {
    const char* name;
    char type;
    std::string response;
};
void PrintTo(const EmptyCase& c, std::ostream* os) {
    *os << c.name;
}

class EmptyResponseTest : public BatchTest, public ::testing::WithParamInterface<EmptyCase> {};

TEST_P(EmptyResponseTest, Reported) {
    const EmptyCase& c = GetParam();
    server_.on("/e", Script::send(c.response));
    BatchResult r = run(server_.url(std::string("/") + c.type + "/e"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.err, "Empty response from server\n");
    EXPECT_EQ(r.out, "");
}

INSTANTIATE_TEST_SUITE_P(Batch, EmptyResponseTest,
                         ::testing::Values(EmptyCase{"MenuNothing", '1', ""},
                                           EmptyCase{"MenuTerminatorOnly", '1', ".\r\n"},
                                           EmptyCase{"TextNothing", '0', ""},
                                           EmptyCase{"TextTerminatorOnly", '0', ".\r\n"},
                                           EmptyCase{"SearchNothing", '7', ""}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(BatchTest, ResetWhileReadingMenu) {
    server_.on("/m", Script::reset_after("1One\t/1\th\t70\r\n", milliseconds(200)));
    BatchResult r = run(server_.url("/1/m"));
    EXPECT_EXIT_CODE(r, 0);
    EXPECT_EQ(r.err, "Can't read socket: Connection reset by peer\nEmpty response from server\n");
    EXPECT_EQ(r.out, "");
}

TEST_F(BatchTest, ResetDuringDownload) {
    server_.on("/sel", Script::reset_after("partial data", milliseconds(300)));
    BatchResult r = run(server_.url("/9/sel"));
    EXPECT_EXIT_CODE(r, 0);
    // The message goes where every batch message goes: the copied bytes
    // stay exactly what was received.
    EXPECT_EQ(r.out, "partial data") << r.transcript;
    EXPECT_EQ(r.err, "Error downloading file /sel: Connection reset by peer\n") << r.transcript;
}

// tolm ends before it has made its directory: the template's name is
// somebody else's, which the clean-up must leave alone.
TEST_F(BatchTest, NoControllingTerminal) {
    // Made only where no other tolm could be its owner.
    const bool own_template = has_private_tmp() && mkdir("/tmp/tolm-XXXXXX", 0700) == 0;
    RunOptions opts;
    opts.mode = Mode::NoTerminal;
    opts.args = {server_.url("/1/x")};
    PtyRun run(opts);
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_TRUE(run.status().exited && run.status().code == 1) << run.transcript();
    const std::string prefix = "open: /dev/tty: ";
    EXPECT_EQ(run.err().substr(0, prefix.size()), prefix) << run.transcript();
    EXPECT_TRUE(!run.err().empty() && run.err().back() == '\n') << run.transcript();
    EXPECT_EQ(run.out(), "");
    EXPECT_EQ(server_.connections(), 0u);
    if (own_template) {
        EXPECT_EQ(rmdir("/tmp/tolm-XXXXXX"), 0) << "removed by tolm";
    }
}

// There are no options: "-h" is a URL whose host is -h, and like every URL
// it needs a terminal first.
TEST_F(BatchTest, OptionsAreUrls) {
    for (const char* arg : {"-h", "--help", "--version"}) {
        SCOPED_TRACE(arg);
        RunOptions opts;
        opts.mode = Mode::NoTerminal;
        opts.args = {arg};
        PtyRun run(opts);
        ASSERT_TRUE(run.wait_exit()) << run.transcript();
        EXPECT_TRUE(run.status().exited && run.status().code == 1) << run.transcript();
        EXPECT_EQ(run.err().rfind("open: /dev/tty: ", 0), 0u) << run.transcript();
        EXPECT_EQ(run.out(), "");
    }
}

// A port past 65535 is refused where it is resolved: the C library would
// take it modulo 65536 and connect elsewhere.
TEST_F(BatchTest, PortsBeyondTheRangeAreRefused) {
    for (const char* port : {"99999", "65536", "18446744073709551686"}) {
        SCOPED_TRACE(port);
        BatchResult r = run(std::string("gopher://127.0.0.1:") + port + "/1/x");
        EXPECT_EXIT_CODE(r, 0);
        EXPECT_EQ(r.err, "Can't resolve hostname \"127.0.0.1\": " +
                             std::string(gai_strerror(EAI_SERVICE)) + "\n");
    }
    EXPECT_EQ(server_.connections(), 0u);
    // Leading zeros still name the port.
    server_.on("/x", Script::send("0Here\t/h\th\t70\r\n.\r\n"));
    std::string url = server_.url("/1/x");
    url.insert(url.rfind(':') + 1, "000");
    EXPECT_EQ(run(url).out, "Txt+Here\n");
}

// ---------------------------------------------------------------- signals

struct SignalCase {
    const char* name;
    int sig;
    char type;
};
void PrintTo(const SignalCase& c, std::ostream* os) {
    *os << c.name;
}

class SignalTest : public BatchTest, public ::testing::WithParamInterface<SignalCase> {};

TEST_P(SignalTest, EndsWith128PlusSignal) {
    const SignalCase& c = GetParam();
    server_.on("/hold", Script::silent());
    const std::vector<std::string> before = tolm_tmpdirs();
    RunOptions opts;
    opts.args = {server_.url(std::string("/") + c.type + "/hold")};
    PtyRun run(opts);
    ASSERT_TRUE(server_.wait_for_requests(1, deadline())) << run.transcript();
    // The signal comes while it waits for the response.
    ASSERT_TRUE(run.pump_until([&] { return run.idle(); })) << run.transcript();
    bool fresh_dir = false;
    for (const auto& d : tolm_tmpdirs())
        fresh_dir |= std::find(before.begin(), before.end(), d) == before.end();
    EXPECT_TRUE(fresh_dir) << "no temporary directory while running";
    run.signal(c.sig);
    // The server stays silent: without the signal the run would never end.
    ASSERT_TRUE(run.wait_exit()) << "did not end after the signal\n" << run.transcript();
    EXPECT_TRUE(run.status().exited && run.status().code == 128 + c.sig) << run.transcript();
    EXPECT_EQ(run.out(), "");
}

INSTANTIATE_TEST_SUITE_P(Batch, SignalTest,
                         ::testing::Values(SignalCase{"TermMenu", SIGTERM, '1'},
                                           SignalCase{"IntMenu", SIGINT, '1'},
                                           SignalCase{"HupMenu", SIGHUP, '1'},
                                           SignalCase{"TermText", SIGTERM, '0'},
                                           SignalCase{"TermDownload", SIGTERM, '9'},
                                           SignalCase{"IntDownload", SIGINT, '9'}),
                         [](const auto& test) { return std::string(test.param.name); });

// A lookup that hangs (its name server never answers) ends with tolm on an
// ending signal: the child that makes it must not live on. tolm runs below
// a shell, as from a prompt, whose group it shares: as the session's
// leader, its end would hang the child up.
TEST_F(BatchTest, EndingSignalDuringAHangingLookupLeavesNoLookupChild) {
    const std::string why = enter_own_network();
    // One try with a long wait: the lookup hangs for as long as any test.
    SystemFiles files(
        {{"/etc/resolv.conf", "nameserver 127.0.0.1\noptions timeout:30 attempts:1\n"},
         {"/etc/nsswitch.conf", "hosts: files dns\n"},
         {"/etc/hosts", "127.0.0.1 localhost\n"}});
    if (!why.empty() || !files.laid()) GTEST_SKIP() << "no network or mount namespace: " << why;
    // The name server, which never answers.
    const int dns = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(53);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(dns, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0) << strerror(errno);
    RunOptions opts;
    opts.binary = "/bin/sh";
    opts.args = {"-c", "\"$0\" \"$1\"; echo ended-$? >&2; read x", tolm_binary(),
                 "gopher://unanswered.test/1/x"};
    PtyRun run(opts);
    pollfd query{dns, POLLIN, 0};
    ASSERT_EQ(poll(&query, 1, static_cast<int>(deadline().count())), 1) << run.transcript();
    const pid_t shell = run.pid();
    auto below_shell = [&] {
        std::vector<LiveProcess> found = live_processes();
        std::erase_if(found, [&](const auto& p) { return p.pgrp != shell || p.pid == shell; });
        return found;
    };
    // tolm (the shell's child) and its lookup child.
    const std::vector<LiveProcess> below = below_shell();
    ASSERT_EQ(below.size(), 2u);
    const LiveProcess& tolm = below[0].ppid == shell ? below[0] : below[1];
    ASSERT_EQ(tolm.ppid, shell);
    kill(tolm.pid, SIGTERM);
    ASSERT_TRUE(run.pump_until([&] { return run.err().find("ended-") != std::string::npos; }))
        << run.transcript();
    EXPECT_EQ(run.err(), "ended-143\n");
    EXPECT_TRUE(run.pump_until([&] { return below_shell().empty(); })) << "tolm's child lives on";
    for (const LiveProcess& p : below_shell())
        kill(p.pid, SIGKILL);
    run.send("\n");
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    close(dns);
}

// ---------------------------------------------------------------- a reader that goes away

TEST_F(BatchTest, ReaderGoesAwayDuringLargeDownload) {
    std::string big(8 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 31 + (i >> 12));
    server_.on("/big.bin", Script::send(big));
    RunOptions opts;
    opts.args = {server_.url("/9/big.bin")};
    PtyRun run(opts);
    ASSERT_TRUE(run.pump_until([&] { return run.out().size() >= 10; })) << run.transcript();
    EXPECT_EQ(run.out().substr(0, 10), big.substr(0, 10));
    run.close_stdout();
    ASSERT_TRUE(run.wait_exit()) << "tolm hangs after its reader went away\n" << run.transcript();
    EXPECT_TRUE(run.status().exited) << "must not die of a signal: " << run.transcript();
    EXPECT_EQ(run.status().code, 0) << run.transcript();
}

// A listing much larger than a pipe's 64 KiB reaches the pipe whole and in
// order, a display longer than the listing's buffer too; with the reader
// gone, a text or a listing reports the failed write once on standard error
// and still ends with status 0.
TEST_F(BatchTest, LargeListingIsWholeAndUnwritableOutputIsReportedOnceOrIgnoredWhenItsReaderLeft) {
    std::string menu;
    for (size_t i = 0; i < 4000; ++i)
        menu += "1Entry number " + std::to_string(i) + " " + std::string(i % 97, 'x') +
                "\t/e\th\t70\r\n";
    menu.insert(menu.size() / 2, "0" + std::string(70000, 'L') + "\t/l\th\t70\r\n");
    server_.on("/m", Script::send(menu + ".\r\n"));
    server_.on("/t", Script::send(std::string(200000, 't')));

    BatchResult whole = run(server_.url("/1/m"));
    EXPECT_EXIT_CODE(whole, 0);
    ASSERT_GT(whole.out.size(), 3u * 65536);
    EXPECT_TRUE(whole.out == expected_listing(menu + ".\r\n")) << "listing lost or reordered";
    EXPECT_EQ(whole.err, "");

    // A reader that goes away (tolm URL | head) ends the output quietly, as
    // with cat; a full disk is reported once.
    for (const char* path : {"/1/m", "/0/t", "/9/t"}) {
        SCOPED_TRACE(path);
        RunOptions opts;
        opts.args = {server_.url(path)};
        PtyRun run(opts);
        run.close_stdout();
        ASSERT_TRUE(run.wait_exit()) << run.transcript();
        EXPECT_TRUE(run.status().exited && run.status().code == 0) << run.transcript();
        EXPECT_EQ(run.err(), "") << run.transcript();

        // A closed output is no place to write either, though whatever
        // tolm opens next would take its number.
        const std::string message =
            path[1] == '9' ? "Error downloading file /t: " : "Can't write to standard output: ";
        for (const auto& [redirect, error] : {std::pair{">/dev/full", ENOSPC}, {">&-", EBADF}}) {
            SCOPED_TRACE(redirect);
            opts.binary = "/bin/sh";
            opts.args = {"-c",
                         "exec '" + tolm_binary() + "' '" + server_.url(path) + "' " + redirect};
            PtyRun full(opts);
            ASSERT_TRUE(full.wait_exit()) << full.transcript();
            EXPECT_TRUE(full.status().exited && full.status().code == 0) << full.transcript();
            EXPECT_EQ(full.err(), message + strerror(error) + "\n") << full.transcript();
        }
    }
}

// A menu's peak memory stays within 2.5 times its size plus 2 MiB: with
// lines of a usual length, where the items weigh about as much as the
// text, and with long lines, where memory made present for items that
// never come would show. The peak is read while tolm waits to write its
// listing into a pipe nobody reads yet: its menu parsed, nothing more to
// allocate.
TEST_F(BatchTest, LargeMenuStaysWithinItsMemoryBound) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory counts as the program's";
#endif
    if (peak_memory_kib(getpid()) < 0 || access("/proc/self/syscall", R_OK) != 0)
        GTEST_SKIP() << "the system does not show a process's peak memory or what it waits in";
    for (size_t width : {size_t{60}, size_t{2000}}) {
        SCOPED_TRACE(width);
        std::string line = "0" + std::string(width, 'd') + "\t/s\th\t70\r\n";
        std::string menu;
        while (menu.size() < size_t{6} << 20)
            menu += line;
        menu += ".\r\n";
        server_.on("/m", Script::send(menu));
        RunOptions opts;
        opts.args = {server_.url("/1/m")};
        PtyRun run(opts);
        auto end = std::chrono::steady_clock::now() + deadline();
        while (!waiting_to_write(run.pid()) && std::chrono::steady_clock::now() < end)
            usleep(2000);
        ASSERT_TRUE(waiting_to_write(run.pid())) << "no listing written";
        EXPECT_LE(static_cast<double>(peak_memory_kib(run.pid())),
                  (2.5 * static_cast<double>(menu.size()) + (2 << 20)) / 1024);
        ASSERT_TRUE(run.wait_exit()) << run.transcript();
        EXPECT_TRUE(run.status().exited && run.status().code == 0) << run.transcript();
        EXPECT_EQ(run.out().size(), (menu.size() - 3) / line.size() * (width + 5));
    }
}

// A menu that needs more heap than the first one tolm has arrives whole
// under a limit on address space that leaves room for it, though not for
// the heap reserved ahead while it arrives.
TEST_F(BatchTest, LargeMenuArrivesUnderAnAddressSpaceLimit) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer reserves more address space than any such limit allows";
#endif
    std::string line = "0" + std::string(60, 'd') + "\t/s\th\t70\r\n";
    std::string menu;
    while (menu.size() < size_t{24} << 20)
        menu += line;
    server_.on("/m", Script::send(menu + ".\r\n"));
    RunOptions opts;
    opts.binary = "/bin/sh";
    opts.args = {"-c", "ulimit -v 200000 && exec \"$0\" \"$1\"", tolm_binary(),
                 server_.url("/1/m")};
    PtyRun run(opts);
    ASSERT_TRUE(run.wait_exit()) << run.transcript();
    EXPECT_TRUE(run.status().exited && run.status().code == 0) << run.transcript();
    EXPECT_EQ(run.err(), "");
    EXPECT_EQ(run.out().size(), menu.size() / line.size() * (60 + 5));
}

} // namespace
