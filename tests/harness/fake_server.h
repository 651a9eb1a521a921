// A scripted gopher server on loopback, running in the test process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace tolmtest {

// What the server does with one request.
struct Script {
    enum class End {
        Close,  // close the connection normally (FIN)
        Reset,  // close with a connection reset (SO_LINGER 0: RST)
        Silent, // send nothing more, hold the connection until the server goes
    };
    std::vector<std::string> chunks;         // sent in this order
    std::chrono::milliseconds pause{0};      // between two chunks
    std::chrono::milliseconds before_end{0}; // after the last chunk, before the end
    bool hold = false; // the chunks after the first wait for FakeServer::release()
    End end = End::Close;

    // bytes, then close.
    static Script send(std::string bytes);
    // chunks with pauses between them, then close.
    static Script chunked(std::vector<std::string> chunks, std::chrono::milliseconds pause);
    // first, then rest once the test calls FakeServer::release(), then close.
    static Script held(std::string first, std::string rest);
    // no answer at all; the connection stays open.
    static Script silent();
    // bytes, a pause so that they arrive, then a reset.
    static Script reset_after(std::string bytes, std::chrono::milliseconds pause);
};

class FakeServer {
  public:
    // Listens on address, an IPv4 address of this machine's (and on ::1
    // with the same port when also_ipv6), on an ephemeral port.
    explicit FakeServer(bool also_ipv6 = false, std::string address = "127.0.0.1");
    // Stops accepting, ends every connection (silent ones too) and joins.
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    uint16_t port() const { return port_; }
    bool has_ipv6() const { return listen6_ >= 0; }
    // "gopher://ADDRESS:PORT" followed by path.
    std::string url(const std::string& path = "") const;

    // The script for a request line (selector without CR LF).
    void on(const std::string& selector, Script script);
    // The script for every other request line (default: an empty answer).
    void set_default(Script script);

    // Request lines received, in order, without their CR LF.
    std::vector<std::string> requests() const;
    // Exactly the bytes received on each connection.
    std::vector<std::string> raw_requests() const;
    // Connections accepted so far.
    size_t connections() const;
    // Lets held scripts go on, now and from now on.
    void release();
    // Waits until count request lines have arrived.
    bool wait_for_requests(size_t count, std::chrono::milliseconds timeout);

  private:
    void accept_loop();
    void serve(int fd);
    Script script_for(const std::string& selector) const;
    // Waits for the stop signal; true when it came within the time.
    bool stopped_within(std::chrono::milliseconds t) const;
    // Waits for release() or the stop signal; true when released.
    bool released() const;

    std::string address_;
    int listen4_ = -1;
    int listen6_ = -1;
    int stop_pipe_[2] = {-1, -1};
    int release_pipe_[2] = {-1, -1}; // readable once released
    uint16_t port_ = 0;

    mutable std::mutex mu_;
    std::condition_variable cv_;
    std::map<std::string, Script> scripts_;
    Script default_script_;
    std::vector<std::string> requests_;
    std::vector<std::string> raw_requests_;
    size_t connections_ = 0;
    std::vector<std::thread> workers_;
    std::thread acceptor_;
};

// A port on 127.0.0.1 that refuses connections: bound but not listening,
// and held so for the object's life, so that no other program gets it.
class RefusedPort {
  public:
    RefusedPort();
    ~RefusedPort();
    RefusedPort(const RefusedPort&) = delete;
    RefusedPort& operator=(const RefusedPort&) = delete;
    uint16_t port() const { return port_; }

  private:
    int fd_ = -1;
    uint16_t port_ = 0;
};

} // namespace tolmtest
