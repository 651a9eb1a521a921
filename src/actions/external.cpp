#include "actions/external.h"

#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "driver/signals.h"
#include "driver/state.h"
#include "items/uri.h"

namespace {

char yank_buf[256];

} // namespace

void plumb(const char* program, const char* argument) {
    pid_t pid = fork();
    if (pid < 0) {
        show_status("Couldn't fork.");
        return;
    }
    if (pid == 0) {
        in_child = 1;
        reset_signals_in_child();
        // The middle process ends at once, so the program runs as nobody's
        // child of ours and the wait for the pager never waits for it too.
        if (fork() != 0) _exit(0);
        dup2(devnull_fd, STDOUT_FILENO);
        dup2(devnull_fd, STDERR_FILENO);
        execlp(program, program, argument, static_cast<char*>(nullptr));
        _exit(1);
    }
    // Only the middle process is ours, and it ends at once.
    wait_child(pid);
    show_status("%s \"%s\"", "Plumbed", argument);
}

// What popen("xclip", "w") and pclose would do, but with a wait for the
// clipboard program that an ending signal can cut short.
void yank_uri(const Item& item) {
    format_item_uri(item, yank_buf, sizeof yank_buf);
    int data[2];
    if (pipe(data) < 0) {
        show_status("URI not %s\n", "Yanked");
        return;
    }
    pid_t pid = fork();
    if (pid == 0) {
        in_child = 1;
        reset_signals_in_child();
        close(data[1]);
        if (data[0] != STDIN_FILENO) {
            dup2(data[0], STDIN_FILENO);
            close(data[0]);
        }
        execl("/bin/sh", "sh", "-c", "xclip", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(data[0]);
    if (pid < 0) {
        close(data[1]);
        show_status("URI not %s\n", "Yanked");
        return;
    }
    write_all(data[1], yank_buf, strlen(yank_buf));
    close(data[1]);
    wait_child(pid);
    show_status("%s \"%s\"", "Yanked", yank_buf);
}
