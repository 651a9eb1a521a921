// Every wait of the program: descriptors, the terminal's keys during a
// fetch, and the clock. A wait ends the program at once when an ending
// signal arrives (the safe point of process/signals). Part of the process
// layer.
// Results: the waits on a descriptor return as the system calls they stand
// for: -1 with errno set on failure, else 0 (read_fd and write_fd: the
// bytes moved).
#pragma once

#include <cstddef>
#include <sys/types.h>

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
[[nodiscard]] bool keys_watched();
// Whether the watch has cancelled a wait since it was last turned on.
[[nodiscard]] bool keys_cancelled();

// Waits until fd is ready for events (POLLIN / POLLOUT), handling signals
// meanwhile. Fails when poll fails, or with ECANCELED when the key watch
// cancels.
[[nodiscard]] int wait_fd(int fd, short events);

// When read_fd and write_fd wait through wait_fd: before every call (the
// terminal, whose waits must also wake for resizes), or only once the call
// would block, relying on the signal to interrupt a blocked call, which
// saves a poll per block on a fast stream.
enum class Wait { before_call, on_block };

// read() and write() that an ending signal cannot leave stuck: 0 at end of
// input, never -1 for EINTR.
[[nodiscard]] ssize_t read_fd(int fd, void* buf, size_t n, Wait wait = Wait::before_call);
[[nodiscard]] ssize_t write_fd(int fd, const void* buf, size_t n, Wait wait = Wait::before_call);
// Writes everything, continuing short writes.
[[nodiscard]] int write_all(int fd, const void* buf, size_t n, Wait wait = Wait::before_call);
// Asks that a pipe on fd hold at least bytes (Linux). A hint: on another
// kind of descriptor, another system or past the system's limit nothing
// changes.
void widen_pipe(int fd, size_t bytes);

// The monotonic clock, in nanoseconds: the one clock for rates and names.
[[nodiscard]] long long monotonic_ns();
