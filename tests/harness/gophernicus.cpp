#include "gophernicus.h"

#include "pty_run.h"

#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fs = std::filesystem;

namespace tolmtest {

namespace {

constexpr const char* kGophernicus = "/usr/sbin/gophernicus";

// A socket bound to a free port of 127.0.0.1, not listening: while it is
// open no other program is given the port, but socat (which also asks for
// SO_REUSEADDR) can listen on it. -1 on failure.
int hold_free_port(uint16_t* port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
        close(fd);
        return -1;
    }
    *port = ntohs(a.sin_port);
    return fd;
}

int connect_loopback(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

std::string find_in_path(const std::string& name) {
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "/usr/bin:/bin";
    dirs += ":/usr/bin:/bin:/usr/sbin:/sbin";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string candidate = dirs.substr(start, end - start) + "/" + name;
        if (access(candidate.c_str(), X_OK) == 0) return candidate;
        start = end + 1;
    }
    return {};
}

void make_world_readable(const fs::path& root) {
    using p = fs::perms;
    fs::permissions(root,
                    p::owner_all | p::group_read | p::group_exec | p::others_read | p::others_exec);
    for (const auto& e : fs::recursive_directory_iterator(root)) {
        if (e.is_directory())
            fs::permissions(e.path(),
                            p::group_read | p::group_exec | p::others_read | p::others_exec,
                            fs::perm_options::add);
        else
            fs::permissions(e.path(), p::group_read | p::others_read, fs::perm_options::add);
    }
}

} // namespace

Gophernicus::~Gophernicus() {
    if (pgid_ > 0) {
        kill(-pgid_, SIGTERM);
        for (int i = 0; i < 100; ++i) {
            if (waitpid(pgid_, nullptr, WNOHANG) == pgid_) {
                pgid_ = -1;
                break;
            }
            usleep(10000);
        }
        if (pgid_ > 0) {
            kill(-pgid_, SIGKILL);
            waitpid(pgid_, nullptr, 0);
        }
        // gophernicus children of that group that are still around.
        kill(-pgid_, SIGKILL);
    }
    if (!root_.empty()) {
        std::error_code ec;
        fs::remove_all(root_, ec);
    }
}

std::string Gophernicus::url(const std::string& path) const {
    return "gopher://127.0.0.1:" + std::to_string(port_) + path;
}

::testing::AssertionResult Gophernicus::start(const std::string& source_dir,
                                              void (*prepare)(const std::string& root)) {
    if (access(kGophernicus, X_OK) != 0)
        return ::testing::AssertionFailure()
               << kGophernicus << " is missing (apt-get install gophernicus)";
    std::string socat = find_in_path("socat");
    if (socat.empty())
        return ::testing::AssertionFailure() << "socat is missing (apt-get install socat)";
    bool root_user = geteuid() == 0;
    std::string setpriv = find_in_path("setpriv");
    if (root_user && setpriv.empty())
        return ::testing::AssertionFailure() << "setpriv is missing (util-linux)";

    char tmpl[] = "/tmp/gopherhole-test-XXXXXX";
    if (!mkdtemp(tmpl)) return ::testing::AssertionFailure() << "mkdtemp: " << strerror(errno);
    root_ = tmpl;
    std::error_code ec;
    fs::copy(source_dir, root_, fs::copy_options::recursive, ec);
    if (ec)
        return ::testing::AssertionFailure()
               << "copying " << source_dir << " to " << root_ << ": " << ec.message();
    if (prepare) prepare(root_);
    make_world_readable(root_);

    for (int attempt = 0; attempt < 5; ++attempt) {
        int holder = hold_free_port(&port_);
        if (holder < 0) return ::testing::AssertionFailure() << "bind: " << strerror(errno);
        std::string p = std::to_string(port_);
        std::string listen = "TCP-LISTEN:" + p + ",bind=127.0.0.1,reuseaddr,fork";
        std::string exec = std::string("EXEC:'") + kGophernicus + " -h 127.0.0.1 -p " + p + " -r " +
                           root_ +
                           // Without shared memory it keeps no per-client hit
                           // and byte counters across runs, so earlier runs on
                           // this machine cannot throttle the tests.
                           " -nf -nh -nl -nd -nv -nu -ns -na -nt -nH -nx -no"
                           " -nm',nofork";
        std::vector<std::string> args;
        if (root_user)
            args = {setpriv, "--reuid=nobody", "--regid=nogroup", "--clear-groups", socat};
        else
            args = {socat};
        args.push_back(listen);
        args.push_back(exec);
        std::vector<char*> argv;
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        pid_t pid = fork();
        if (pid == 0) {
            setpgid(0, 0);
            int null_fd = open("/dev/null", O_RDWR);
            dup2(null_fd, 0);
            dup2(null_fd, 1);
            sigset_t none;
            sigemptyset(&none);
            sigprocmask(SIG_SETMASK, &none, nullptr);
            execv(argv[0], argv.data());
            _exit(127);
        }
        if (pid < 0) {
            close(holder);
            return ::testing::AssertionFailure() << "fork: " << strerror(errno);
        }
        setpgid(pid, pid);
        pgid_ = pid;

        auto end = std::chrono::steady_clock::now() + deadline();
        bool exited = false;
        while (std::chrono::steady_clock::now() < end) {
            if (waitpid(pid, nullptr, WNOHANG) == pid) {
                exited = true;
                break;
            }
            int fd = connect_loopback(port_);
            if (fd >= 0) {
                close(fd);
                close(holder);
                return ::testing::AssertionSuccess();
            }
            usleep(20000);
        }
        close(holder);
        if (!exited) {
            kill(-pid, SIGKILL);
            waitpid(pid, nullptr, 0);
        }
        pgid_ = -1;
        // socat ended (the port was taken meanwhile?): another port.
    }
    return ::testing::AssertionFailure()
           << "socat with gophernicus did not accept connections on 127.0.0.1";
}

std::string Gophernicus::fetch(const std::string& selector) const {
    int fd = connect_loopback(port_);
    if (fd < 0) {
        ADD_FAILURE() << "connect to gophernicus: " << strerror(errno);
        return {};
    }
    std::string request = selector + "\r\n";
    if (send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
        static_cast<ssize_t>(request.size()))
        ADD_FAILURE() << "send to gophernicus: " << strerror(errno);
    std::string answer;
    auto end = std::chrono::steady_clock::now() + deadline();
    for (;;) {
        auto left = std::chrono::duration_cast<Millis>(end - std::chrono::steady_clock::now());
        if (left.count() <= 0) {
            ADD_FAILURE() << "gophernicus did not close the connection for " << selector;
            break;
        }
        pollfd p{fd, POLLIN, 0};
        if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
        char buf[65536];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n > 0)
            answer.append(buf, static_cast<size_t>(n));
        else if (n == 0 || errno != EINTR)
            break;
    }
    close(fd);
    return answer;
}

} // namespace tolmtest
