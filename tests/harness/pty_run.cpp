#include "pty_run.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace tolmtest {

namespace {

using Clock = std::chrono::steady_clock;

// Reads what is available on fd into buf; false at end of stream (EOF or,
// for a pty master, EIO once the child side is gone).
bool drain(int fd, std::string& buf) {
    char chunk[65536];
    for (;;) {
        ssize_t n = read(fd, chunk, sizeof chunk);
        if (n > 0) {
            buf.append(chunk, static_cast<size_t>(n));
            if (static_cast<size_t>(n) < sizeof chunk) return true;
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        return false;
    }
}

void set_nonblocking(int fd) {
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
}

void close_fd(int& fd) {
    if (fd >= 0) close(fd);
    fd = -1;
}

// Child side, between fork and exec: only async-signal-safe calls.
[[noreturn]] void exec_child(const char* path, char* const* argv, char* const* envp,
                             const char* cwd) {
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    for (int sig : {SIGPIPE, SIGINT, SIGTERM, SIGHUP, SIGCHLD, SIGWINCH, SIGQUIT})
        ::signal(sig, SIG_DFL);
    if (cwd && *cwd && chdir(cwd) != 0) _exit(126);
    execve(path, argv, envp);
    static const char msg[] = "pty_run: execve failed\n";
    ssize_t ignored = write(2, msg, sizeof msg - 1);
    (void)ignored;
    _exit(127);
}

} // namespace

Millis scaled(Millis base) {
    const char* slow = getenv("TOLM_TEST_SLOW");
    return (slow && *slow) ? base * 4 : base;
}

std::string tolm_binary() {
    return TOLM_BINARY;
}

std::string ExitStatus::describe() const {
    if (!reaped) return "still running";
    if (exited) return "exit status " + std::to_string(code);
    return "killed by signal " + std::to_string(signal) + " (" + strsignal(signal) + ")";
}

PtyRun::PtyRun(RunOptions options) : opts_(std::move(options)) {
    start();
}

PtyRun::~PtyRun() {
    if (!status_.reaped) {
        kill_group();
        try_reap(true);
    }
    close_fd(out_fd_);
    close_fd(err_fd_);
    close_fd(pidfd_);
    close_fd(master_);
    if (!checked_) {
        std::string report = sanitizer_report();
        if (!report.empty()) ADD_FAILURE() << report;
    }
}

void PtyRun::start() {
    // Everything the child needs is built before fork: the test process has
    // threads (the fake server), so the child may only exec.
    std::vector<std::string> env_strings;
    std::map<std::string, std::string> env;
    env["TERM"] = "xterm-256color";
    env["LANG"] = "C.UTF-8";
    env["LC_ALL"] = "C.UTF-8";
    const char* path = getenv("PATH");
    env["PATH"] = path ? path : "/usr/local/bin:/usr/bin:/bin";
    const char* home = getenv("HOME");
    env["HOME"] = home ? home : "/tmp";
    if (opts_.pager) env["PAGER"] = *opts_.pager;
    for (const char* name : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "LSAN_OPTIONS"})
        if (const char* v = getenv(name)) env[name] = v;
    for (const auto& [k, v] : opts_.env)
        env[k] = v;
    for (const auto& [k, v] : env)
        env_strings.push_back(k + "=" + v);
    std::vector<char*> envp;
    for (auto& s : env_strings)
        envp.push_back(s.data());
    envp.push_back(nullptr);

    std::vector<std::string> arg_strings{opts_.binary};
    arg_strings.insert(arg_strings.end(), opts_.args.begin(), opts_.args.end());
    std::vector<char*> argv;
    for (auto& s : arg_strings)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    const char* cwd = opts_.cwd.c_str();

    int out_pipe[2] = {-1, -1}, err_pipe[2] = {-1, -1};
    if (opts_.mode != Mode::Interactive) {
        if (pipe2(out_pipe, O_CLOEXEC) != 0 || pipe2(err_pipe, O_CLOEXEC) != 0) {
            ADD_FAILURE() << "pipe: " << strerror(errno);
            return;
        }
    }

    if (opts_.mode == Mode::NoTerminal) {
        pid_ = fork();
        if (pid_ == 0) {
            setsid();
            int null_fd = open("/dev/null", O_RDONLY);
            dup2(null_fd, 0);
            dup2(out_pipe[1], 1);
            dup2(err_pipe[1], 2);
            exec_child(argv[0], argv.data(), envp.data(), cwd);
        }
    } else {
        winsize ws{};
        ws.ws_row = static_cast<unsigned short>(opts_.rows);
        ws.ws_col = static_cast<unsigned short>(opts_.cols);
        pid_ = forkpty(&master_, nullptr, nullptr, &ws);
        if (pid_ == 0) {
            if (opts_.mode == Mode::Batch) {
                dup2(out_pipe[1], 1);
                dup2(err_pipe[1], 2);
            }
            if (opts_.close_stdin) close(0);
            exec_child(argv[0], argv.data(), envp.data(), cwd);
        }
    }
    if (pid_ < 0) {
        ADD_FAILURE() << "fork: " << strerror(errno);
        status_.reaped = true;
    }
    if (out_pipe[1] >= 0) close(out_pipe[1]);
    if (err_pipe[1] >= 0) close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    for (int fd : {master_, out_fd_, err_fd_})
        if (fd >= 0) set_nonblocking(fd);
    if (master_ >= 0) fcntl(master_, F_SETFD, FD_CLOEXEC);
    if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
}

void PtyRun::send(std::string_view bytes) {
    ASSERT_GE(master_, 0) << "no terminal in this mode";
    while (!bytes.empty()) {
        ssize_t n = write(master_, bytes.data(), bytes.size());
        if (n < 0 && (errno == EINTR || errno == EAGAIN)) {
            pump_once(Millis(10));
            continue;
        }
        ASSERT_GT(n, 0) << "write to pty: " << strerror(errno);
        bytes.remove_prefix(static_cast<size_t>(n));
    }
}

void PtyRun::resize(int rows, int cols) {
    ASSERT_GE(master_, 0) << "no terminal in this mode";
    winsize ws{};
    ws.ws_row = static_cast<unsigned short>(rows);
    ws.ws_col = static_cast<unsigned short>(cols);
    ASSERT_EQ(ioctl(master_, TIOCSWINSZ, &ws), 0) << strerror(errno);
}

void PtyRun::signal(int sig) {
    if (!status_.reaped) kill(pid_, sig);
}

void PtyRun::pump_once(Millis wait) {
    pollfd fds[4];
    int n = 0;
    if (master_ >= 0 && !master_eof_) fds[n++] = {master_, POLLIN, 0};
    if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
    if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
    if (pidfd_ >= 0 && !status_.reaped) fds[n++] = {pidfd_, POLLIN, 0};
    // Without a pidfd the child's end is noticed by polling every 10 ms.
    int timeout = static_cast<int>(wait.count());
    if (pidfd_ < 0 && !status_.reaped) timeout = std::min(timeout, 10);
    if (n > 0) {
        int r = poll(fds, static_cast<nfds_t>(n), timeout);
        if (r < 0 && errno != EINTR) ADD_FAILURE() << "poll: " << strerror(errno);
    } else if (timeout > 0) {
        usleep(static_cast<useconds_t>(timeout) * 1000);
    }
    if (master_ >= 0 && !master_eof_) {
        size_t before = pty_.size();
        master_eof_ = !drain(master_, pty_);
        if (sink_ && pty_.size() > before) sink_(std::string_view(pty_).substr(before));
    }
    if (out_fd_ >= 0 && !drain(out_fd_, out_)) close_fd(out_fd_);
    if (err_fd_ >= 0 && !drain(err_fd_, err_)) close_fd(err_fd_);
    try_reap(false);
}

void PtyRun::try_reap(bool block) {
    if (status_.reaped || pid_ <= 0) return;
    int st = 0;
    pid_t r;
    do
        r = waitpid(pid_, &st, block ? 0 : WNOHANG);
    while (r < 0 && errno == EINTR);
    if (r != pid_) return;
    status_.reaped = true;
    status_.exited = WIFEXITED(st);
    status_.code = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    status_.signal = WIFSIGNALED(st) ? WTERMSIG(st) : 0;
}

bool PtyRun::pump_until(const std::function<bool()>& pred, Millis timeout) {
    auto end = Clock::now() + timeout;
    for (;;) {
        if (pred()) return true;
        auto now = Clock::now();
        if (now >= end) return pred();
        pump_once(std::min(std::chrono::duration_cast<Millis>(end - now), Millis(50)));
    }
}

void PtyRun::pump_for(Millis duration) {
    auto end = Clock::now() + duration;
    for (auto now = Clock::now(); now < end; now = Clock::now())
        pump_once(std::chrono::duration_cast<Millis>(end - now));
}

bool PtyRun::wait_exit(Millis timeout) {
    bool ended = pump_until([&] { return status_.reaped; }, timeout);
    if (!ended) {
        kill_group();
        try_reap(true);
        pump_for(Millis(50));
        return false;
    }
    // The outputs end soon after the process unless something it started
    // still holds them; that is not waited for long.
    pump_until([&] { return out_fd_ < 0 && err_fd_ < 0 && (master_ < 0 || master_eof_); },
               scaled(Millis(500)));
    return true;
}

void PtyRun::kill_group() {
    if (pid_ > 0 && !status_.reaped) {
        kill(-pid_, SIGKILL);
        kill(pid_, SIGKILL);
    }
}

void PtyRun::close_stdout() {
    close_fd(out_fd_);
}

std::string PtyRun::sanitizer_report() const {
    for (const std::string* text : {&err_, &pty_, &out_}) {
        for (const char* marker : {"AddressSanitizer", "runtime error:", "LeakSanitizer"}) {
            size_t at = text->find(marker);
            if (at != std::string::npos)
                return std::string("sanitizer report in the program's output:\n") +
                       text->substr(at > 200 ? at - 200 : 0, 4000);
        }
    }
    return {};
}

std::string PtyRun::transcript() const {
    std::string args;
    for (const auto& a : opts_.args)
        args += " '" + a + "'";
    return "tolm" + args + ": " + status_.describe() + "\n--- stdout (" +
           std::to_string(out_.size()) + " bytes) ---\n" + out_.substr(0, 2000) +
           "\n--- stderr ---\n" + err_.substr(0, 2000) + "\n--- pty ---\n" + pty_.substr(0, 2000) +
           "\n---";
}

BatchResult run_batch(std::vector<std::string> args, Millis timeout) {
    RunOptions opts;
    opts.args = std::move(args);
    PtyRun run(opts);
    BatchResult result;
    result.finished = run.wait_exit(timeout);
    result.status = run.status();
    result.out = run.out();
    result.err = run.err();
    result.transcript = run.transcript();
    return result;
}

std::vector<std::string> tolm_tmpdirs(const std::string& parent) {
    std::vector<std::string> found;
    DIR* d = opendir(parent.c_str());
    if (!d) return found;
    while (dirent* e = readdir(d)) {
        if (strncmp(e->d_name, "tolm-", 5) == 0 && strlen(e->d_name) == 11)
            found.push_back(parent + "/" + e->d_name);
    }
    closedir(d);
    return found;
}

// Whether some process running a program called tolm (of any test running
// at the same time) is alive.
static bool tolm_alive() {
    DIR* d = opendir("/proc");
    if (!d) return false;
    bool alive = false;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        char link[300], exe[4096];
        snprintf(link, sizeof link, "/proc/%s/exe", e->d_name);
        ssize_t n = readlink(link, exe, sizeof exe - 1);
        if (n <= 0) continue;
        exe[n] = '\0';
        const char* base = strrchr(exe, '/');
        base = base ? base + 1 : exe;
        if (strcmp(base, "tolm") == 0 || strncmp(base, "tolm ", 5) == 0) alive = true;
    }
    closedir(d);
    return alive;
}

void expect_no_new_tmpdirs(const std::vector<std::string>& before, const std::string& parent) {
    auto left = [&] {
        std::vector<std::string> fresh;
        for (const auto& d : tolm_tmpdirs(parent))
            if (std::find(before.begin(), before.end(), d) == before.end()) fresh.push_back(d);
        return fresh;
    };
    // A fresh directory in /tmp may belong to a tolm of another test running
    // in parallel: wait while any tolm lives (up to a cap), and a short
    // grace. No tolm writes into a private parent, so there the grace will do.
    bool shared = parent == "/tmp";
    auto start = Clock::now();
    auto grace = start + scaled(Millis(1000));
    auto cap = start + scaled(Millis(60000));
    std::vector<std::string> fresh = left();
    while (!fresh.empty() && Clock::now() < cap) {
        if (Clock::now() >= grace && !(shared && tolm_alive())) {
            // The listing came before the look for living programs: a tolm
            // may have removed its directory and ended in between. List
            // again; only a directory still there with no tolm left alive
            // afterwards was left behind.
            fresh = left();
            if (fresh.empty() || !(shared && tolm_alive())) break;
        }
        usleep(20000);
        fresh = left();
    }
    std::string names;
    for (const auto& d : fresh)
        names += " " + d;
    EXPECT_TRUE(fresh.empty()) << "temporary directories left behind:" << names;
}

} // namespace tolmtest
