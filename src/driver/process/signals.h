// The one owner of signal handling and of the children's dispositions.
// Handlers only note the signal and wake the waits (process/wait) through a
// self-pipe; everything else happens at a safe point in the main flow, so
// no handler calls anything that is not async-signal-safe. Part of the
// process layer.
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

// Whether an ending signal waits for the next safe point.
[[nodiscard]] bool quit_pending();
// The read end of the self-pipe the handlers write to: a wait polls it so
// that a signal wakes it. drain_signal_wakes empties it.
[[nodiscard]] int signal_wake_fd();
void drain_signal_wakes();

// Waits for a child to end (and, SIGCHLD being ignored, for every other
// child of ours), handling signals meanwhile.
void wait_child(pid_t pid);

// fork() for every child of tolm. The child runs nothing before in_child
// is set, every disposition tolm changed (SIGCHLD among them) is the
// default again and no signal is blocked, so that programs it starts and
// their own waits behave as started from a shell. Returns as fork().
[[nodiscard]] pid_t start_child();

// start_child() for a child whose exit status matters: SIGCHLD has its
// default action from before the fork until wait_child_status, so the
// status is kept for the wait instead of being discarded.
[[nodiscard]] pid_t fork_with_status();
// Waits for a child of fork_with_status to end or to stop, handling
// signals meanwhile; once it has ended, ignores SIGCHLD again. Returns
// waitpid's status, or -1 when the wait failed.
[[nodiscard]] int wait_child_change(pid_t pid);
// Waits for a child of fork_with_status to end, as wait_child_change.
// Returns its exit status, or -1 when it did not exit normally.
[[nodiscard]] int wait_child_status(pid_t pid);
