#include "fake_server.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace tolmtest {

using std::chrono::milliseconds;

Script Script::send(std::string bytes) {
    Script s;
    s.chunks.push_back(std::move(bytes));
    return s;
}

Script Script::chunked(std::vector<std::string> chunks, milliseconds pause) {
    Script s;
    s.chunks = std::move(chunks);
    s.pause = pause;
    return s;
}

Script Script::held(std::string first, std::string rest) {
    Script s;
    s.chunks = {std::move(first), std::move(rest)};
    s.hold = true;
    return s;
}

Script Script::silent() {
    Script s;
    s.end = End::Silent;
    return s;
}

Script Script::reset_after(std::string bytes, milliseconds pause) {
    Script s;
    s.chunks.push_back(std::move(bytes));
    s.before_end = pause;
    s.end = End::Reset;
    return s;
}

namespace {

int listen_on(int family, uint16_t port, const std::string& address) {
    int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    int r;
    if (family == AF_INET) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &a.sin_addr);
        r = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    } else {
        setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
        sockaddr_in6 a{};
        a.sin6_family = AF_INET6;
        a.sin6_port = htons(port);
        a.sin6_addr = in6addr_loopback;
        r = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    if (r != 0 || listen(fd, 64) != 0) {
        close(fd);
        return -1;
    }
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    return fd;
}

uint16_t local_port(int fd) {
    sockaddr_storage a{};
    socklen_t len = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    if (a.ss_family == AF_INET) return ntohs(reinterpret_cast<sockaddr_in*>(&a)->sin_port);
    return ntohs(reinterpret_cast<sockaddr_in6*>(&a)->sin6_port);
}

} // namespace

FakeServer::FakeServer(bool also_ipv6, std::string address) : address_(std::move(address)) {
    if (pipe2(stop_pipe_, O_CLOEXEC) != 0 || pipe2(release_pipe_, O_CLOEXEC) != 0)
        ADD_FAILURE() << "pipe: " << strerror(errno);
    default_script_ = Script::send("");
    // The IPv6 listener must get the same port: retry with fresh ports.
    for (int attempt = 0; attempt < 20; ++attempt) {
        listen4_ = listen_on(AF_INET, 0, address_);
        if (listen4_ < 0) break;
        port_ = local_port(listen4_);
        if (!also_ipv6) break;
        listen6_ = listen_on(AF_INET6, port_, "");
        if (listen6_ >= 0) break;
        close(listen4_);
        listen4_ = -1;
    }
    if (listen4_ < 0) {
        ADD_FAILURE() << "fake server: cannot listen on " << address_ << ": " << strerror(errno);
        return;
    }
    if (also_ipv6 && listen6_ < 0) ADD_FAILURE() << "fake server: cannot listen on ::1";
    acceptor_ = std::thread([this] { accept_loop(); });
}

FakeServer::~FakeServer() {
    if (stop_pipe_[1] >= 0) {
        char c = 'x';
        ssize_t ignored = write(stop_pipe_[1], &c, 1);
        (void)ignored;
    }
    if (acceptor_.joinable()) acceptor_.join();
    // No new workers once the acceptor has ended.
    for (auto& t : workers_)
        t.join();
    for (int fd :
         {listen4_, listen6_, stop_pipe_[0], stop_pipe_[1], release_pipe_[0], release_pipe_[1]})
        if (fd >= 0) close(fd);
}

std::string FakeServer::url(const std::string& path) const {
    return "gopher://" + address_ + ":" + std::to_string(port_) + path;
}

void FakeServer::on(const std::string& selector, Script script) {
    std::lock_guard lock(mu_);
    scripts_[selector] = std::move(script);
}

void FakeServer::set_default(Script script) {
    std::lock_guard lock(mu_);
    default_script_ = std::move(script);
}

std::vector<std::string> FakeServer::requests() const {
    std::lock_guard lock(mu_);
    return requests_;
}

std::vector<std::string> FakeServer::raw_requests() const {
    std::lock_guard lock(mu_);
    return raw_requests_;
}

size_t FakeServer::connections() const {
    std::lock_guard lock(mu_);
    return connections_;
}

void FakeServer::release() {
    char c = 'r';
    ssize_t ignored = write(release_pipe_[1], &c, 1);
    (void)ignored;
}

bool FakeServer::wait_for_requests(size_t count, milliseconds timeout) {
    std::unique_lock lock(mu_);
    return cv_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

Script FakeServer::script_for(const std::string& selector) const {
    std::lock_guard lock(mu_);
    auto it = scripts_.find(selector);
    return it != scripts_.end() ? it->second : default_script_;
}

bool FakeServer::stopped_within(milliseconds t) const {
    pollfd p{stop_pipe_[0], POLLIN, 0};
    int r;
    do
        r = poll(&p, 1, static_cast<int>(t.count()));
    while (r < 0 && errno == EINTR);
    return r > 0;
}

bool FakeServer::released() const {
    pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {release_pipe_[0], POLLIN, 0}};
    int r;
    do
        r = poll(fds, 2, -1);
    while (r < 0 && errno == EINTR);
    return r > 0 && !fds[0].revents && fds[1].revents;
}

void FakeServer::accept_loop() {
    for (;;) {
        pollfd fds[3] = {{stop_pipe_[0], POLLIN, 0}, {listen4_, POLLIN, 0}, {listen6_, POLLIN, 0}};
        int r = poll(fds, listen6_ >= 0 ? 3 : 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || fds[0].revents) return;
        for (int i = 1; i < 3; ++i) {
            if (fds[i].fd < 0 || !(fds[i].revents & POLLIN)) continue;
            int fd = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
            if (fd < 0) continue;
            std::lock_guard lock(mu_);
            ++connections_;
            workers_.emplace_back([this, fd] { serve(fd); });
        }
    }
}

void FakeServer::serve(int fd) {
    // The request line: up to LF, or whatever came before the client closed.
    std::string raw;
    while (raw.find('\n') == std::string::npos) {
        pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {fd, POLLIN, 0}};
        int r = poll(fds, 2, -1);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || fds[0].revents) {
            close(fd);
            return;
        }
        char buf[4096];
        ssize_t n = recv(fd, buf, sizeof buf, 0);
        if (n > 0)
            raw.append(buf, static_cast<size_t>(n));
        else if (n == 0 || (errno != EAGAIN && errno != EINTR))
            break; // an unterminated request is answered like any other
    }
    std::string line = raw.substr(0, raw.find('\n'));
    if (!line.empty() && line.back() == '\r' && raw.find('\n') != std::string::npos)
        line.pop_back();
    {
        std::lock_guard lock(mu_);
        raw_requests_.push_back(raw);
        requests_.push_back(line);
    }
    cv_.notify_all();
    Script script = script_for(line);

    bool ok = true;
    for (size_t i = 0; ok && i < script.chunks.size(); ++i) {
        if (i > 0 && script.pause.count() > 0 && stopped_within(script.pause)) ok = false;
        if (i == 1 && script.hold && !released()) ok = false;
        std::string_view rest = script.chunks[i];
        while (ok && !rest.empty()) {
            ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
            if (n > 0) {
                rest.remove_prefix(static_cast<size_t>(n));
                continue;
            }
            if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
                pollfd fds[2] = {{stop_pipe_[0], POLLIN, 0}, {fd, POLLOUT, 0}};
                if (poll(fds, 2, -1) < 0 && errno != EINTR) ok = false;
                if (fds[0].revents) ok = false;
                continue;
            }
            ok = false; // the client went away
        }
    }
    if (ok && script.before_end.count() > 0 && stopped_within(script.before_end)) ok = false;
    switch (script.end) {
    case Script::End::Close:
        shutdown(fd, SHUT_WR);
        break;
    case Script::End::Reset: {
        linger l{1, 0};
        setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        break;
    }
    case Script::End::Silent:
        if (ok) stopped_within(milliseconds(-1));
        break;
    }
    close(fd);
}

RefusedPort::RefusedPort() {
    fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        ADD_FAILURE() << "refused port: " << strerror(errno);
        return;
    }
    port_ = local_port(fd_);
}

RefusedPort::~RefusedPort() {
    if (fd_ >= 0) close(fd_);
}

} // namespace tolmtest
