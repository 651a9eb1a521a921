#include "actions/external.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <string>
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
// shell; the wait for it can be cut short by an ending signal.
void run_pager(const char* text) {
    pid_t pid = start_child();
    if (pid < 0) {
        show_status("Couldn't fork.");
    } else if (pid == 0) {
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
        wait_child(pid);
    }
}
