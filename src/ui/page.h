// The page view: drawing a menu, moving its highlight, resizing.
// Results: the drawing never fails and returns nothing; the placements
// (place_*) are arithmetic apart from drawing and return where the view
// goes.
#pragma once

#include <cstddef>
#include <cstdint>

struct Dir;
struct Item;

// The menu page last drawn, drawn again after a resize; nullptr before
// the first. Never owns; the driver re-points it before a menu it points
// into is released.
Item*& displayed_page();

// Clears the screen and draws a menu page (types '1', '7', '+'; others
// are ignored): its rows from top, the highlight, the status bar. The
// page becomes the displayed page, drawn again after a resize.
void draw_page(Item* page);
// The next draw_page shows text (static, not copied) on the status row in
// place of the status bar, once.
void note_on_next_draw(const char* text);
// Writes the item's place as the status bar shows it into buf (cut to
// size): host, port (left out when it is 70 or "gopher"), type, selector;
// for a page without a host (one tolm makes) its display text, its name.
void format_place(const Item& item, char* buf, size_t size);
// As format_place, with the request the item's server is sent (a search's
// query after a TAB) in place of the selector: the place of a fetch.
void format_request_place(const Item& item, char* buf, size_t size);

// The way a move goes through the menu: forward is down.
enum class Direction { forward, backward };

// Where a jump puts the highlight: exactly on the target line, or (paging)
// where it was when the moved view still shows it.
enum class Jump { exact, paging };

// Moves the highlight one line (place_step) and draws only what changed:
// the two lines, a scrolled-in line, the status bar. Nothing at either end.
void move_cursor(Item* page, Direction direction);
// Jumps to line, clamped to the menu (place_jump), and draws the page
// again unless nothing moved.
void jump_to(Item* page, int64_t line, Jump jump);
// After a resize: loads the terminal's new size, sets the scroll region,
// places (place_resize) and draws the displayed page again. The prompt
// and the fetch progress are drawn again by the caller, over it.
void redraw_resized_page();

// What a one-line move changed, for the drawing.
enum class Moved {
    nothing,           // the highlight was on the first or last item already
    highlight,         // the highlight alone
    scrolled_forward,  // and the view by one line forward
    scrolled_backward, // and the view by one line backward
    whole_page,        // the page needs drawing again (no room to scroll)
};

// The view placement of a one-line move: the highlight
// goes one line toward direction; the view scrolls one line forward when
// the highlight's new row (cursor - top) is at least last / 2 (last: the
// last menu row), backward when its old row was at most last / 2, as long
// as lines remain beyond the view. With last 0 the view starts at the
// highlight.
Moved place_step(uint64_t count, uint64_t last, Direction direction, uint64_t* top,
                 uint64_t* cursor);

// The view placement of a jump. False when the clamped target is the
// cursor (nothing changes).
[[nodiscard]] bool place_jump(uint64_t count, uint64_t last, int64_t line, Jump jump, uint64_t* top,
                              uint64_t* cursor);

// The top a resize leaves: the highlighted item stays on a menu row (top
// never above the cursor), a menu that fits starts at its first item, and
// otherwise top is never moved back when the window grows.
uint64_t place_resize(uint64_t count, uint64_t last, uint64_t top, uint64_t cursor);
// The view of a menu that replaced one whose view was top and cursor: the
// highlight on the same line number while that line exists, the view
// placed as after a resize, for the window's size now.
void keep_place(Dir& dir, uint64_t top, uint64_t cursor);

// Status-bar percentage: how far the page reaches.
long long reach_percent(uint64_t count, uint64_t top, int lines);
