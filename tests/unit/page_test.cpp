// The page view's arithmetic: where a jump puts the view and the highlight,
// and how far the status bar says the page reaches.
#include <gtest/gtest.h>

#include <cstdint>

#include "ui/page.h"

namespace {

struct JumpCase {
    const char* name;
    uint64_t count;
    uint64_t last; // the last menu row: lines - 2
    int64_t line;
    Jump jump;
    uint64_t top, cursor;         // before
    bool moved;                   // place_jump's result
    uint64_t new_top, new_cursor; // after
};

// 24 lines: 23 menu rows, the last of them row 22.
const JumpCase jump_cases[] = {
    // The whole menu fits: only the highlight moves.
    {"fits, end", 23, 22, 23, Jump::paging, 0, 0, true, 0, 22},
    {"fits, home", 23, 22, 0, Jump::paging, 0, 10, true, 0, 0},
    {"fits, page down past the end", 5, 22, 22, Jump::paging, 0, 1, true, 0, 4},
    // Home: the view goes to the top; the highlight stays when visible.
    {"home from far below", 100, 22, -5, Jump::paging, 30, 35, true, 0, 0},
    {"home, highlight still visible", 100, 22, -5, Jump::paging, 5, 10, true, 0, 10},
    {"home again", 100, 22, -5, Jump::paging, 0, 10, true, 0, 0},
    {"home exact", 100, 22, 0, Jump::exact, 5, 10, true, 0, 0},
    {"page up near the top", 100, 22, 10 - 22, Jump::paging, 10, 15, true, 0, 15},
    // Into the middle: the target on menu row 0.
    {"middle", 100, 22, 40, Jump::paging, 0, 0, true, 40, 40},
    {"middle exact, already visible", 100, 22, 40, Jump::exact, 30, 35, true, 40, 40},
    {"page down", 100, 22, 0 + 22, Jump::paging, 0, 3, true, 22, 22},
    {"last full screen from target", 100, 22, 76, Jump::exact, 0, 0, true, 76, 76},
    // The last screenful: top = count - 1 - last = count - lines + 1.
    {"end", 100, 22, 100, Jump::paging, 0, 0, true, 77, 77},
    {"end again", 100, 22, 100, Jump::paging, 77, 77, true, 77, 99},
    {"end, highlight below the new top", 100, 22, 100, Jump::paging, 60, 80, true, 77, 80},
    {"end exact", 100, 22, 100, Jump::exact, 0, 0, true, 77, 99},
    {"into the last screen", 100, 22, 77, Jump::exact, 0, 0, true, 77, 77},
    {"into the last screen, not exact", 100, 22, 90, Jump::paging, 0, 5, true, 77, 77},
    // The target is the highlight: nothing at all, the view included.
    {"no move", 100, 22, 50, Jump::exact, 40, 50, false, 40, 50},
    {"clamped to the highlight", 100, 22, 500, Jump::paging, 0, 99, false, 0, 99},
    {"clamped below to the highlight", 100, 22, -1, Jump::paging, 5, 0, false, 5, 0},
};

TEST(PageTest, PlaceJump) {
    for (const JumpCase& c : jump_cases) {
        SCOPED_TRACE(c.name);
        uint64_t top = c.top, cursor = c.cursor;
        EXPECT_EQ(place_jump(c.count, c.last, c.line, c.jump, &top, &cursor), c.moved);
        EXPECT_EQ(top, c.new_top);
        EXPECT_EQ(cursor, c.new_cursor);
    }
}

// 24 lines again: last row 22, so the view follows from row 11 on.
TEST(PageTest, PlaceStepScrollsAtHalfHeight) {
    const auto fwd = Direction::forward, back = Direction::backward;
    const struct {
        const char* name;
        uint64_t count, last;
        Direction direction;
        uint64_t top, cursor;
        Moved moved;
        uint64_t new_top, new_cursor;
    } cases[] = {
        {"down to row 10", 100, 22, fwd, 0, 9, Moved::highlight, 0, 10},
        {"down to row 11 scrolls", 100, 22, fwd, 0, 10, Moved::scrolled_forward, 1, 11},
        {"down from row 11 scrolls", 100, 22, fwd, 10, 21, Moved::scrolled_forward, 11, 22},
        {"down, one line below the view", 100, 22, fwd, 76, 87, Moved::scrolled_forward, 77, 88},
        {"down, the last line in view", 100, 22, fwd, 77, 88, Moved::highlight, 77, 89},
        {"down on the last item", 100, 22, fwd, 77, 99, Moved::nothing, 77, 99},
        {"down in a menu that fits", 20, 22, fwd, 0, 15, Moved::highlight, 0, 16},
        {"up from row 11 scrolls back", 100, 22, back, 10, 21, Moved::scrolled_backward, 9, 20},
        {"up from row 12", 100, 22, back, 10, 22, Moved::highlight, 10, 21},
        {"up at the top of the menu", 100, 22, back, 0, 5, Moved::highlight, 0, 4},
        {"up on the first item", 100, 22, back, 0, 0, Moved::nothing, 0, 0},
        {"odd last row: half is 2", 10, 5, fwd, 0, 1, Moved::scrolled_forward, 1, 2},
        {"no room to scroll, down", 10, 0, fwd, 3, 3, Moved::whole_page, 4, 4},
        {"no room to scroll, up", 10, 0, back, 3, 3, Moved::whole_page, 2, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        uint64_t top = c.top, cursor = c.cursor;
        EXPECT_EQ(place_step(c.count, c.last, c.direction, &top, &cursor), c.moved);
        EXPECT_EQ(top, c.new_top);
        EXPECT_EQ(cursor, c.new_cursor);
    }
}

TEST(PageTest, ReachPercent) {
    const struct {
        uint64_t count, top;
        int lines;
        long long percent;
    } cases[] = {
        {100, 0, 24, 23}, {100, 50, 24, 73}, {100, 76, 24, 99}, {100, 77, 24, 100}, {7, 0, 5, 57},
        {1, 0, 24, 100},  {0, 0, 24, 100},   {23, 0, 24, 100},  {24, 0, 24, 95},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.count << " items, top " << c.top << ", " << c.lines << " lines");
        EXPECT_EQ(reach_percent(c.count, c.top, c.lines), c.percent);
    }
}

// A resize keeps the highlight on a menu row; a menu that now fits is
// shown from its first item, or a later jump could leave the cursor above
// top and the highlight off screen.
TEST(PageTest, PlaceResize) {
    const struct {
        const char* name;
        uint64_t count, last, top, cursor, new_top;
    } cases[] = {
        {"shrink: highlight onto the last menu row", 100, 18, 5, 30, 12},
        {"grow: top stays", 100, 38, 12, 30, 12},
        {"grow until the menu fits: from the first item", 40, 58, 21, 30, 0},
        {"fits exactly", 40, 39, 1, 30, 0},
        {"one item more than fits keeps top", 41, 39, 1, 30, 1},
        {"top never above the cursor", 100, 18, 50, 40, 40},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(place_resize(c.count, c.last, c.top, c.cursor), c.new_top);
    }
}

} // namespace
