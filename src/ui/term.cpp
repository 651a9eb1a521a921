#include "ui/term.h"

#include <cstdio>
#include <unistd.h>

// <term.h> defines lines, columns, clear_screen and friends as macros; it
// stays in this file so that they do not leak into the rest of the program.
#include <curses.h>
#include <term.h>

namespace {

struct termios orig_termios;
struct termios raw_termios;
// Result of the last setupterm: 0 while a description is loaded, -1 before.
int termset = -1;

// Whether orig_termios holds attributes worth putting back.
bool have_orig = false;

int put_char(int c) {
    return putchar(c);
}

const char* cap_string(Cap cap) {
    switch (cap) {
    case Cap::clear:
        return clear_screen;
    case Cap::save_pos:
        return save_cursor;
    case Cap::restore_pos:
        return restore_cursor;
    case Cap::scroll_region:
        return change_scroll_region;
    case Cap::move:
        return cursor_address;
    case Cap::column:
        return column_address;
    case Cap::down:
        return cursor_down;
    case Cap::scroll_fwd:
        return scroll_forward;
    case Cap::scroll_rev:
        return scroll_reverse;
    case Cap::standout_on:
        return enter_standout_mode;
    case Cap::standout_off:
        return exit_standout_mode;
    case Cap::clear_eol:
        return clr_eol;
    }
    return nullptr;
}

// A single menu row cannot form a scroll region of its own.
void set_menu_scroll_region() {
    if (menu_rows() >= 2) put_cap(Cap::scroll_region, 0, last_menu_row());
}

} // namespace

void put_cap(Cap cap, int p1, int p2) {
    if (termset != 0) return;
    const char* s = cap_string(cap);
    // terminfo marks a cancelled capability with (char*)-1.
    if (!s || s == reinterpret_cast<const char*>(-1)) return; // NOLINT(performance-no-int-to-ptr)
    // putp writes straight to the descriptor in this library; tputs with
    // putchar keeps capabilities in order with the text in stdout's buffer.
    const char* expanded = tparm(s, p1, p2, 0, 0, 0, 0, 0, 0, 0);
    if (expanded) tputs(expanded, 1, put_char);
}

int term_lines() {
    return termset == 0 ? lines : 0;
}
int term_columns() {
    return termset == 0 ? columns : 0;
}

int menu_rows() {
    return term_lines() > 1 ? term_lines() - 1 : 0;
}
int last_menu_row() {
    return menu_rows() > 1 ? menu_rows() - 1 : 0;
}

void term_setup() {
    have_orig = tcgetattr(STDIN_FILENO, &orig_termios) == 0;
    raw_termios = orig_termios;
    raw_termios.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    raw_termios.c_cc[VMIN] = 1;
    raw_termios.c_cc[VTIME] = 0;
    tcsetattr(STDIN_FILENO, TCSANOW, &raw_termios);
    if (termset != 0) termset = setupterm(nullptr, STDOUT_FILENO, nullptr);
    put_cap(Cap::clear);
    put_cap(Cap::save_pos);
    set_menu_scroll_region();
    put_cap(Cap::restore_pos);
    fflush(stdout);
}

void term_restore() {
    if (have_orig) tcsetattr(STDIN_FILENO, TCSANOW, &orig_termios);
    if (termset != 0) return;
    put_cap(Cap::scroll_region, 0, term_lines() - 1);
    put_cap(Cap::clear);
    fflush(stdout);
}

void term_reload() {
    if (termset == 0) del_curterm(cur_term);
    termset = setupterm(nullptr, STDOUT_FILENO, nullptr);
    set_menu_scroll_region();
}

void term_input(Input mode) {
    if (mode == Input::line)
        raw_termios.c_lflag |= ICANON | ECHO;
    else
        raw_termios.c_lflag &= ~static_cast<tcflag_t>(ICANON | ECHO);
    tcsetattr(STDIN_FILENO, TCSANOW, &raw_termios);
}
