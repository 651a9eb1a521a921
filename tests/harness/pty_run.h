// Runs the real tolm binary for end-to-end tests: under a pseudo-terminal
// that is its controlling terminal (batch or interactive), or with no
// terminal at all.
#pragma once

#include <chrono>
#include <functional>
#include <gtest/gtest.h>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <sys/types.h>
#include <vector>

namespace tolmtest {

using Millis = std::chrono::milliseconds;

// base, times 4 when TOLM_TEST_SLOW is set (sanitizer builds).
Millis scaled(Millis base);
// The default deadline for every wait: 5 s, scaled.
inline Millis deadline() {
    return scaled(Millis(5000));
}

// The path of the binary under test (TOLM_BINARY).
std::string tolm_binary();

// Whether the process is blocked reading or polling with no signal
// pending: it has dealt with everything sent to it so far and waits for
// more. True where the system does not show what a process waits in.
bool waiting_for_input(pid_t pid);
// Whether the process is blocked waiting for a child of its, with no
// signal pending; true where the system does not show what it waits in.
bool waiting_for_child(pid_t pid);
// Whether the process is blocked writing; false where the system does not
// show it.
bool waiting_to_write(pid_t pid);
// The process's peak resident memory since its exec, in KiB (VmHWM); -1
// where the system does not show it.
long peak_memory_kib(pid_t pid);
// The memory pid holds resident now (VmRSS), in KiB; -1 where not shown.
long resident_memory_kib(pid_t pid);
// The address space pid holds (VmSize), in KiB; -1 where not shown.
long virtual_memory_kib(pid_t pid);

enum class Mode {
    Batch,       // pty as controlling terminal and stdin; stdout, stderr on pipes
    Interactive, // stdin, stdout and stderr on the pty
    NoTerminal,  // setsid, no pty at all; stdin /dev/null; stdout, stderr on pipes
};

struct RunOptions {
    Mode mode = Mode::Batch;
    std::vector<std::string> args; // arguments after the program name
    std::optional<std::string> pager;
    std::map<std::string, std::string> env; // added to (or replacing) the base set
    std::string cwd;                        // empty: the test's own
    int rows = 24;
    int cols = 80;
    bool close_stdin = false; // descriptor 0 closed when the program starts
    std::string binary = tolm_binary();
};

struct ExitStatus {
    bool exited = false; // ended through exit()
    int code = -1;       // exit status when exited
    int signal = 0;      // terminating signal when not exited
    bool reaped = false; // waitpid has collected it
    std::string describe() const;
};

// One run of the program. The destructor kills the process group if the
// program is still running, and fails the current test when the program's
// output shows a sanitizer report.
class PtyRun {
  public:
    explicit PtyRun(RunOptions options);
    ~PtyRun();
    PtyRun(const PtyRun&) = delete;
    PtyRun& operator=(const PtyRun&) = delete;

    pid_t pid() const { return pid_; }
    // The pty master, -1 in NoTerminal mode.
    int master() const { return master_; }

    // Writes bytes to the terminal (as if typed).
    void send(std::string_view bytes);
    // New window size (TIOCSWINSZ on the master): the program gets SIGWINCH.
    void resize(int rows, int cols);
    void signal(int sig);

    // Reads all outputs until pred() holds (checked after each chunk and at
    // the start) or the timeout passes. Returns pred().
    bool pump_until(const std::function<bool()>& pred, Millis timeout = deadline());
    // Reads all outputs for the given time.
    void pump_for(Millis duration);
    // Waits for the program to end, reading its outputs to their end. On
    // timeout kills the process group and returns false.
    bool wait_exit(Millis timeout = deadline());
    bool running() const { return !status_.reaped; }
    // A run of tolm: blocked waiting for input with no signal pending
    // (waiting_for_input). Another program (a shell with tolm below it) is
    // taken to be idle whenever it runs.
    bool idle() const { return running() && (log_slot_ < 0 || waiting_for_input(pid_)); }

    const ExitStatus& status() const { return status_; }
    const std::string& out() const { return out_; }
    const std::string& err() const { return err_; }
    const std::string& pty() const { return pty_; }

    // Closes the test's read end of the stdout pipe (a reader that goes away).
    void close_stdout();
    // Called with every chunk read from the pty master (e.g. a Screen).
    void on_pty_output(std::function<void(std::string_view)> sink) { sink_ = std::move(sink); }

    // Empty when no output of the program holds a sanitizer report; else a
    // description of it.
    std::string sanitizer_report() const;
    // For a test that expects a report: the destructor does not fail.
    void ignore_sanitizer_report() { checked_ = true; }
    // Everything the run produced, for failure messages.
    std::string transcript() const;

  private:
    void start();
    // One poll round over the open outputs; returns after at most wait.
    void pump_once(Millis wait);
    void try_reap(bool block);
    void kill_group();

    RunOptions opts_;
    pid_t pid_ = -1;
    int master_ = -1;
    int out_fd_ = -1;
    int err_fd_ = -1;
    int pidfd_ = -1;
    bool master_eof_ = false;
    ExitStatus status_;
    std::string out_, err_, pty_;
    std::function<void(std::string_view)> sink_;
    bool checked_ = false;
    long log_slot_ = -1; // this run's entry in the log of tolm runs, if it is one
};

// Runs a batch-mode program with args to its end (deadline as wait_exit).
struct BatchResult {
    ExitStatus status;
    std::string out, err;
    bool finished = false; // ended before the deadline
    std::string transcript;
};
BatchResult run_batch(std::vector<std::string> args, Millis timeout = deadline());

// The processes that have not ended (zombies are left out), from /proc.
struct LiveProcess {
    pid_t pid, ppid, pgrp, session;
};
std::vector<LiveProcess> live_processes();

// Whether this test process has a /tmp of its own (see pty_run.cpp); when
// not, leftover directories are told apart by time and pid only.
bool has_private_tmp();

// Directories /tmp/tolm-* that exist now.
std::vector<std::string> tolm_tmpdirs();

// The /tmp/tolm-* directories left behind by the runs of tolm that this
// process started since the watch was made. Where the system allows
// (Linux, as root or with user namespaces), each test process has a /tmp of
// its own and every new directory there is one. Elsewhere /tmp is shared with the tests and
// suites running beside this one, so a directory counts only when it last
// changed while one of these runs lived, and only once no tolm process
// that was already running then is alive (such a one may own it: that is
// waited for up to the deadline; a directory still in doubt then is not
// blamed).
class LeftoverWatch {
  public:
    LeftoverWatch();
    std::vector<std::string> left_behind() const;
    // Fails the current test for each directory left behind.
    void check() const;

  private:
    std::vector<std::string> before_;
    size_t first_run_;
};

// A test that runs tolm: it fails when a run leaves its temporary
// directory behind.
class TolmTest : public ::testing::Test {
  protected:
    void TearDown() override { leftovers_.check(); }
    LeftoverWatch leftovers_;
};

} // namespace tolmtest
