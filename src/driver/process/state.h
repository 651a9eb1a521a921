// Process-wide state of tolm: the mode, the temporary directory, the status
// function and the fatal-error path. Part of the process layer, which
// includes nothing else of tolm; every module may include it.
// Results: none; a failure here ends the program through die.
#pragma once

#include <cstddef>
#include <memory>

#include "driver/process/ctext.h"

// Non-zero when standard output is a terminal; chooses the mode.
extern int interactive;
// Set first thing in every child the program forks: its exit leaves the
// temporary directory and the files in it to the main process.
extern volatile unsigned char in_child;
// /dev/null, open for writing for the whole run.
extern int devnull_fd;
// The private temporary directory: tmpdir_template until mkdtemp fills it
// in at start-up.
inline constexpr char tmpdir_template[] = "/tmp/tolm-XXXXXX";
extern char tmpdir[sizeof tmpdir_template];
// The program's copy of the URL, cut in place; the root item points into it.
extern CText url_copy;

// Every non-fatal message and confirmation goes through this pointer.
using StatusFn = void (*)(const char* format, ...);
extern StatusFn show_status;

// Batch variant: the message and a newline on standard error.
void show_status_stderr(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Message and newline on standard error, then exit status 1 through exit().
// While messages are held, the message is kept for
// write_held_fatal_message instead.
[[noreturn]] void die(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Holds die's message (cut to 511 bytes) until the exit clean-up has put
// the terminal back, whose restore would clear it from the screen.
void hold_fatal_messages(bool on);
// Writes a held message and a newline on standard error; for the exit
// clean-up, after the terminal's restore.
void write_held_fatal_message();

// Creates the private temporary directory (mkdtemp on tmpdir) or dies.
void make_tmpdir();

// Empties and removes the private temporary directory; does nothing in a
// forked child, the directory being the main process's, nor before
// make_tmpdir has made it.
void remove_tmpdir();
