#include "transport/transport.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/item.h"
#include "items/uri.h"
#include "transport/crossing.h"
#include "transport/resolve.h"

namespace {

// A connect result that gives up at once without a report: the user
// cancelled the fetch.
constexpr int connect_cancelled = -3;
// Likewise: the user declined an address that a page named.
constexpr int connect_declined = -4;

void (*progress_hook)(const Item* item, long long received) = nullptr;

int tcp_init() {
    return 0;
}

void tcp_close(Connection* conn) {
    close(conn->fd);
}

// Connecting waits in wait_fd, where an ending signal is seen (an
// interrupted connect would go on in the background). Afterwards the socket
// blocks again: reads and writes are interrupted by the signals themselves.
// Under the key watch it stays non-blocking, so that a read with nothing
// to read waits in wait_fd, where a key can cancel it.
int tcp_connect(Connection* conn, const addrinfo* addr, const char*) {
    int flags = fcntl(conn->fd, F_GETFL);
    fcntl(conn->fd, F_SETFL, flags | O_NONBLOCK);
    int r = connect(conn->fd, addr->ai_addr, addr->ai_addrlen);
    if (r < 0 && errno == EINPROGRESS) {
        if (wait_fd(conn->fd, POLLOUT) < 0) return errno == ECANCELED ? connect_cancelled : -1;
        int err = 0;
        socklen_t len = sizeof err;
        if (getsockopt(conn->fd, SOL_SOCKET, SO_ERROR, &err, &len) < 0) return -1;
        errno = err;
        r = err ? -1 : 0;
    }
    int saved = errno;
    if (!keys_watched()) fcntl(conn->fd, F_SETFL, flags);
    errno = saved;
    return r;
}

void tcp_report_connect_error(Connection* conn, const char* host, const char* port, int err) {
    if (conn->fd == -1)
        show_status("Can't open socket: %s", strerror(err));
    else
        show_status("Can't connect to: %s:%s: %s", host, port, strerror(err));
}

char* tcp_strip_scheme(char* url) {
    int len = 0;
    char* rest = after_scheme(url, &len);
    if (!rest) die("Protocol not supported: %.*s", len, url);
    return rest;
}

ssize_t tcp_read(Connection* conn, void* buf, size_t n) {
    return read_fd(conn->fd, buf, n, Wait::on_block);
}

ssize_t tcp_write(Connection* conn, const void* buf, size_t n) {
    return write_fd(conn->fd, buf, n, Wait::on_block);
}

// Blocks SIGWINCH for the life of the object.
class WinchBlocked {
  public:
    WinchBlocked() {
        sigset_t winch;
        sigemptyset(&winch);
        sigaddset(&winch, SIGWINCH);
        sigprocmask(SIG_BLOCK, &winch, &old_);
    }
    ~WinchBlocked() { sigprocmask(SIG_SETMASK, &old_, nullptr); }
    WinchBlocked(const WinchBlocked&) = delete;
    WinchBlocked& operator=(const WinchBlocked&) = delete;

  private:
    sigset_t old_;
};

} // namespace

const TransportOps tcp_transport = {
    tcp_init,         tcp_close, tcp_connect, tcp_report_connect_error,
    tcp_strip_scheme, tcp_read,  tcp_write,
};
const TransportOps* transport = &tcp_transport;

int connect_server(const char* host, const char* port, Connection* conn, const Item* item) {
    WinchBlocked blocked;
    addrinfo hints = {};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* list = nullptr;
    if (!resolve_host(host, port, &hints, &list)) return -1;
    int result = -1;
    int err = 0;
    // One question for the request: once agreed, the other addresses of the
    // same name are tried as well.
    bool agreed = !item;
    for (addrinfo* a = list; a; a = a->ai_next) {
        if (!agreed && crossing_needs_asking(*item, a->ai_addr)) {
            // The status row is the question's: a redraw after a resize
            // would otherwise put the progress over it. The next report
            // brings the progress back.
            if (progress_hook) progress_hook(nullptr, 0);
            if (!crossing_agreed(*item, a->ai_addr)) {
                result = connect_declined;
                break;
            }
            agreed = true;
        }
        conn->fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
        if (conn->fd == -1) {
            err = errno;
            result = -1;
            continue;
        }
        for (;;) {
            result = transport->connect(conn, a, host);
            if (result >= 0) {
                conn->reach = reach_of(a->ai_addr);
                free_resolved(list);
                return result;
            }
            err = errno;
            transport->close(conn);
            if (result != -2) break;
            conn->fd = socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC, a->ai_protocol);
            if (conn->fd == -1) break;
        }
        if (result != -1) break;
    }
    free_resolved(list);
    if (result == -1) transport->report_connect_error(conn, host, port, err);
    return result;
}

bool sendable_selector(const char* selector) {
    if (!strpbrk(selector, "\r\n")) return true;
    show_status("Can't send message: %s", strerror(EINVAL));
    errno = EINVAL;
    return false;
}

bool send_selector(Connection* conn, const char* selector) {
    size_t len = strlen(selector);
    char* line = static_cast<char*>(alloc_or_die(len + 3));
    snprintf(line, len + 3, "%s\r\n", selector);
    const char* p = line;
    size_t left = len + 2;
    ssize_t w;
    while ((w = transport->write(conn, p, left)) > 0) {
        p += w;
        left -= static_cast<size_t>(w);
    }
    int saved = errno;
    free(line);
    if (w == -1 && saved != ECANCELED) show_status("Can't send message: %s", strerror(saved));
    errno = saved;
    return w != -1;
}

void set_progress_hook(void (*hook)(const Item* item, long long received)) {
    progress_hook = hook;
}

FetchScope::FetchScope(const Item& item) : item_(item), watched_before_(watch_keys(true)) {}

FetchScope::~FetchScope() {
    watch_keys(watched_before_);
    if (progress_hook) progress_hook(nullptr, 0);
}

void FetchScope::report(long long received) const {
    if (progress_hook) progress_hook(&item_, received);
}

bool FetchScope::cancelled() const {
    return keys_cancelled();
}

bool open_request(const Item* item, const char* request, Connection* conn,
                  const FetchScope& fetch) {
    if (!sendable_selector(request)) return false;
    fetch.report(fetch_connecting);
    if (connect_server(item->host, item->port, conn, item) < 0) return false;
    if (!send_selector(conn, request)) {
        transport->close(conn);
        return false;
    }
    return true;
}

bool receive_response(Item* item) {
    FetchScope fetch(*item);
    Connection conn;
    if (!open_request(item, request_text(*item), &conn, fetch)) return false;
    fetch.report(0);

    constexpr size_t block = 1024;
    char* buf = nullptr;
    size_t blocks = 0;
    size_t len = 0;
    for (;;) {
        if (len == blocks * block) {
            buf = static_cast<char*>(resize_array_or_die(buf, blocks + 1, block));
            blocks++;
        }
        ssize_t r = transport->read(&conn, buf + len, blocks * block - len);
        if (r == -1) {
            if (!fetch.cancelled()) show_status("Can't read socket: %s", strerror(errno));
            free(buf);
            transport->close(&conn);
            if (!fetch.cancelled()) show_status("Empty response from server");
            return false;
        }
        if (r < 1) {
            buf[len] = '\0';
            break;
        }
        len += static_cast<size_t>(r);
        fetch.report(static_cast<long long>(len));
        if (len >= 5 && memcmp(buf + len - 5, "\r\n.\r\n", 5) == 0) {
            buf[len - 3] = '\0';
            break;
        }
        if (len == 3 && memcmp(buf, ".\r\n", 3) == 0) {
            buf[0] = '\0';
            break;
        }
    }
    transport->close(&conn);
    if (buf[0] == '\0') {
        show_status("Empty response from server");
        free(buf);
        return false;
    }
    item->raw.reset(buf);
    item->origin = conn.reach;
    return true;
}
