#include "driver/process/state.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <unistd.h>

int interactive = 0;
volatile unsigned char in_child = 0;
int devnull_fd = -1;
char tmpdir[sizeof tmpdir_template] = "/tmp/tolm-XXXXXX";
CText url_copy;
StatusFn show_status = show_status_stderr;

void show_status_stderr(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    vfprintf(stderr, format, ap);
    va_end(ap);
    fputc('\n', stderr);
}

namespace {
// While the terminal is set up, restoring it clears the screen: a fatal
// message waits here and is written after the restore.
bool hold_fatal = false;
char fatal_message[512];
} // namespace

void die(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    if (hold_fatal && !in_child) {
        vsnprintf(fatal_message, sizeof fatal_message, format, ap);
    } else {
        vfprintf(stderr, format, ap);
        fputc('\n', stderr);
    }
    va_end(ap);
    exit(1);
}

void hold_fatal_messages(bool on) {
    hold_fatal = on;
}

void write_held_fatal_message() {
    if (!fatal_message[0]) return;
    // Allocation-free: the message may be about exhausted memory.
    (void)!write(STDERR_FILENO, fatal_message, strlen(fatal_message));
    (void)!write(STDERR_FILENO, "\n", 1);
    fatal_message[0] = '\0';
}

namespace {

// Until mkdtemp has filled it in, tmpdir is only the template, which may
// name somebody else's directory.
bool tmpdir_made = false;

// The directory is private to this process, so whatever is still in it is
// ours: a download cut short by a signal has not been remembered by any
// item yet, and must not keep the directory from going.
void empty_tmpdir() {
    DIR* dir = opendir(tmpdir);
    if (!dir) return;
    int fd = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        if (strcmp(entry->d_name, ".") != 0 && strcmp(entry->d_name, "..") != 0)
            unlinkat(fd, entry->d_name, 0);
    }
    closedir(dir);
}

} // namespace

void make_tmpdir() {
    if (!mkdtemp(tmpdir)) die("mkdir: %s: %s", tmpdir, strerror(errno));
    tmpdir_made = true;
}

void remove_tmpdir() {
    if (in_child || !tmpdir_made) return;
    empty_tmpdir();
    rmdir(tmpdir);
}
