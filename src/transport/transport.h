// The table of transport operations and the gopher exchange over it.
// Results: the table's operations and connect_server, which passes on the
// table's connect result, keep the descriptor convention (negative for a
// failure); every other function returns a bool, true on success and false
// after a failure that it reported (a cancel or a declined address is not
// reported).
#pragma once

#include <sys/types.h>

#include "items/item.h"

struct addrinfo;

// One request's socket, or a local file's descriptor (downloads).
struct Connection {
    int fd = -1;
    Reach reach = Reach::none; // the class of the address connected to
};

struct TransportOps {
    // Called once at start-up; returns 0 (nobody looks at the result).
    int (*init)();
    // Closes the connection's descriptor.
    void (*close)(Connection* conn);
    // 0 or more connected; -1 try the next address; -2 retry this address
    // with a fresh socket; other negatives give up without a report.
    int (*connect)(Connection* conn, const addrinfo* addr, const char* host);
    // Reports the last failure of connect_server: err is its errno, and
    // conn->fd -1 says the socket itself could not be made.
    void (*report_connect_error)(Connection* conn, const char* host, const char* port, int err);
    // Returns where the host begins in url; dies for a scheme other than gopher.
    char* (*strip_scheme)(char* url);
    // As read() and write(): bytes moved, 0 at end of input, or -1 with
    // errno set.
    ssize_t (*read)(Connection* conn, void* buf, size_t n);
    ssize_t (*write)(Connection* conn, const void* buf, size_t n);
};

// The plain TCP table.
extern const TransportOps tcp_transport;
// The table in use; fixed for a run (tests may point it at a fake).
extern const TransportOps* transport;

// Connects to host:port, trying every address in order; reports only the
// last failure. Returns >= 0 when connected, negative otherwise (no socket
// left open). SIGWINCH is blocked meanwhile. For item, the one the
// request is for, an address that its page may not name unasked is put to
// the user first (crossing.h); declined, it gives up unreported.
[[nodiscard]] int connect_server(const char* host, const char* port, Connection* conn,
                                 const Item* item = nullptr);

// Whether selector can be sent as one request line: false, reported as a
// failure to send (EINVAL), when it holds a CR or LF, which would end the
// line early and let the rest reach the server as a request of its own.
[[nodiscard]] bool sendable_selector(const char* selector);

// Writes selector and CR LF.
[[nodiscard]] bool send_selector(Connection* conn, const char* selector);

// Fetches item (host, port, request_text) into item->raw and records in
// item->origin where it came from; raw stays nullptr on failure.
[[nodiscard]] bool receive_response(Item* item);

// What a fetch tells the progress hook while the connection is not yet
// made, in place of a byte count.
inline constexpr long long fetch_connecting = -1;

// Set by the interactive driver (nullptr in batch mode): called during
// every fetch with the item and the bytes received so far (or
// fetch_connecting), and with nullptr once the fetch is over.
void set_progress_hook(void (*hook)(const Item* item, long long received));

// For the life of one fetch: the terminal's keys watched, so that the user
// can cancel it, and progress reported to the hook.
class FetchScope {
  public:
    explicit FetchScope(const Item& item);
    ~FetchScope();
    FetchScope(const FetchScope&) = delete;
    FetchScope& operator=(const FetchScope&) = delete;
    void report(long long received) const;
    // Whether the user cancelled this fetch.
    bool cancelled() const;

  private:
    const Item& item_;
    bool watched_before_;
};

// Connects to item's server and sends request (the selector, or selector
// TAB query), under fetch: conn then holds the open connection. No
// connection is made for a request that cannot be sent; on failure nothing
// is left open.
[[nodiscard]] bool open_request(const Item* item, const char* request, Connection* conn,
                                const FetchScope& fetch);
