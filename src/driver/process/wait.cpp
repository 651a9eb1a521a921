#include "driver/process/wait.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include "driver/process/signals.h"
#include "driver/process/state.h"

namespace {

// The key watch: the terminal, what reads its keys, and whether a fetch
// has it on.
int watch_fd = -1;
Keys (*on_watch_keys)() = nullptr;
void (*on_watch_idle)() = nullptr;
bool watch_on = false;
bool watch_cancelled = false;
// How long a watched wait sleeps before on_idle runs, and how often the
// terminal is looked at between calls that do not wait.
constexpr int watch_idle_ms = 100;
long long watch_checked_ns = 0;

// A forked child shares the terminal but must never take its keys.
bool watching() {
    return watch_on && !in_child;
}

// A poll before every block of a fast stream would cost a system call per
// block: while the watch is on, the calls that do not wait first (on a
// socket that does not block then, or a file) look at the terminal at most
// ten times a second.
bool key_check_due() {
    return watching() && monotonic_ns() - watch_checked_ns >= watch_idle_ms * 1'000'000LL;
}

} // namespace

long long monotonic_ns() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return static_cast<long long>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

void set_key_watch(int fd, Keys (*on_keys)(), void (*on_idle)()) {
    watch_fd = fd;
    on_watch_keys = on_keys;
    on_watch_idle = on_idle;
}

bool watch_keys(bool on) {
    bool was = watch_on;
    watch_on = on && on_watch_keys;
    if (watch_on) watch_cancelled = false;
    return was;
}

bool keys_watched() {
    return watching();
}

bool keys_cancelled() {
    return watch_cancelled;
}

int wait_fd(int fd, short events) {
    for (;;) {
        handle_pending_signals();
        // The terminal's own waits (a message during a fetch) read it
        // themselves. poll() ignores the entries with a negative fd.
        bool keys = watching() && fd != watch_fd;
        if (keys) watch_checked_ns = monotonic_ns();
        struct pollfd fds[3] = {
            {fd, events, 0}, {signal_wake_fd(), POLLIN, 0}, {keys ? watch_fd : -1, POLLIN, 0}};
        int n = poll(fds, 3, keys ? watch_idle_ms : -1);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) {
            if (on_watch_idle) on_watch_idle();
            continue;
        }
        if (fds[1].revents) drain_signal_wakes();
        if (fds[2].revents) {
            if (quit_pending()) handle_pending_signals();
            Keys k = on_watch_keys();
            if (k == Keys::gone) watch_on = false;
            if (k == Keys::cancel) {
                watch_cancelled = true;
                errno = ECANCELED;
                return -1;
            }
        }
        if (fds[0].revents) {
            // A quit that arrived together with the data still wins.
            if (quit_pending() && !in_child) handle_pending_signals();
            return 0;
        }
    }
}

namespace {

template <typename Call> ssize_t retry_io(int fd, short events, Wait wait, Call call) {
    for (;;) {
        handle_pending_signals();
        bool before = wait == Wait::before_call || key_check_due();
        if (before && wait_fd(fd, events) < 0) return -1;
        ssize_t r = call();
        if (r >= 0 || errno == EINTR) {
            if (r >= 0) return r;
            continue;
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
        if (!before && wait_fd(fd, events) < 0) return -1;
    }
}

} // namespace

ssize_t read_fd(int fd, void* buf, size_t n, Wait wait) {
    return retry_io(fd, POLLIN, wait, [&] { return read(fd, buf, n); });
}

ssize_t write_fd(int fd, const void* buf, size_t n, Wait wait) {
    return retry_io(fd, POLLOUT, wait, [&] { return write(fd, buf, n); });
}

int write_all(int fd, const void* buf, size_t n, Wait wait) {
    const char* p = static_cast<const char*>(buf);
    while (n > 0) {
        ssize_t w = write_fd(fd, p, n, wait);
        if (w < 0) return -1;
        p += w;
        n -= static_cast<size_t>(w);
    }
    return 0;
}

void widen_pipe(int fd, size_t bytes) {
#if defined(F_GETPIPE_SZ) && defined(F_SETPIPE_SZ)
    int now = fcntl(fd, F_GETPIPE_SZ);
    if (now >= 0 && static_cast<size_t>(now) < bytes)
        (void)fcntl(fd, F_SETPIPE_SZ, static_cast<int>(bytes));
#else
    (void)fd;
    (void)bytes;
#endif
}
