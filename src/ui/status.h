// Messages and prompts on the status row.
// Results: a prompt's line is owned by the caller, nullptr when cancelled;
// a question's answer is a bool, true for yes; a key is a byte, -1 when
// the input has ended.
#pragma once

#include <cstddef>

// Shared buffer for every text drawn on the terminal.
inline constexpr size_t line_buf_size = 256;
extern char line_buf[line_buf_size];

// Interactive show_status: message in standout on the status row, then
// waits for one key.
void show_status_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Asks for one line on the status row. Returns an owned line (caller
// frees) without its newline, or nullptr on ^D or a read error. What
// follows the line's newline in the same input is kept for read_key.
[[nodiscard]] char* prompt_line(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Ends a standout line that print_fitted wrote on the status row from
// column 0 and that took used columns: the rest of the row is cleared,
// unless the text filled the row (the cursor then still stands on the last
// column, and clearing would erase the text's last character, such as the
// ellipsis of a cut line).
void end_status_text(size_t used);

// Writes text in standout on the status row through print_fitted, the
// cursor left where it was; the caller flushes.
void put_status_text(const char* text);

// Asks a question on the status row and takes one key as the answer:
// true for 'y' or 'Y'; any other key, the end of input or a read error
// declines. No line is read, so the keys typed after the answer stay keys.
[[nodiscard]] bool ask_yes(const char* format, ...) __attribute__((format(printf, 1, 2)));

// Reads one key byte (first those typed ahead of a prompt's answer, then
// from the terminal), handling signals while waiting. Returns the byte, or
// -1 at end of input or on a read error.
[[nodiscard]] int read_key();

// Keeps bytes that were typed while the program was busy: read_key returns
// them, after those kept before, before it reads the terminal again.
void keep_keys(const char* bytes, size_t n);

// Draws the prompt being answered again, with what was read of the answer,
// in line mode: for a redraw of the page in the middle of a prompt.
void redraw_prompt();
