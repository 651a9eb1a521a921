// The page view: drawing a menu, moving its highlight, resizing.
#pragma once

#include <cstdint>

struct Item;

// The menu page last drawn; redrawn on resize. Never owns.
extern Item* displayed_page;

void draw_page(Item* page);
// The way a move goes through the menu: forward is down.
enum class Direction { forward, backward };

// Where a jump puts the highlight: exactly on the target line, or (paging)
// where it was when the moved view still shows it.
enum class Jump { exact, paging };

void move_cursor(Item* page, Direction direction);
void jump_to(Item* page, int64_t line, Jump jump);
void on_resize(int sig);

// The view placement of a jump, apart from drawing. Returns false when the
// clamped target is the cursor (nothing changes).
bool place_jump(uint64_t count, uint64_t last, int64_t line, Jump jump, uint64_t* top,
                uint64_t* cursor);

// The top a resize leaves: the highlighted item stays on a menu row (top
// never above the cursor), a menu that fits starts at its first item, and
// otherwise top is never moved back when the window grows.
uint64_t place_resize(uint64_t count, uint64_t last, uint64_t top, uint64_t cursor);

// Status-bar percentage: how far the page reaches.
long long reach_percent(uint64_t count, uint64_t top, int lines);
