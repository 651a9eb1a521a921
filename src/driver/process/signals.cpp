#include "driver/process/signals.h"

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include "driver/process/state.h"

namespace {

// A process ended by signal N exits with this plus N, as a shell reports it.
constexpr int signal_status_base = 128;

// Written by the handlers, read by the main flow at safe points.
volatile sig_atomic_t pending_quit = 0;
volatile sig_atomic_t pending_resize = 0;
volatile sig_atomic_t pending_suspend = 0;
// The self-pipe: a handler writes one byte so that a poll() in progress
// wakes up even when the signal arrived just before it started.
int wake_pipe[2] = {-1, -1};
void (*resize_hook)(int) = nullptr;
void (*before_suspend)() = nullptr;
void (*after_resume)() = nullptr;

void wake() {
    int saved = errno;
    if (wake_pipe[1] >= 0) {
        char b = 0;
        (void)!write(wake_pipe[1], &b, 1);
    }
    errno = saved;
}

void note_resize(int) {
    pending_resize = 1;
    wake();
}

void note_suspend(int) {
    pending_suspend = 1;
    wake();
}

// Stops the process the way the terminal asked, with the terminal given
// back for the time being, and takes it again on continuing.
void suspend() {
    before_suspend();
    struct sigaction dfl = {}, old;
    dfl.sa_handler = SIG_DFL;
    sigemptyset(&dfl.sa_mask);
    sigaction(SIGTSTP, &dfl, &old);
    raise(SIGTSTP);
    sigaction(SIGTSTP, &old, nullptr);
    after_resume();
}

// Its only purpose is to interrupt a blocked call while a quit is pending,
// and it keeps doing so until the quit is seen.
void interrupt_blocked_call(int) {
    if (pending_quit) alarm(1);
}

// Exec resets a caught signal to its default, so started programs see
// SIGPIPE as usual while tolm itself gets EPIPE from the failed write.
void ignore_pipe(int) {}

// The handlers that note a signal are installed without SA_RESTART: a
// blocking read or write that the signal interrupts returns with EINTR, and
// the loop around it reaches a safe point at once. Every blocking call of
// the program sits in such a loop.
void install(int sig, void (*handler)(int), int flags = 0) {
    struct sigaction sa = {};
    sa.sa_handler = handler;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = flags;
    sigaction(sig, &sa, nullptr);
}

void drain_wake_pipe() {
    char buf[64];
    while (read(wake_pipe[0], buf, sizeof buf) > 0) {
    }
}

void quit_on_signal(int sig) {
    if (!pending_quit) pending_quit = sig;
    wake();
    // Reads and writes of the gopher exchange block without a poll before
    // them (a poll per 1024-byte block would cost a syscall each). A signal
    // that lands after the loop's check and before the call enters the
    // kernel does not interrupt it; the alarm does, within a second.
    alarm(1);
}

} // namespace

void install_signal_handlers() {
    if (wake_pipe[0] < 0 && pipe(wake_pipe) == 0) {
        for (int fd : wake_pipe) {
            fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
            fcntl(fd, F_SETFD, FD_CLOEXEC);
        }
    }
    install(SIGINT, quit_on_signal);
    install(SIGHUP, quit_on_signal);
    install(SIGTERM, quit_on_signal);
    install(SIGCHLD, SIG_IGN, SA_RESTART);
    install(SIGPIPE, ignore_pipe, SA_RESTART);
    // Past a file-size limit a write fails with EFBIG and is reported like
    // any failed write, instead of the signal ending tolm with the
    // terminal raw and the temporary directory left behind.
    install(SIGXFSZ, SIG_IGN, SA_RESTART);
    install(SIGALRM, interrupt_blocked_call);
}

void set_resize_hook(void (*hook)(int)) {
    resize_hook = hook;
    install(SIGWINCH, hook ? note_resize : SIG_DFL, hook ? 0 : SA_RESTART);
    if (!hook) pending_resize = 0;
}

void set_suspend_hooks(void (*before)(), void (*after)()) {
    before_suspend = before;
    after_resume = after;
    install(SIGTSTP, before ? note_suspend : SIG_DFL, before ? 0 : SA_RESTART);
    if (!before) pending_suspend = 0;
}

void handle_pending_signals() {
    if (in_child) return;
    if (pending_quit) exit(signal_status_base + pending_quit);
    if (pending_suspend) {
        pending_suspend = 0;
        if (before_suspend) suspend();
    }
    if (pending_resize) {
        pending_resize = 0;
        if (resize_hook) resize_hook(SIGWINCH);
    }
}

void finish_run() {
    exit(pending_quit ? signal_status_base + pending_quit : 0);
}

bool quit_pending() {
    return pending_quit != 0;
}

int signal_wake_fd() {
    return wake_pipe[0];
}

void drain_signal_wakes() {
    drain_wake_pipe();
}

void wait_child(pid_t pid) {
    // SIGCHLD is ignored, so wait() returns once no child is left; an
    // ending signal interrupts it (no SA_RESTART) and is handled here.
    for (;;) {
        pid_t r = wait(nullptr);
        if (r == pid) return;
        if (r < 0 && errno != EINTR) return;
        handle_pending_signals();
    }
}

pid_t start_child() {
    // Blocked across the fork: a signal that reached the child before its
    // dispositions were reset would run tolm's handlers there, which write
    // to the self-pipe the child shares with tolm.
    sigset_t all, old;
    sigfillset(&all);
    sigprocmask(SIG_SETMASK, &all, &old);
    pid_t pid = fork();
    if (pid != 0) {
        sigprocmask(SIG_SETMASK, &old, nullptr);
        return pid;
    }
    in_child = 1;
    pending_quit = 0;
    pending_resize = 0;
    pending_suspend = 0;
    // An ignored disposition survives exec: SIGCHLD ignored would make a
    // started program's own waits fail with ECHILD.
    for (int sig : {SIGINT, SIGHUP, SIGTERM, SIGCHLD, SIGPIPE, SIGWINCH, SIGALRM, SIGTSTP, SIGXFSZ})
        install(sig, SIG_DFL, SA_RESTART);
    alarm(0);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    return 0;
}

pid_t fork_with_status() {
    install(SIGCHLD, SIG_DFL, SA_RESTART);
    pid_t pid = start_child();
    if (pid < 0) install(SIGCHLD, SIG_IGN, SA_RESTART);
    return pid;
}

int wait_child_change(pid_t pid) {
    int status = 0;
    pid_t r;
    for (;;) {
        r = waitpid(pid, &status, WUNTRACED);
        if (r == pid || errno != EINTR) break;
        handle_pending_signals();
    }
    if (r == pid && WIFSTOPPED(status)) return status;
    install(SIGCHLD, SIG_IGN, SA_RESTART);
    // Another child (a name lookup's) that ended meanwhile left its status
    // too: collect it rather than leave it behind.
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    return r == pid ? status : -1;
}

int wait_child_status(pid_t pid) {
    int status;
    while ((status = wait_child_change(pid)) != -1 && WIFSTOPPED(status)) {
    }
    return status != -1 && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}
