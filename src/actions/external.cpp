#include "actions/external.h"

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include "driver/process/signals.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/uri.h"
#include "ui/pagetext.h"

namespace {

// What the detached start of a plumbed program tells the parent through a
// close-on-exec pipe: nothing at all when the exec happened (the pipe just
// closes), or which step failed and why.
struct StartFailure {
    int32_t step; // one of the values below
    int32_t err;
};
constexpr int32_t step_fork = 1;
constexpr int32_t step_exec = 2;

[[noreturn]] void fail_start(int fd, int32_t step) {
    StartFailure f = {step, errno};
    (void)!write(fd, &f, sizeof f);
    _exit(1);
}

// The pager's process group while it runs, 0 otherwise.
pid_t pager_group = 0;

// tcsetpgrp from a background group raises SIGTTOU, which would stop the
// process handing the terminal over.
void give_terminal(pid_t group) {
    sigset_t ttou, old;
    sigemptyset(&ttou);
    sigaddset(&ttou, SIGTTOU);
    sigprocmask(SIG_BLOCK, &ttou, &old);
    tcsetpgrp(STDIN_FILENO, group);
    sigprocmask(SIG_SETMASK, &old, nullptr);
}

// The pager stopped (^Z reached its group): tolm stops too, so that the
// shell sees its job stopped, and gives the pager the terminal again when
// continued.
void stop_with_pager(pid_t group) {
    give_terminal(getpgrp());
    raise(SIGTSTP);
    give_terminal(group);
    kill(-group, SIGCONT);
}

bool make_status_pipe(int fds[2]) {
    if (pipe(fds) < 0) return false;
    for (int i = 0; i < 2; i++)
        fcntl(fds[i], F_SETFD, FD_CLOEXEC);
    return true;
}

} // namespace

void plumb(const char* program, const char* argument) {
    int status[2];
    if (!make_status_pipe(status)) {
        show_status("Couldn't fork.");
        return;
    }
    pid_t pid = start_child();
    if (pid < 0) {
        close(status[0]);
        close(status[1]);
        show_status("Couldn't fork.");
        return;
    }
    if (pid == 0) {
        close(status[0]);
        // The middle process ends at once, so the program runs as nobody's
        // child of ours and the wait for the pager never waits for it too.
        pid_t program_pid = fork();
        if (program_pid < 0) fail_start(status[1], step_fork);
        if (program_pid != 0) _exit(0);
        // A session of its own and no terminal input: a handler that reads
        // its input must not take the browser's keystrokes.
        setsid();
        int in = open("/dev/null", O_RDONLY);
        if (in < 0) fail_start(status[1], step_exec);
        dup2(in, STDIN_FILENO);
        if (in != STDIN_FILENO) close(in);
        dup2(devnull_fd, STDOUT_FILENO);
        dup2(devnull_fd, STDERR_FILENO);
        execlp(program, program, argument, static_cast<char*>(nullptr));
        fail_start(status[1], step_exec);
    }
    close(status[1]);
    // Only the middle process is ours, and it ends at once.
    wait_child(pid);
    StartFailure failure = {0, 0};
    ssize_t got = read_fd(status[0], &failure, sizeof failure);
    close(status[0]);
    if (got == static_cast<ssize_t>(sizeof failure)) {
        if (failure.step == step_fork)
            show_status("Couldn't fork.");
        else
            show_status("Couldn't run %s: %s", program, strerror(failure.err));
        return;
    }
    show_status("%s \"%s\"", "Plumbed", argument);
}

// What popen("xclip", "w") and pclose would do, but with a wait for the
// clipboard program that an ending signal can cut short, and its exit
// status looked at.
void yank_uri(const Item& item) {
    // The whole URI: a cut one pasted later would name another item.
    const std::string uri = item_uri(item);
    // An item without a URI (a line without fields, the bookmarks page)
    // yanks nothing, as 'u' shows nothing: an empty text would only wipe
    // what the clipboard held.
    if (uri.empty()) return;
    int data[2];
    if (pipe(data) < 0) {
        show_status("URI not %s\n", "Yanked");
        return;
    }
    fcntl(data[1], F_SETFD, FD_CLOEXEC);
    pid_t pid = fork_with_status();
    if (pid == 0) {
        if (data[0] != STDIN_FILENO) {
            dup2(data[0], STDIN_FILENO);
            close(data[0]);
        }
        // Its complaints would stay scribbled over the page; failure is
        // told by the exit status instead.
        dup2(devnull_fd, STDOUT_FILENO);
        dup2(devnull_fd, STDERR_FILENO);
        execl("/bin/sh", "sh", "-c", "xclip", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(data[0]);
    if (pid < 0) {
        close(data[1]);
        show_status("URI not %s\n", "Yanked");
        return;
    }
    bool written = write_all(data[1], uri.data(), uri.size()) == 0;
    close(data[1]);
    int status = wait_child_status(pid);
    if (!written || status != 0) {
        show_status("URI not %s\n", "Yanked");
        return;
    }
    show_status("%s \"%s\"", "Yanked", uri.c_str());
}

// The pager runs in a child that writes the text into "$PAGER" through the
// shell. Its group is apart from tolm's, so that on tolm's way out it can
// be ended with everything it started; it must hold the terminal then, or
// the pager's reads would stop it, so the terminal's ^C, ^Z and hang-up
// reach it alone and tolm follows its child's fate.
void run_pager(const char* text) {
    pid_t pid = fork_with_status();
    if (pid < 0) {
        show_status("Couldn't fork.");
    } else if (pid == 0) {
        // Both sides set the group, so that it exists whoever runs first;
        // the pager reads the terminal only after it holds it.
        setpgid(0, 0);
        give_terminal(getpid());
        FILE* pager = popen("$PAGER", "w");
        if (!pager) _exit(1);
        // In chunks, filtered: a text may be hundreds of MiB.
        PagerFilter filter;
        std::string out;
        for (size_t n; (n = strnlen(text, 1 << 16)) > 0; text += n) {
            out.clear();
            filter.feed(text, n, out);
            if (fwrite(out.data(), 1, out.size(), pager) < out.size()) break;
        }
        out.clear();
        filter.finish(out);
        fwrite(out.data(), 1, out.size(), pager);
        pclose(pager);
        // Nothing of tolm's to clean up here: the parent owns the terminal,
        // the items and the temporary directory.
        _exit(0);
    } else {
        setpgid(pid, pid);
        pager_group = pid;
        int status;
        while ((status = wait_child_change(pid)) != -1 && WIFSTOPPED(status))
            stop_with_pager(pid);
        // A ^C or a hang-up ended the child: it was meant for tolm as well.
        if (status != -1 && WIFSIGNALED(status)) {
            int sig = WTERMSIG(status);
            if (sig == SIGINT || sig == SIGHUP || sig == SIGTERM) {
                raise(sig);
                handle_pending_signals();
            }
        }
        pager_group = 0;
        give_terminal(getpgrp());
    }
}

void end_pager() {
    if (pager_group <= 0 || in_child) return;
    const pid_t group = pager_group;
    pager_group = 0;
    kill(-group, SIGTERM);
    kill(-group, SIGCONT);
    // A pager that catches SIGTERM puts its screen and modes back before
    // it ends, and must still hold the terminal to do so; one that ignores
    // it is killed after half a second.
    const timespec tick = {0, 10L * 1000 * 1000};
    for (int i = 0; i < 50; i++) {
        while (waitpid(-group, nullptr, WNOHANG) > 0) {
        }
        if (kill(-group, 0) < 0) break;
        nanosleep(&tick, nullptr);
    }
    kill(-group, SIGKILL);
    while (waitpid(-group, nullptr, WNOHANG) > 0) {
    }
    give_terminal(getpgrp());
}
