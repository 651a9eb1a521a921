// Process-wide state of tolm, the fatal-error path and the allocation
// wrappers. This is the one header that every module may include.
#pragma once

#include <cstddef>
#include <memory>

#include "driver/ctext.h"

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

// Allocation that ends the program through die() instead of failing. The
// caller owns the result and frees it with free().
[[nodiscard]] void* alloc_or_die(size_t size);
[[nodiscard]] char* strdup_or_die(const char* text);
// Resizes block to count elements of size bytes; count 0 frees it and
// returns nullptr; a product beyond 64 bits dies with "realloc: overflow".
// The result replaces block, which must not be used again.
[[nodiscard]] void* resize_array_or_die(void* block, size_t count, size_t size);

// While one lives, a block growing one element at a time through
// resize_array_or_die is a menu's text: what its items will need (its
// lines so far times item_bytes, at most the text's size) is made present
// past its end, where they will be allocated once it is complete. A hint;
// nothing changes where the system cannot make memory present.
class MenuArriving {
  public:
    explicit MenuArriving(size_t item_bytes);
    ~MenuArriving();
    MenuArriving(const MenuArriving&) = delete;
    MenuArriving& operator=(const MenuArriving&) = delete;

  private:
    bool before_;
};

// The new-handler: once more memory may be had (a menu's larger heap pad
// given up) it returns for another try; else it dies with
// "malloc: <ENOMEM text>".
void out_of_memory();

// Hands memory freed by a large release back to the system, which an
// allocator may keep for later use otherwise. A hint.
void give_back_memory();

// Creates the private temporary directory (mkdtemp on tmpdir) or dies.
void make_tmpdir();

// Empties and removes the private temporary directory; in a forked child
// it does nothing, the directory being the main process's.
void remove_tmpdir();
