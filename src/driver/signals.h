// The one owner of signal handling. Handlers only note the signal and wake
// the waits below through a self-pipe; everything else happens at a safe
// point in the main flow, so no handler calls anything that is not
// async-signal-safe.
#pragma once

#include <cstddef>
#include <sys/types.h>

// SIGINT, SIGHUP and SIGTERM noted for exit with 128 + signal number, and
// an alarm armed that interrupts a call that blocked just after the check;
// the noting handlers interrupt blocking calls (no SA_RESTART); SIGCHLD
// ignored; SIGPIPE caught by a handler that does nothing, so a
// write to a closed pipe fails with EPIPE and started programs get the
// default disposition back at exec; SIGXFSZ ignored, so a write past the
// file-size limit fails with EFBIG.
void install_signal_handlers();

// SIGWINCH noted and handed to hook at the next safe point, or (nullptr)
// given its default disposition.
void set_resize_hook(void (*hook)(int));

// SIGTSTP (the terminal's suspend key) noted; at the next safe point
// before() runs, the process stops, and after() runs once it continues.
// nullptr hooks give SIGTSTP its default disposition.
void set_suspend_hooks(void (*before)(), void (*after)());

// Safe point: ends the process through exit() when an ending signal is
// pending; runs the resize hook when a resize is pending.
void handle_pending_signals();

// Exit status for a normal end: 0, or 128 + the signal when one is pending.
[[noreturn]] void finish_run();

// What the key watch's hook made of the terminal's input.
enum class Keys {
    kept,   // bytes kept for later (type-ahead)
    cancel, // the user asked to cancel the fetch
    gone,   // the terminal gives nothing more: stop watching it
};

// The terminal watched during a fetch (interactive mode): on_keys runs
// when fd has input; on_idle runs when a watched wait has seen nothing for
// a tenth of a second (a progress display catches up).
void set_key_watch(int fd, Keys (*on_keys)(), void (*on_idle)());
// Turns the watch on or off (on only when set_key_watch set it up).
// Returns the previous state. While it is on, wait_fd on any other
// descriptor also waits for the terminal and fails with ECANCELED when
// on_keys says cancel, and read_fd and write_fd with Wait::on_block look at
// the terminal through wait_fd at most ten times a second: a descriptor
// they use must not block then (a blocked call sees no key).
bool watch_keys(bool on);
// Whether the watch is on (never in a child).
bool keys_watched();
// Whether the watch has cancelled a wait since it was last turned on.
bool keys_cancelled();

// Waits until fd is ready for events (POLLIN / POLLOUT), handling signals
// meanwhile. Returns 1 when ready, -1 with errno set when poll fails or
// (ECANCELED) when the key watch cancels.
[[nodiscard]] int wait_fd(int fd, short events);

// When read_fd and write_fd wait through wait_fd: before every call (the
// terminal, whose waits must also wake for resizes), or only once the call
// would block, relying on the signal to interrupt a blocked call, which
// saves a poll per block on a fast stream.
enum class Wait { before_call, on_block };

// read() and write() that an ending signal cannot leave stuck. Return as
// read() and write() do (bytes moved, 0 at end of input, -1 with errno
// set), never -1 for EINTR.
[[nodiscard]] ssize_t read_fd(int fd, void* buf, size_t n, Wait wait = Wait::before_call);
[[nodiscard]] ssize_t write_fd(int fd, const void* buf, size_t n, Wait wait = Wait::before_call);
// Writes everything (continuing short writes); 0, or -1 with errno set.
[[nodiscard]] int write_all(int fd, const void* buf, size_t n, Wait wait = Wait::before_call);
// Asks that a pipe on fd hold at least bytes (Linux). A hint: on another
// kind of descriptor, another system or past the system's limit nothing
// changes.
void widen_pipe(int fd, size_t bytes);

// Waits for a child to end (and, SIGCHLD being ignored, for every other
// child of ours), handling signals meanwhile.
void wait_child(pid_t pid);

// fork() for a child whose exit status matters: SIGCHLD has its default
// action from before the fork until wait_child_status, so the status is
// kept for the wait instead of being discarded. Returns as fork().
[[nodiscard]] pid_t fork_with_status();
// Waits for a child of fork_with_status, handling signals meanwhile, then
// ignores SIGCHLD again. Returns its exit status, or -1 when it did not
// exit normally.
[[nodiscard]] int wait_child_status(pid_t pid);

// For children: restore default dispositions and an empty mask.
void reset_signals_in_child();
