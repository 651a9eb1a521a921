#include "pty_run.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <pty.h>
#include <sstream>
#include <sys/ioctl.h>
#ifdef __linux__
#include <sched.h>
#include <sys/mount.h>
#endif
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <termios.h>
#include <time.h>
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

// Seconds on the clock that file times use.
double wall_seconds() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// When each run of tolm that this process started lived, in wall_seconds.
struct RunSpan {
    double start = 0;
    double end = 0;
    bool ended = false;
};
std::mutex run_log_mu;
std::vector<RunSpan> run_log;

// Whether this process (and all it starts) has a /tmp of its own, where no
// other test or suite running beside it makes or leaves directories.
bool private_tmp = false;

#ifdef __linux__
bool write_proc_file(const char* path, const std::string& text) {
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    close(fd);
    return ok;
}

// A mount namespace of its own: directly as root, else inside a user
// namespace where this user is itself and may mount.
bool own_mount_namespace() {
    if (unshare(CLONE_NEWNS) == 0) return true;
    const std::string uid = std::to_string(geteuid()), gid = std::to_string(getegid());
    if (unshare(CLONE_NEWUSER | CLONE_NEWNS) != 0) return false;
    // Without the maps this process would own nothing it creates: the
    // writes cannot be refused to the namespace's maker, but are checked.
    if (!write_proc_file("/proc/self/setgroups", "deny") ||
        !write_proc_file("/proc/self/uid_map", uid + " " + uid + " 1") ||
        !write_proc_file("/proc/self/gid_map", gid + " " + gid + " 1")) {
        ADD_FAILURE() << "user namespace without its maps: " << strerror(errno);
        return false;
    }
    return true;
}
#endif

// A mount namespace with a fresh /tmp, where the system allows it (Linux,
// as root or with user namespaces). It must come before any thread: it is
// the calling thread's alone.
bool make_private_tmp() {
#ifdef __linux__
    // A fresh /tmp would hide a checkout or a build that lies in /tmp, the
    // binary under test and the test data with it: the entries of /tmp that
    // hold them are bound into the fresh one at their places.
    std::vector<std::string> kept;
    for (std::string_view path : {TOLM_BINARY, TOLM_SOURCE_DIR}) {
        if (!path.starts_with("/tmp/")) continue;
        std::string top(path.substr(0, path.find('/', 5)));
        if (std::find(kept.begin(), kept.end(), top) == kept.end()) kept.push_back(top);
    }
    if (!own_mount_namespace()) return false;
    // Without this the new mount would show in the namespace left behind.
    if (mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;
    // Held open, they stay reachable once the fresh /tmp covers them.
    std::vector<int> held;
    for (const auto& top : kept)
        held.push_back(open(top.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    const bool fresh = mount("tmpfs", "/tmp", "tmpfs", MS_NOSUID | MS_NODEV, "mode=1777") == 0;
    bool ok = fresh;
    for (size_t i = 0; ok && i < kept.size(); ++i) {
        const std::string source = "/proc/self/fd/" + std::to_string(held[i]);
        ok = held[i] >= 0 && mkdir(kept[i].c_str(), 0755) == 0 &&
             mount(source.c_str(), kept[i].c_str(), nullptr, MS_BIND | MS_REC, nullptr) == 0;
    }
    for (int fd : held)
        if (fd >= 0) close(fd);
    // A /tmp that hides what the tests need would fail them all: taken back.
    if (fresh && !ok) umount2("/tmp", MNT_DETACH);
    return ok;
#else
    return false;
#endif
}

class PrivateTmp : public ::testing::Environment {
  public:
    void SetUp() override { private_tmp = make_private_tmp(); }
};
[[maybe_unused]] const ::testing::Environment* const private_tmp_env =
    ::testing::AddGlobalTestEnvironment(new PrivateTmp);

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

bool has_private_tmp() {
    return private_tmp;
}

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
    const bool is_tolm = opts_.binary == tolm_binary();
    const double started = wall_seconds();

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
    } else if (is_tolm) {
        std::lock_guard lock(run_log_mu);
        log_slot_ = static_cast<long>(run_log.size());
        run_log.push_back({started, 0, false});
    }
    if (out_pipe[1] >= 0) close(out_pipe[1]);
    if (err_pipe[1] >= 0) close(err_pipe[1]);
    out_fd_ = out_pipe[0];
    err_fd_ = err_pipe[0];
    for (int fd : {master_, out_fd_, err_fd_})
        if (fd >= 0) set_nonblocking(fd);
    if (master_ >= 0) fcntl(master_, F_SETFD, FD_CLOEXEC);
#ifdef SYS_pidfd_open
    if (pid_ > 0) pidfd_ = static_cast<int>(syscall(SYS_pidfd_open, pid_, 0));
#endif
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
    if (log_slot_ >= 0) {
        std::lock_guard lock(run_log_mu);
        run_log[static_cast<size_t>(log_slot_)].end = wall_seconds();
        run_log[static_cast<size_t>(log_slot_)].ended = true;
    }
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

std::vector<std::string> tolm_tmpdirs() {
    std::vector<std::string> found;
    DIR* d = opendir("/tmp");
    if (!d) return found;
    while (dirent* e = readdir(d)) {
        if (strncmp(e->d_name, "tolm-", 5) == 0 && strlen(e->d_name) == 11)
            found.push_back(std::string("/tmp/") + e->d_name);
    }
    closedir(d);
    return found;
}

namespace {

// The system call the process is blocked in (/proc/PID/syscall), or -1.
long blocked_in(pid_t pid) {
    std::ifstream call("/proc/" + std::to_string(pid) + "/syscall");
    std::string nr;
    if (!(call >> nr) || nr == "running") return -1;
    return std::atol(nr.c_str());
}

} // namespace

std::vector<LiveProcess> live_processes() {
    std::vector<LiveProcess> found;
    DIR* d = opendir("/proc");
    if (!d) return found;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        std::ifstream stat_file(std::string("/proc/") + e->d_name + "/stat");
        std::string line;
        std::getline(stat_file, line);
        // The name (2nd field) may hold spaces and parentheses.
        size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 1));
        std::string state;
        LiveProcess p{static_cast<pid_t>(std::atol(e->d_name)), 0, 0, 0};
        if (rest >> state >> p.ppid >> p.pgrp >> p.session && state != "Z" && state != "X")
            found.push_back(p);
    }
    closedir(d);
    return found;
}

bool waiting_to_write(pid_t pid) {
    return blocked_in(pid) == SYS_write;
}

namespace {
long status_kib(pid_t pid, const std::string& field) {
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + field.size());
    return -1;
}
} // namespace

long peak_memory_kib(pid_t pid) {
    return status_kib(pid, "VmHWM:");
}

long resident_memory_kib(pid_t pid) {
    return status_kib(pid, "VmRSS:");
}

long virtual_memory_kib(pid_t pid) {
    return status_kib(pid, "VmSize:");
}

namespace {

// Whether the process is blocked in one of the calls, with no signal
// pending (SIGWINCH from a resize that it has not taken yet); true where the
// system does not show what a process waits in.
bool blocked_with_nothing_pending(pid_t pid, const std::vector<long>& calls) {
    static const bool shown = access("/proc/self/syscall", R_OK) == 0;
    if (!shown) return true;
    if (std::find(calls.begin(), calls.end(), blocked_in(pid)) == calls.end()) return false;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    for (std::string line; std::getline(status, line);) {
        if (line.rfind("SigPnd:", 0) != 0 && line.rfind("ShdPnd:", 0) != 0) continue;
        if (line.find_first_not_of("0\t ", 7) != std::string::npos) return false;
    }
    return true;
}

} // namespace

bool waiting_for_input(pid_t pid) {
    static const std::vector<long> waits = {
        SYS_read,
#ifdef SYS_poll
        SYS_poll,
#endif
#ifdef SYS_ppoll
        SYS_ppoll,
#endif
#ifdef SYS_select
        SYS_select,
#endif
#ifdef SYS_pselect6
        SYS_pselect6,
#endif
    };
    return blocked_with_nothing_pending(pid, waits);
}

bool waiting_for_child(pid_t pid) {
    static const std::vector<long> waits = {
        SYS_wait4,
#ifdef SYS_waitid
        SYS_waitid,
#endif
    };
    return blocked_with_nothing_pending(pid, waits);
}

namespace {

// When the directory last changed, in wall_seconds; below 0 when it is gone.
double changed_at(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) return -1;
    return static_cast<double>(st.st_ctim.tv_sec) + static_cast<double>(st.st_ctim.tv_nsec) * 1e-9;
}

// When each process running a program called tolm (of any test or suite)
// started, in wall_seconds; 0 where that cannot be read.
std::vector<double> tolm_start_times() {
    std::vector<double> starts;
    double uptime = 0;
    std::ifstream("/proc/uptime") >> uptime;
    const double boot = wall_seconds() - uptime;
    const double tick = 1.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    DIR* d = opendir("/proc");
    if (!d) return starts;
    while (dirent* e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9') continue;
        const std::string proc = std::string("/proc/") + e->d_name;
        char exe[4096];
        ssize_t n = readlink((proc + "/exe").c_str(), exe, sizeof exe - 1);
        if (n <= 0) continue;
        exe[n] = '\0';
        const char* base = strrchr(exe, '/');
        base = base ? base + 1 : exe;
        // " (deleted)" follows the name of a binary rebuilt meanwhile.
        if (strcmp(base, "tolm") != 0 && strncmp(base, "tolm ", 5) != 0) continue;
        // The start time is the 22nd field; the name (2nd) may hold spaces.
        std::ifstream stat_file(proc + "/stat");
        std::string stat_line;
        std::getline(stat_file, stat_line);
        size_t after_name = stat_line.rfind(')');
        double start = 0;
        if (after_name != std::string::npos) {
            std::istringstream fields(stat_line.substr(after_name + 1));
            std::string field;
            for (int i = 3; i <= 22 && fields >> field; ++i)
                if (i == 22) start = boot + std::atof(field.c_str()) * tick;
        }
        starts.push_back(start);
    }
    closedir(d);
    return starts;
}

} // namespace

LeftoverWatch::LeftoverWatch() : before_(tolm_tmpdirs()) {
    std::lock_guard lock(run_log_mu);
    first_run_ = run_log.size();
}

std::vector<std::string> LeftoverWatch::left_behind() const {
    auto fresh = [&] {
        std::vector<std::string> dirs;
        for (const auto& d : tolm_tmpdirs())
            if (std::find(before_.begin(), before_.end(), d) == before_.end()) dirs.push_back(d);
        return dirs;
    };
    const auto cap = Clock::now() + deadline();
    if (private_tmp) {
        // Every directory is one of a run of this process; a run still
        // going has not had its chance to remove its own.
        auto ended = [&] {
            std::lock_guard lock(run_log_mu);
            return std::all_of(run_log.begin() + static_cast<long>(first_run_), run_log.end(),
                               [](const RunSpan& r) { return r.ended; });
        };
        while (!ended() && Clock::now() < cap)
            usleep(20000);
        return fresh();
    }

    // File times come from a clock that may lag a tick behind; the process
    // start times are in ticks.
    const double slack = 0.1;
    auto during_our_runs = [&](double changed) {
        std::lock_guard lock(run_log_mu);
        for (size_t i = first_run_; i < run_log.size(); ++i) {
            const RunSpan& r = run_log[i];
            double end = r.ended ? r.end : wall_seconds();
            if (changed >= r.start - slack && changed <= end + slack) return true;
        }
        return false;
    };
    for (;;) {
        std::vector<std::pair<std::string, double>> ours;
        for (const auto& d : fresh()) {
            double changed = changed_at(d);
            if (changed >= 0 && during_our_runs(changed)) ours.emplace_back(d, changed);
        }
        // The processes are looked at after the listing, and each directory
        // again after that: one still there, unchanged, with no tolm alive
        // that could have made it, has outlived its maker.
        const std::vector<double> starts = tolm_start_times();
        std::vector<std::string> left;
        bool in_doubt = false;
        for (const auto& [d, changed] : ours) {
            double now_changed = changed_at(d);
            if (now_changed < 0) continue;
            bool maker_alive = now_changed != changed ||
                               std::any_of(starts.begin(), starts.end(),
                                           [&](double s) { return s <= changed + slack; });
            if (maker_alive)
                in_doubt = true;
            else
                left.push_back(d);
        }
        if (!in_doubt || Clock::now() >= cap) return left;
        usleep(20000);
    }
}

void LeftoverWatch::check() const {
    for (const auto& d : left_behind())
        ADD_FAILURE() << "temporary directory left behind: " << d;
}

} // namespace tolmtest
