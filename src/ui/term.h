// Terminal modes and the terminal description. The only module that talks
// to terminfo: everything else writes capabilities through put_cap().
// Results: none fail; without a description a capability writes nothing
// and the size is 0.
#pragma once

#include <termios.h>

// The capabilities tolm writes (named apart from <term.h>'s macros).
enum class Cap {
    clear,         // clear_screen
    save_pos,      // save_cursor
    restore_pos,   // restore_cursor
    scroll_region, // change_scroll_region (top, bottom)
    move,          // cursor_address (row, column)
    column,        // column_address (column)
    down,          // cursor_down
    scroll_fwd,    // scroll_forward
    scroll_rev,    // scroll_reverse
    standout_on,   // enter_standout_mode
    standout_off,  // exit_standout_mode
    clear_eol,     // clr_eol
};

// Writes the capability, expanded with its parameters, into the standard
// output stream (in order with the text); an absent capability writes nothing.
void put_cap(Cap cap, int p1 = 0, int p2 = 0);

// The current description's size; 0 when none is loaded.
int term_lines();
int term_columns();

// The screen's layout: the menu rows on top, which form the scroll region,
// and the status row, the last. The number of menu rows (0 without a
// description), and the last of them, which is also the page step (0 when
// there are fewer than two).
int menu_rows();
int last_menu_row();

// Raw modes, description loaded once, scroll region over the menu rows,
// cleared screen.
void term_setup();
// Saved modes back; whole-screen scroll region and cleared screen.
void term_restore();
// Releases and loads the description afresh, and sets the scroll region
// over the menu rows of the new size (after a resize).
void term_reload();

// How the terminal hands over input: key by key without echo (browsing),
// or a line at a time with echo and line editing (prompts).
enum class Input { keys, line };
// Sets the terminal's input mode, on top of the modes term_setup made.
void term_input(Input mode);
