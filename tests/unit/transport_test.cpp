// The gopher exchange and downloads over a scripted transport, and the
// plain TCP transport against a listener on loopback.
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <string>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "driver/commands.h"
#include "items/item.h"
#include "recorders.h"
#include "transport/crossing.h"
#include "transport/download.h"
#include "transport/transport.h"

// Link-time seam: downloads write to their descriptor with the system's
// write(), and no kernel object reliably gives short writes of 1024 bytes
// (pipes and sockets take them whole). So this binary supplies write()
// itself: everything passes through, except that writes to narrow_fd take
// at most narrow_bytes at a time.
namespace {
int narrow_fd = -1;
size_t narrow_bytes = 0;
std::vector<size_t> narrow_sizes;
} // namespace

extern "C" ssize_t write(int fd, const void* buf, size_t n) {
    if (fd >= 0 && fd == narrow_fd) {
        narrow_sizes.push_back(n);
        n = std::min(n, narrow_bytes);
    }
    return syscall(SYS_write, fd, buf, n);
}

namespace {

// One scripted read: up to this many bytes of the stream, or -1 with err.
struct ReadStep {
    std::string data;
    int err = 0;
};

// What the fake transport does and what it saw. Plain function pointers
// cannot carry state, so there is one script at a time.
struct Script {
    std::vector<int> connect_results; // consumed in order; 0 once used up
    int connect_errno = ECONNREFUSED;
    bool socket_limit_on_retry = false; // the fresh socket after -2 fails
    std::vector<ReadStep> reads;        // then end of stream
    bool real_reads = false;            // read the descriptor itself
    size_t write_limit = SIZE_MAX;      // bytes accepted per write
    int write_errno = 0;                // every write fails with it

    int connects = 0;
    std::vector<std::string> addresses; // "host port" of each connect, numeric
    int closes = 0;
    int reports = 0;
    int report_fd = 0;
    int report_err = 0;
    size_t next_read = 0;
    std::vector<size_t> read_sizes; // what each read asked for
    size_t delivered = 0;           // bytes handed out before each read
    std::vector<size_t> read_offsets;
    std::string written;
    std::vector<size_t> write_sizes;
};

Script* script = nullptr;
rlimit saved_nofile;

int fake_init() {
    return 0;
}

void fake_close(Connection* conn) {
    script->closes++;
    if (conn->fd >= 0) close(conn->fd);
}

int fake_connect(Connection*, const addrinfo* addr, const char*) {
    char host[NI_MAXHOST], port[NI_MAXSERV];
    if (getnameinfo(addr->ai_addr, addr->ai_addrlen, host, sizeof host, port, sizeof port,
                    NI_NUMERICHOST | NI_NUMERICSERV) == 0)
        script->addresses.push_back(std::string(host) + " " + port);
    size_t i = static_cast<size_t>(script->connects++);
    int result = i < script->connect_results.size() ? script->connect_results[i] : 0;
    if (result == -2 && script->socket_limit_on_retry) {
        rlimit none = {0, saved_nofile.rlim_max};
        setrlimit(RLIMIT_NOFILE, &none);
    }
    if (result < 0) errno = script->connect_errno;
    return result;
}

void fake_report(Connection* conn, const char*, const char*, int err) {
    script->reports++;
    script->report_fd = conn->fd;
    script->report_err = err;
}

ssize_t fake_read(Connection* conn, void* buf, size_t n) {
    if (script->real_reads) return tcp_transport.read(conn, buf, n);
    script->read_sizes.push_back(n);
    script->read_offsets.push_back(script->delivered);
    if (script->next_read == script->reads.size()) return 0;
    ReadStep& step = script->reads[script->next_read];
    if (step.err) {
        script->next_read++;
        errno = step.err;
        return -1;
    }
    size_t k = std::min(n, step.data.size());
    memcpy(buf, step.data.data(), k);
    step.data.erase(0, k);
    script->delivered += k;
    if (step.data.empty()) script->next_read++;
    return static_cast<ssize_t>(k);
}

ssize_t fake_write(Connection*, const void* buf, size_t n) {
    script->write_sizes.push_back(n);
    if (script->write_errno) {
        errno = script->write_errno;
        return -1;
    }
    size_t k = std::min(n, script->write_limit);
    script->written.append(static_cast<const char*>(buf), k);
    return static_cast<ssize_t>(k);
}

const TransportOps fake_transport = {
    fake_init, fake_close, fake_connect, fake_report, tcp_transport.strip_scheme,
    fake_read, fake_write,
};

class TransportTest : public testing::Test {
  protected:
    void SetUp() override {
        script = &script_;
        saved_ = transport;
        transport = &fake_transport;
        getrlimit(RLIMIT_NOFILE, &saved_nofile);
    }
    void TearDown() override {
        setrlimit(RLIMIT_NOFILE, &saved_nofile);
        transport = saved_;
        script = nullptr;
    }

    Script script_;
    StatusRecorder status_;

  private:
    const TransportOps* saved_ = nullptr;
};

Item request(const char* selector) {
    Item item;
    item.type = '1';
    item.host = "127.0.0.1";
    item.port = "70";
    item.selector = selector;
    return item;
}

using Messages = std::vector<std::string>;

struct ResponseCase {
    const char* name;
    std::vector<ReadStep> reads;
    const char* raw; // nullptr: no response stored
    Messages messages;
    size_t reads_made;
};

const std::string block_of_text = std::string(1024, 'x');
const std::string line_at_block_end = std::string(1020, 'x') + "\r\n";

const ResponseCase response_cases[] = {
    {"terminator in one read",
     {{"1a\ts\th\t70\r\n.\r\n"}, {"never read"}},
     "1a\ts\th\t70\r\n",
     {},
     1},
    {"terminator split", {{"0x\r\n."}, {"\r\n"}, {"never read"}}, "0x\r\n", {}, 2},
    {"terminator split after CR", {{"0x\r\n.\r"}, {"\n"}, {"never read"}}, "0x\r\n", {}, 2},
    {"terminator across blocks",
     {{line_at_block_end}, {".\r\n"}, {"never read"}},
     line_at_block_end.c_str(),
     {},
     3},
    {"closed without terminator", {{"text\r\nmore"}}, "text\r\nmore", {}, 2},
    {"terminator followed by data", {{"a\r\n.\r\nmore"}}, "a\r\n.\r\nmore", {}, 2},
    {"three other bytes", {{"abc"}}, "abc", {}, 2},
    {"four bytes", {{".\r\nX"}}, ".\r\nX", {}, 2},
    {"empty", {}, nullptr, {"Empty response from server"}, 1},
    {"only the terminator",
     {{".\r\n"}, {"never read"}},
     nullptr,
     {"Empty response from server"},
     1},
    {"only the terminator, split", {{"."}, {"\r\n"}}, nullptr, {"Empty response from server"}, 2},
    {"read error",
     {{"partial"}, {"", ECONNRESET}, {"never read"}},
     nullptr,
     {"Can't read socket: Connection reset by peer", "Empty response from server"},
     2},
};

TEST_F(TransportTest, ReceiveResponseEndsAtTerminatorOrClose) {
    for (const ResponseCase& c : response_cases) {
        SCOPED_TRACE(c.name);
        script_ = Script{};
        script_.reads = c.reads;
        recorded_status().clear();
        Item item = request("/menu");
        EXPECT_EQ(receive_response(&item), c.raw != nullptr);
        if (c.raw) {
            ASSERT_NE(item.raw, nullptr);
            EXPECT_EQ(std::string(item.raw.get()), c.raw);
        } else {
            EXPECT_EQ(item.raw, nullptr);
        }
        EXPECT_EQ(status_.messages(), c.messages);
        EXPECT_EQ(script_.read_sizes.size(), c.reads_made);
        EXPECT_EQ(script_.written, "/menu\r\n");
        EXPECT_EQ(script_.connects, 1);
        EXPECT_EQ(script_.closes, 1);
    }
}

TEST_F(TransportTest, ReceiveResponseOfExactlyOneBlock) {
    script_.reads = {{block_of_text}};
    Item item = request("");
    ASSERT_TRUE(receive_response(&item));
    EXPECT_EQ(strlen(item.raw.get()), 1024u);
    EXPECT_EQ(script_.read_sizes, (std::vector<size_t>{1024, 1024}));
}

TEST_F(TransportTest, ReceiveResponseReadsFillBlocksExactly) {
    // Chunks of 700 bytes: every read asks for the room left in its block.
    std::string body;
    for (int i = 0; i < 6; i++) {
        std::string chunk(700, static_cast<char>('a' + i));
        script_.reads.push_back({chunk});
        body += chunk;
    }
    Item item = request("/big");
    ASSERT_TRUE(receive_response(&item));
    EXPECT_EQ(std::string(item.raw.get()), body);
    ASSERT_EQ(script_.read_sizes.size(), script_.read_offsets.size());
    for (size_t i = 0; i < script_.read_sizes.size(); i++) {
        const size_t offset = script_.read_offsets[i];
        EXPECT_EQ(script_.read_sizes[i], 1024 - offset % 1024) << "at offset " << offset;
    }
    EXPECT_EQ(script_.read_offsets.back(), body.size());
}

TEST_F(TransportTest, ReceiveResponseStopsWhenTheRequestFails) {
    script_.write_errno = EPIPE;
    Item item = request("/x");
    EXPECT_FALSE(receive_response(&item));
    EXPECT_EQ(item.raw, nullptr);
    EXPECT_EQ(status_.messages(), Messages{"Can't send message: Broken pipe"});
    EXPECT_TRUE(script_.read_sizes.empty());
    EXPECT_EQ(script_.closes, 1);

    script_ = Script{};
    script_.connect_results = {-1};
    recorded_status().clear();
    EXPECT_FALSE(receive_response(&item));
    EXPECT_EQ(script_.reports, 1);
    EXPECT_TRUE(script_.write_sizes.empty());
    EXPECT_TRUE(script_.read_sizes.empty());
}

TEST_F(TransportTest, SendSelectorContinuesShortWrites) {
    for (const char* selector : {"abc", ""}) {
        SCOPED_TRACE(selector);
        script_ = Script{};
        script_.write_limit = 1;
        Connection conn;
        EXPECT_TRUE(send_selector(&conn, selector));
        EXPECT_EQ(script_.written, std::string(selector) + "\r\n");
        // Each write asks for exactly the rest of the line.
        const size_t line = strlen(selector) + 2;
        ASSERT_GE(script_.write_sizes.size(), line);
        for (size_t i = 0; i < line; i++)
            EXPECT_EQ(script_.write_sizes[i], line - i);
    }
    EXPECT_TRUE(status_.messages().empty());
}

TEST_F(TransportTest, SendSelectorReportsAFailedWrite) {
    script_.write_errno = EPIPE;
    Connection conn;
    EXPECT_FALSE(send_selector(&conn, "/sel"));
    EXPECT_EQ(status_.messages(), Messages{"Can't send message: Broken pipe"});
}

TEST_F(TransportTest, ConnectServerResultsOfConnect) {
    const struct {
        const char* name;
        std::vector<int> results;
        int result;
        int connects;
        int closes;
        int reports;
    } cases[] = {
        {"connected", {0}, 0, 1, 0, 0},
        {"positive passed back", {5}, 5, 1, 0, 0},
        {"retried with fresh sockets", {-2, -2, 0}, 0, 3, 2, 0},
        {"refused", {-1}, -1, 1, 1, 1},
        {"given up", {-3}, -3, 1, 1, 0},
        {"retried, then given up", {-2, -7}, -7, 2, 2, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script_ = Script{};
        script_.connect_results = c.results;
        Connection conn;
        EXPECT_EQ(connect_server("127.0.0.1", "70", &conn), c.result);
        EXPECT_EQ(script_.connects, c.connects);
        EXPECT_EQ(script_.closes, c.closes);
        EXPECT_EQ(script_.reports, c.reports);
        if (c.reports) {
            EXPECT_EQ(script_.report_err, ECONNREFUSED);
        }
        if (c.result >= 0) {
            EXPECT_GE(fcntl(conn.fd, F_GETFD), 0) << "the connected socket is open";
            close(conn.fd);
        }
    }
    EXPECT_TRUE(status_.messages().empty());
}

TEST_F(TransportTest, ConnectServerWhenNoSocketCanBeMade) {
    rlimit none = {0, saved_nofile.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    Connection conn;
    int result = connect_server("127.0.0.1", "70", &conn);
    setrlimit(RLIMIT_NOFILE, &saved_nofile);
    EXPECT_EQ(result, -1);
    EXPECT_EQ(script_.connects, 0);
    EXPECT_EQ(script_.reports, 1);
    EXPECT_EQ(script_.report_fd, -1);
    EXPECT_EQ(script_.report_err, EMFILE);
    EXPECT_TRUE(status_.messages().empty()) << status_.messages()[0];

    // A retry whose fresh socket fails stops with -2 and no report.
    script_ = Script{};
    script_.connect_results = {-2};
    script_.socket_limit_on_retry = true;
    result = connect_server("127.0.0.1", "70", &conn);
    setrlimit(RLIMIT_NOFILE, &saved_nofile);
    EXPECT_EQ(result, -2);
    EXPECT_EQ(script_.connects, 1);
    EXPECT_EQ(script_.reports, 0);
}

TEST_F(TransportTest, ConnectServerReportsAnUnresolvableHost) {
    Connection conn;
    EXPECT_LT(connect_server("127.0.0.1", "no-such-service-name", &conn), 0);
    ASSERT_EQ(status_.messages().size(), 1u);
    EXPECT_EQ(status_.messages()[0].rfind("Can't resolve hostname \"127.0.0.1\": ", 0), 0u)
        << status_.messages()[0];
    EXPECT_EQ(script_.connects, 0);
    EXPECT_EQ(script_.reports, 0);
}

TEST_F(TransportTest, PlainReportMessages) {
    Connection no_socket;
    tcp_transport.report_connect_error(&no_socket, "h", "70", EMFILE);
    Connection socket;
    socket.fd = 7;
    tcp_transport.report_connect_error(&socket, "h", "71", ECONNREFUSED);
    EXPECT_EQ(status_.messages(), (Messages{"Can't open socket: Too many open files",
                                            "Can't connect to: h:71: Connection refused"}));
}

// A file to download into, read back after the download; the descriptor
// stays open for the caller, who syncs and closes it.
class Destination {
  public:
    Destination() {
        char path[] = "/tmp/tolm-unit-dl-XXXXXX";
        fd = mkstemp(path);
        path_ = path;
    }
    ~Destination() {
        close(fd);
        unlink(path_.c_str());
    }
    std::string contents() const {
        std::string out;
        int in = open(path_.c_str(), O_RDONLY);
        char buf[4096];
        ssize_t n;
        while ((n = read(in, buf, sizeof buf)) > 0)
            out.append(buf, static_cast<size_t>(n));
        close(in);
        return out;
    }
    const std::string& path() const { return path_; }
    bool still_open() const { return fcntl(fd, F_GETFD) != -1; }

    int fd;

  private:
    std::string path_;
};

// download_item's messages go to standard output, not through show_status.
// The download's messages, which go through show_status and never onto
// standard output, where batch mode's data goes.
int download_capturing(const Item& item, int fd, std::string* out) {
    StatusRecorder status;
    fflush(stdout);
    testing::internal::CaptureStdout();
    int result = download_item(&item, fd);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    out->clear();
    for (const std::string& m : status.messages())
        *out += m;
    return result;
}

TEST_F(TransportTest, DownloadCopiesEveryByte) {
    const std::string big(3000, 'b');
    script_.reads = {{"first"}, {big}, {"\r\n.\r\n"}};
    Destination dest;
    Item item = request("/file.bin");
    std::string out;
    EXPECT_EQ(download_capturing(item, dest.fd, &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(dest.still_open());
    EXPECT_EQ(dest.contents(), "first" + big + "\r\n.\r\n");
    EXPECT_EQ(script_.written, "/file.bin\r\n");
    EXPECT_EQ(script_.closes, 1);
    for (size_t n : script_.read_sizes)
        EXPECT_LE(n, 1024u);
}

TEST_F(TransportTest, DownloadOfNothingIsAnEmptyFile) {
    Destination dest;
    Item item = request("/empty");
    std::string out;
    EXPECT_EQ(download_capturing(item, dest.fd, &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(dest.contents(), "");
}

// Bytes that differ along a block, so that a write from the wrong place shows.
std::string pattern(size_t n, unsigned seed) {
    std::string out(n, '\0');
    for (size_t i = 0; i < n; i++)
        out[i] = static_cast<char>((i * 7 + seed) % 251);
    return out;
}

TEST_F(TransportTest, DownloadContinuesShortWrites) {
    const std::string blocks[] = {pattern(1024, 1), pattern(1024, 2), pattern(500, 3)};
    script_.reads = {{blocks[0]}, {blocks[1]}, {blocks[2]}};
    Destination dest;
    narrow_fd = dest.fd;
    narrow_bytes = 300;
    narrow_sizes.clear();
    Item item = request("/f");
    std::string out;
    int result = download_capturing(item, dest.fd, &out);
    narrow_fd = -1;
    EXPECT_EQ(result, 1);
    EXPECT_EQ(out, "");
    EXPECT_TRUE(dest.contents() == blocks[0] + blocks[1] + blocks[2])
        << "bytes lost, repeated or out of order";
    // Every write asks for the rest of its block, never for the next one.
    EXPECT_EQ(narrow_sizes,
              (std::vector<size_t>{1024, 724, 424, 124, 1024, 724, 424, 124, 500, 200}));
}

TEST_F(TransportTest, DownloadReadErrorKeepsWhatCame) {
    script_.reads = {{"abc"}, {"", ECONNRESET}, {"never read"}};
    Destination dest;
    Item item = request("/f");
    std::string out;
    EXPECT_EQ(download_capturing(item, dest.fd, &out), 0);
    EXPECT_EQ(out, "Error downloading file /f: Connection reset by peer");
    EXPECT_EQ(errno, 0);
    EXPECT_TRUE(dest.still_open());
    EXPECT_EQ(dest.contents(), "abc");
    EXPECT_EQ(script_.closes, 1);
}

TEST_F(TransportTest, DownloadStopsAtAFailedWrite) {
    int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    script_.reads = {{"abc"}, {"def"}, {"ghi"}};
    Item item = request("/full");
    std::string out;
    EXPECT_EQ(download_capturing(item, full, &out), 0);
    EXPECT_EQ(out, std::string("Error downloading file /full: ") + strerror(ENOSPC));
    EXPECT_EQ(script_.read_sizes.size(), 1u) << "no block read after the failed write";
    EXPECT_NE(fcntl(full, F_GETFD), -1) << "the caller's descriptor was closed";
    close(full);
    EXPECT_EQ(script_.closes, 1);
}

TEST_F(TransportTest, DownloadFromTheRememberedFile) {
    Destination source;
    const std::string data = std::string(2500, 'r') + "end";
    ASSERT_EQ(write(source.fd, data.data(), data.size()), static_cast<ssize_t>(data.size()));
    close(source.fd);
    script_.real_reads = true;

    Destination dest;
    // A connection would reach the fake transport, which counts it.
    Item item = request("/f");
    item.extra.reset(strdup(source.path().c_str()));
    std::string out;
    EXPECT_EQ(download_capturing(item, dest.fd, &out), 1);
    EXPECT_EQ(out, "");
    EXPECT_EQ(dest.contents(), data);
    EXPECT_EQ(script_.connects, 0);
    EXPECT_EQ(script_.written, "");
    EXPECT_EQ(script_.closes, 1);
}

TEST_F(TransportTest, DownloadFromAnUnreadableRememberedFile) {
    Destination dest;
    Item item = request("/f");
    item.extra.reset(strdup("/nonexistent/tolm/f.bin"));
    std::string out;
    EXPECT_EQ(download_capturing(item, dest.fd, &out), 0);
    EXPECT_EQ(out, "Can't open source file /nonexistent/tolm/f.bin: No such file or directory");
    EXPECT_EQ(errno, 0);
    EXPECT_TRUE(dest.still_open());
    EXPECT_EQ(script_.connects, 0);
    EXPECT_TRUE(script_.read_sizes.empty());
}

TEST_F(TransportTest, DownloadWhenTheServerIsUnreachable) {
    script_.connect_results = {-1};
    Destination dest;
    Item item = request("/f");
    std::string out;
    EXPECT_EQ(download_capturing(item, dest.fd, &out), 0);
    EXPECT_EQ(out, "");
    EXPECT_EQ(script_.reports, 1);
    EXPECT_TRUE(dest.still_open());
    EXPECT_TRUE(script_.write_sizes.empty());
}

// The C library reads a port as strtoul does (a sign, leading blanks, and
// wrapping past 65535): " 105567" would reach port 40031. A name or a
// service name is looked up in a child, whose answer crosses a socket entry
// by entry: connect gets the address as the system gave it.
TEST_F(TransportTest, PortsAndNamesReachConnectWhole) {
    const struct {
        const char *host, *port, *reached; // nullptr: refused before any connect
    } cases[] = {
        {"127.0.0.1", "70", "70"},         {"localhost", "70", "70"},
        {"127.0.0.1", "gopher", "70"},     {"127.0.0.1", "070", "70"},
        {"127.0.0.1", "65535", "65535"},   {"127.0.0.1", "65536", nullptr},
        {"127.0.0.1", "+105567", nullptr}, {"127.0.0.1", " 105567", nullptr},
        {"127.0.0.1", "\t70", nullptr},    {"127.0.0.1", "-1", nullptr},
        {"127.0.0.1", "+70", nullptr},     {"127.0.0.1", "70 ", nullptr},
        {"127.0.0.1", "7x0", nullptr},     {"127.0.0.1", "0x46", nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.host) + " port '" + c.port + "'");
        script_ = Script{};
        script_.connect_results = {-1, -1};
        recorded_status().clear();
        Connection conn;
        EXPECT_EQ(connect_server(c.host, c.port, &conn), -1);
        if (!c.reached) {
            EXPECT_EQ(script_.connects, 0);
            EXPECT_EQ(status_.messages(), Messages{"Can't resolve hostname \"127.0.0.1\": " +
                                                   std::string(gai_strerror(EAI_SERVICE))});
            continue;
        }
        ASSERT_FALSE(script_.addresses.empty());
        for (const std::string& a : script_.addresses)
            EXPECT_TRUE(a == "127.0.0.1 " + std::string(c.reached) || a == "::1 70") << a;
    }
}

// A CR in a selector (a menu line can carry one) would end the request
// line early and send the rest as a second request.
TEST_F(TransportTest, SelectorWithALineBreakIsNeverSent) {
    for (const char* selector : {"/a\rFLUSHALL", "/a\nb", "\r"}) {
        SCOPED_TRACE(selector);
        script_ = Script{};
        recorded_status().clear();
        Item item = request(selector);
        EXPECT_FALSE(receive_response(&item));
        EXPECT_EQ(item.raw, nullptr);
        EXPECT_EQ(status_.messages(), Messages{"Can't send message: Invalid argument"});
        Destination dest;
        std::string out;
        EXPECT_EQ(download_capturing(item, dest.fd, &out), 0);
        EXPECT_TRUE(dest.still_open());
        EXPECT_EQ(out, "Can't send message: Invalid argument");
        EXPECT_EQ(script_.connects, 0);
        EXPECT_EQ(script_.written, "");
    }
}

TEST(CrossingTest, AddressClassesAndWhichCrossingsAsk) {
    const struct {
        Reach reach;
        std::vector<const char*> addresses;
    } classes[] = {
        {Reach::loopback,
         {"127.0.0.1", "127.200.3.4", "0.0.0.0", "::1", "::", "::ffff:127.0.0.1",
          "::ffff:0.0.0.0"}},
        {Reach::local,
         {"10.77.0.1", "172.16.0.1", "172.31.255.255", "192.168.1.1", "169.254.0.5", "fc00::1",
          "fdff:ffff::1", "fe80::1", "febf::1", "::ffff:192.168.0.1", "::ffff:169.254.1.1"}},
        {Reach::global,
         {"172.15.255.255", "172.32.0.0", "192.169.0.1", "11.0.0.1", "128.0.0.1", "192.0.2.1",
          "fec0::1", "2001:db8::1", "::2", "::ffff:192.0.2.1"}},
    };
    for (const auto& c : classes)
        for (const char* text : c.addresses) {
            addrinfo hints = {};
            hints.ai_flags = AI_NUMERICHOST;
            addrinfo* found = nullptr;
            ASSERT_EQ(getaddrinfo(text, "70", &hints, &found), 0) << text;
            EXPECT_EQ(reach_of(found->ai_addr), c.reach) << text;
            freeaddrinfo(found);
        }

    const Reach all[] = {Reach::none, Reach::loopback, Reach::local, Reach::global};
    for (Reach page : all)
        for (Reach target : all) {
            bool asks =
                (page == Reach::global && (target == Reach::local || target == Reach::loopback)) ||
                (page == Reach::local && target == Reach::loopback);
            EXPECT_EQ(crossing_asks(page, target), asks)
                << static_cast<int>(page) << " to " << static_cast<int>(target);
        }
}

std::vector<std::string> questions;
bool answer = false;
bool record_question(const char* question) {
    questions.emplace_back(question);
    return answer;
}

// A page from example.org and its line; only its lines are the page's
// word, and only where its origin lies farther out than their address.
class CrossingConnectTest : public TransportTest {
  protected:
    void SetUp() override {
        TransportTest::SetUp();
        questions.clear();
        answer = false;
        set_crossing_hook(record_question);
        page_.host = "example.org";
        page_.origin = Reach::global;
        page_.parent = &page_;
        page_.dir = std::make_unique<Dir>();
        page_.dir->items = ItemArray(1);
        page_.dir->count = 1;
        Item& line = page_.dir->items.add();
        line.type = '1';
        line.host = "127.0.0.1";
        line.port = "6379";
        line.selector = "FLUSHALL";
        line.parent = &page_;
    }
    void TearDown() override {
        set_crossing_hook(nullptr);
        TransportTest::TearDown();
    }
    Item& line() { return page_.dir->items[0]; }

    Item page_;
};

// Declined, quietly, when nobody can be asked; agreed, fetched, and the new
// page remembers that it came from this machine.
TEST_F(CrossingConnectTest, LineLeadingInwardIsFetchedOnlyWhenAgreed) {
    Item& inward = line();
    set_crossing_hook(nullptr);
    EXPECT_FALSE(receive_response(&inward));
    EXPECT_EQ(script_.connects, 0);
    EXPECT_TRUE(status_.messages().empty());

    set_crossing_hook(record_question);
    answer = true;
    script_.reads = {{"iX\t\tnull.host\t1\r\n.\r\n"}};
    ASSERT_TRUE(receive_response(&inward));
    EXPECT_EQ(questions, Messages{"Connect to 127.0.0.1:6379 (this machine), named by a page "
                                  "from example.org? (y/N)"});
    EXPECT_EQ(script_.written, "FLUSHALL\r\n");
    EXPECT_EQ(inward.origin, Reach::loopback);
}

TEST_F(CrossingConnectTest, OnlyAFetchedPagesOwnLinesAreAsked) {
    enum Kind { own_line, typed, root };
    const struct {
        const char* name;
        Reach origin;
        Kind kind;
        const char* host;
        bool asked;
    } cases[] = {
        {"global page, line to a private net", Reach::global, own_line, "10.1.2.3", true},
        {"global page, line outward", Reach::global, own_line, "192.0.2.7", false},
        {"page never fetched (bookmarks)", Reach::none, own_line, "127.0.0.1", false},
        {"URL typed on the page", Reach::global, typed, "127.0.0.1", false},
        {"the root, the user's own wherever it is", Reach::global, root, "127.0.0.1", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        script_ = Script{};
        questions.clear();
        page_.origin = c.origin;
        Item other;
        Item& item = c.kind == own_line ? line() : other;
        item.host = c.host;
        item.port = "70";
        item.parent = c.kind == root ? &item : &page_;
        if (c.kind == root) item.origin = c.origin; // a page's line has the page's
        Connection conn;
        int result = connect_server(item.host, item.port, &conn, &item);
        EXPECT_EQ(questions.size(), c.asked ? 1u : 0u);
        EXPECT_EQ(script_.connects, c.asked ? 0 : 1);
        if (result >= 0) close(conn.fd);
    }
}

// A page fetched again takes where the new connection led along with its
// menu: its lines are asked about from there, not from where the first
// fetch went.
TEST_F(CrossingConnectTest, ReloadedPageTakesTheOriginOfItsNewResponse) {
    Item page = request("/m");
    page.origin = Reach::global;
    page.parent = &page;
    script_.reads = {{"1Inside\t/in\t127.0.0.1\t70\r\n.\r\n"}};
    ASSERT_TRUE(reload_page(&page));
    ASSERT_TRUE(page.dir && page.dir->count == 1);
    EXPECT_EQ(page.origin, Reach::loopback);
    Connection conn;
    Item& inside = page.dir->items[0];
    inside.parent = &page;
    ASSERT_EQ(connect_server(inside.host, inside.port, &conn, &inside), 0);
    close(conn.fd);
    EXPECT_TRUE(questions.empty());
}

// A gopher server on loopback for one request: answers with reply and
// then waits for the client to hang up.
class LoopbackServer {
  public:
    explicit LoopbackServer(std::string reply) {
        listener_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in addr = {};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(listener_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        socklen_t len = sizeof addr;
        getsockname(listener_, reinterpret_cast<sockaddr*>(&addr), &len);
        port_ = std::to_string(ntohs(addr.sin_port));
        listen(listener_, 1);
        thread_ = std::thread([this, reply = std::move(reply)] { serve(reply); });
    }
    ~LoopbackServer() {
        if (thread_.joinable()) thread_.join();
        close(listener_);
    }
    const std::string& port() const { return port_; }
    // Joins the server; what it read, and whether the client closed first.
    std::string finish(bool* client_closed) {
        thread_.join();
        *client_closed = client_closed_;
        return request_;
    }

  private:
    void serve(const std::string& reply) {
        pollfd p = {listener_, POLLIN, 0};
        if (poll(&p, 1, 5000) != 1) return;
        int fd = accept(listener_, nullptr, nullptr);
        char buf[256];
        ssize_t n;
        while (request_.find('\n') == std::string::npos && (n = read(fd, buf, sizeof buf)) > 0)
            request_.append(buf, static_cast<size_t>(n));
        (void)!write(fd, reply.data(), reply.size());
        pollfd q = {fd, POLLIN, 0};
        client_closed_ = poll(&q, 1, 5000) == 1 && read(fd, buf, sizeof buf) == 0;
        close(fd);
    }

    int listener_;
    std::string port_;
    std::thread thread_;
    std::string request_;
    bool client_closed_ = false;
};

TEST(TransportLoopbackTest, ReceiveResponseOverTcp) {
    StatusRecorder status;
    LoopbackServer server("iHello\t\tnull.host\t1\r\n.\r\n");
    Item item;
    item.host = "127.0.0.1";
    item.port = server.port().c_str();
    item.selector = "/dir";
    ASSERT_TRUE(receive_response(&item));
    EXPECT_STREQ(item.raw.get(), "iHello\t\tnull.host\t1\r\n");
    bool client_closed = false;
    EXPECT_EQ(server.finish(&client_closed), "/dir\r\n");
    EXPECT_TRUE(client_closed) << "the client waited for the server to close";
    EXPECT_TRUE(status.messages().empty());
}

TEST(TransportLoopbackTest, RefusedConnectionIsReportedOnce) {
    StatusRecorder status;
    // Bound but not listening: connecting to it is refused.
    int s = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr = {};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    socklen_t len = sizeof addr;
    getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len);
    const std::string port = std::to_string(ntohs(addr.sin_port));
    Connection conn;
    EXPECT_EQ(connect_server("127.0.0.1", port.c_str(), &conn), -1);
    close(s);
    EXPECT_EQ(status.messages(),
              Messages{"Can't connect to: 127.0.0.1:" + port + ": Connection refused"});
}

} // namespace
