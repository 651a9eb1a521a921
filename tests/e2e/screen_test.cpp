// The real tolm in interactive mode under a pseudo-terminal: what a person
// sees on the screen (read back through libvterm) while browsing menus of
// the scripted fake server, resizing the window and ending the program.
#include "fake_server.h"
#include "pty_run.h"
#include "screen.h"
#include "session.h"

#include <csignal>
#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <netdb.h>
#include <termios.h>

using namespace tolmtest;

namespace {

const std::string kHint = " [Press a key to continue \xE2\x98\x83]";
const std::string kEllipsis = "\xE2\x80\xA6";

std::string two_digits(size_t i) {
    char buf[24];
    snprintf(buf, sizeof buf, "%02zu", i);
    return buf;
}

// count text items "item 00", "item 01", ...
std::string long_menu(size_t count, uint16_t port) {
    std::string m;
    for (size_t i = 0; i < count; ++i)
        m += menu_line('0', "item " + two_digits(i), "/t/" + two_digits(i), "127.0.0.1",
                       std::to_string(port));
    return m + ".\r\n";
}

std::vector<std::string> long_menu_rows(size_t count) {
    std::vector<std::string> rows;
    for (size_t i = 0; i < count; ++i)
        rows.push_back("Txt+ item " + two_digits(i));
    return rows;
}

// Status bar of the root page for a view; computed here from the
// reach rule so that every step of a walk can be checked.
std::string status_bar(size_t top, size_t count, int rows, uint16_t port) {
    size_t reach = top + static_cast<size_t>(rows) - 1;
    size_t percent = reach < count ? reach * 100 / count : 100;
    char buf[64];
    snprintf(buf, sizeof buf, "%3zu%%| 127.0.0.1:%u/1", percent, port);
    return buf;
}

// Empty when the screen shows exactly this view of a menu: every menu row
// its item, only the highlighted row in standout, the terminal's cursor at
// column 0 of that row and the given status bar in standout.
std::string view_mismatch(const Screen& s, const std::vector<std::string>& items, size_t top,
                          size_t cursor, const std::string& status) {
    int menu_rows = s.rows() - 1;
    for (int r = 0; r < menu_rows; ++r) {
        size_t i = top + static_cast<size_t>(r);
        std::string want = i < items.size() ? items[i] : "";
        if (s.row(r) != want) return "row " + std::to_string(r) + " is not \"" + want + "\"";
        bool lit = i == cursor;
        if (s.row_has_standout(r) != lit || (lit && !s.standout(r, 0)))
            return "standout wrong on row " + std::to_string(r);
    }
    if (s.row(menu_rows) != status) return "status row is not \"" + status + "\"";
    if (!s.standout(menu_rows, 0)) return "status row not in standout";
    int want_row = static_cast<int>(cursor - top);
    if (s.cursor_row() != want_row || s.cursor_col() != 0)
        return "cursor not at row " + std::to_string(want_row) + ", column 0";
    return "";
}

class TerminalTest : public InteractiveTest {
  protected:
    using InteractiveTest::start;
    // Starts tolm on a rows x cols terminal.
    Session& start(int rows, int cols, std::map<std::string, std::string> env = {},
                   const std::string& path = "/1") {
        RunOptions o;
        o.rows = rows;
        o.cols = cols;
        o.env = std::move(env);
        return start(path, o);
    }
    PtyRun& run() { return session().run(); }
    Screen& screen() { return session().screen(); }

    // Serves a menu of count items as the root page, starts tolm on a
    // rows x cols terminal and waits for the page's first view.
    std::vector<std::string> start_long_menu(size_t count, int rows, int cols) {
        server_.on("", Script::send(long_menu(count, server_.port())));
        auto items = long_menu_rows(count);
        start(rows, cols);
        keys_to_view("", items, 0, 0);
        return items;
    }

    // Types keys and waits until the screen shows the view.
    void keys_to_view(const std::string& keys, const std::vector<std::string>& items, size_t top,
                      size_t cursor) {
        // After the first wrong screen the walk has lost its way: the rest
        // of it would only add timeouts.
        if (HasFatalFailure()) return;
        if (!keys.empty()) run().send(keys);
        std::string status = status_bar(top, items.size(), screen().rows(), server_.port());
        bool shown = run().pump_until(
            [&] { return view_mismatch(screen(), items, top, cursor, status).empty(); });
        ASSERT_TRUE(shown) << "after keys \"" << keys << "\" expected top " << top << ", highlight "
                           << cursor << ": " << view_mismatch(screen(), items, top, cursor, status)
                           << "\n"
                           << screen().dump();
    }

    // The bytes the program writes in answer to keys, until it waits for
    // input again with the given view.
    std::string bytes_for(const std::string& keys, const std::vector<std::string>& items,
                          size_t top, size_t cursor) {
        size_t from = run().pty().size();
        keys_to_view(keys, items, top, cursor);
        EXPECT_TRUE(session().settle()) << session().dump();
        return run().pty().substr(from);
    }
};

// ------------------------------------------------------------ the page

class PageViewTest : public TerminalTest {};

TEST_F(PageViewTest, RootMenuRowsHighlightCursorAndLongStatusForm) {
    std::string port = std::to_string(server_.port());
    server_.on("", Script::send(menu_line('1', "Sub", "/sub", "127.0.0.1", port) +
                                menu_line('0', "About", "/about", "127.0.0.1", port) +
                                menu_line('i', "info", "", "null.host", "1") + ".\r\n"));
    start(24, 80);
    std::vector<std::string> items{"Dir+ Sub", "Txt+ About", "   | info"};
    std::string status = "100%| 127.0.0.1:" + port + "/1";
    ASSERT_TRUE(session().wait([&] {
        return view_mismatch(screen(), items, 0, 0, status).empty();
    })) << view_mismatch(screen(), items, 0, 0, status)
        << "\n"
        << screen().dump();
    // The highlight covers the text of its line; the rest of the row and
    // the status row after its text are in normal video.
    EXPECT_TRUE(screen().standout(0, 7)) << screen().dump();
    EXPECT_FALSE(screen().standout(0, 8)) << screen().dump();
    EXPECT_TRUE(screen().standout(23, static_cast<int>(status.size()) - 1)) << screen().dump();
    EXPECT_FALSE(screen().standout(23, static_cast<int>(status.size()))) << screen().dump();
    EXPECT_TRUE(session().raw());
    EXPECT_EQ(server_.requests(), std::vector<std::string>{""});
    EXPECT_TRUE(session().quits());
    EXPECT_TRUE(session().cooked());
}

// One-line moves through 100 items at 24 rows (23 menu rows, half height
// 11): down moves take the highlight to row 10 and then scroll, up moves
// come back to row 11 and then scroll.
TEST_F(PageViewTest, OneLineMovesScrollAtTheHalfHeight) {
    auto items = start_long_menu(100, 24, 80);
    const size_t count = items.size();
    for (size_t p = 1; p < count; ++p) {
        size_t top = p < 10 ? 0 : std::min<size_t>(p - 10, 77);
        keys_to_view("j", items, top, p);
    }
    // Down at the last item does nothing.
    keys_to_view("j", items, 77, 99);
    for (size_t c = count - 1; c-- > 0;) {
        size_t top = c < 11 ? 0 : std::min<size_t>(c - 11, 77);
        keys_to_view("k", items, top, c);
    }
    keys_to_view("k", items, 0, 0);
    EXPECT_TRUE(session().quits());
}

TEST_F(PageViewTest, OneLineMoveScrollsWithoutARedraw) {
    auto items = start_long_menu(100, 24, 80);
    keys_to_view(std::string(30, 'j'), items, 20, 30);
    std::string move = bytes_for("j", items, 21, 31);
    std::string jump = bytes_for("G", items, 77, 77);
    EXPECT_EQ(move.find("\x1b[2J"), std::string::npos) << "a one-line move cleared the screen";
    EXPECT_NE(jump.find("\x1b[2J"), std::string::npos) << "a jump must redraw";
    EXPECT_LT(move.size() * 3, jump.size())
        << "one-line move wrote " << move.size() << " bytes, a full redraw " << jump.size();
    EXPECT_TRUE(session().quits());
}

// Home, End and the paging keys on 100 items at 24 rows: last menu row and
// page step 22, last screenful from item 77.
TEST_F(PageViewTest, JumpsPlaceViewAndHighlight) {
    auto items = start_long_menu(100, 24, 80);

    // End: first the view, with the highlight on its first row; then the
    // last item. A third End has nothing to do and redraws nothing.
    keys_to_view("G", items, 77, 77);
    keys_to_view("G", items, 77, 99);
    std::string idle = bytes_for("Gk", items, 77, 98);
    EXPECT_EQ(idle.find("\x1b[2J"), std::string::npos) << "End on the last item redrew";

    // Home from beyond the first screenful: straight to the first item.
    keys_to_view("g", items, 0, 0);

    // Home with the highlight still inside the first screenful keeps it
    // on its item; the second press takes it to the first item.
    keys_to_view(std::string(15, 'j'), items, 5, 15);
    keys_to_view("g", items, 0, 15);
    keys_to_view("g", items, 0, 0);

    // Paging down puts the target on the first row until the last
    // screenful, which takes two presses to reach the last item.
    keys_to_view(" ", items, 22, 22);
    keys_to_view(" ", items, 44, 44);
    keys_to_view(" ", items, 66, 66);
    keys_to_view(" ", items, 77, 77);
    keys_to_view(" ", items, 77, 99);
    // Paging up likewise; near the top the highlight stays on its item.
    keys_to_view("b", items, 55, 55);
    keys_to_view("b", items, 33, 33);
    keys_to_view("b", items, 11, 11);
    keys_to_view("b", items, 0, 11);
    keys_to_view("b", items, 0, 0);

    // End with the highlight already inside the last screenful keeps it
    // on its item.
    keys_to_view("   ", items, 66, 66);
    keys_to_view(std::string(14, 'j'), items, 70, 80);
    keys_to_view("G", items, 77, 80);
    keys_to_view("G", items, 77, 99);
    EXPECT_TRUE(session().quits());
}

// ------------------------------------------------------------ resize

class ResizeTest : public TerminalTest {};

// 44 items at 40 rows: the last screenful starts at item 5, so End, End and
// up moves (which do not scroll below the half height) reach highlight 30
// with top 5.
TEST_F(ResizeTest, ShrinkKeepsTheHighlightOnScreenAndGrowKeepsTop) {
    auto items = start_long_menu(44, 40, 80);
    keys_to_view("G", items, 5, 5);
    keys_to_view("G", items, 5, 43);
    keys_to_view(std::string(13, 'k'), items, 5, 30);

    session().resize(20, 80);
    keys_to_view("", items, 12, 30);

    session().resize(40, 80);
    keys_to_view("", items, 12, 30);
    // The scroll region follows the new size: scrolling back at row 18
    // moves every menu row of the 40-row window, not only the first 19.
    keys_to_view("k", items, 11, 29);
    EXPECT_TRUE(session().quits());
}

TEST_F(ResizeTest, ResizeWhileTheFirstPageIsFetched) {
    const size_t count = 100;
    std::string menu = long_menu(count, server_.port());
    size_t cut = menu.find("\r\n") + 2;
    server_.on("", Script::held(menu.substr(0, cut), menu.substr(cut)));
    auto items = long_menu_rows(count);
    start(24, 80);
    ASSERT_TRUE(server_.wait_for_requests(1, deadline()));
    session().resize(30, 100);
    // The resize is taken while the rest of the page has not come.
    ASSERT_TRUE(session().settle()) << session().dump();
    server_.release();
    keys_to_view("", items, 0, 0);
    // 30 rows: half height 14, so the 14th down move is the first to
    // scroll, within the new scroll region.
    keys_to_view(std::string(15, 'j'), items, 2, 15);
    EXPECT_TRUE(session().quits());
}

// The terminal is the pager's while it runs: a resize then draws nothing
// over it, and the page comes back in the new size once it ends.
TEST_F(ResizeTest, ResizeWhileThePagerRunsDrawsNothingOverIt) {
    TempDir dir("/tmp/e2e-screen-");
    write_script(dir.file("pager"), "cat\necho 'end of text'\nread x </dev/tty\n");
    server_.on("", Script::send(long_menu(30, server_.port())));
    server_.on("/t/00", Script::send("the text\r\n.\r\n"));
    auto items = long_menu_rows(30);
    start(24, 80, {{"PAGER", dir.file("pager")}});
    keys_to_view("", items, 0, 0);
    auto pager_shown = [&] { return screen().dump().find("end of text") != std::string::npos; };
    // tolm waits for the pager, with no signal left to take (a resize's):
    // in a wait for the child, or in a poll that watches for its end.
    auto waits_for_pager = [&] {
        auto waits = [&] {
            return waiting_for_child(run().pid()) || waiting_for_input(run().pid());
        };
        if (!run().pump_until(waits)) return false;
        run().pump_for(scaled(Millis(30)));
        return waits();
    };
    session().keys("\r");
    ASSERT_TRUE(run().pump_until(pager_shown) && waits_for_pager()) << session().dump();
    session().keys("");
    session().resize(30, 100);
    ASSERT_TRUE(waits_for_pager()) << session().dump();
    EXPECT_EQ(session().since_keys(), "") << "drawn over the pager\n" << session().dump();
    EXPECT_TRUE(pager_shown()) << session().dump();
    run().send("\n");
    keys_to_view("", items, 0, 0);
    EXPECT_TRUE(session().quits());
}

// ------------------------------------------------------------ tiny terminals

class TinyTerminalTest : public TerminalTest {};

TEST_F(TinyTerminalTest, TwoRowsShowTheHighlightOnTheOnlyMenuRow) {
    auto items = start_long_menu(100, 2, 80);
    keys_to_view("jjj", items, 3, 3);
    keys_to_view("k", items, 2, 2);
    keys_to_view("G", items, 99, 99);
    keys_to_view("j", items, 99, 99);
    keys_to_view("g", items, 0, 0);
    keys_to_view("k", items, 0, 0);
    EXPECT_TRUE(session().quits());
}

TEST_F(TinyTerminalTest, OneRowHasOnlyTheStatusRow) {
    const size_t count = 100;
    server_.on("", Script::send(long_menu(count, server_.port())));
    start(1, 80);
    // Which percentage one row shows is not settled; its form is.
    auto is_status_bar = [&] {
        std::string row = session().status();
        std::string tail = "%| 127.0.0.1:" + std::to_string(server_.port()) + "/1";
        if (row.size() != 3 + tail.size() || row.substr(3) != tail) return false;
        size_t digits = row.find_first_not_of(' ');
        return digits < 3 && row.find_first_not_of("0123456789", digits) == 3;
    };
    ASSERT_TRUE(session().wait(is_status_bar)) << screen().dump();
    run().send("jjkGgGgkj b");
    ASSERT_TRUE(session().wait(is_status_bar)) << screen().dump();
    EXPECT_TRUE(screen().standout(0, 0)) << screen().dump();
    EXPECT_TRUE(session().quits());
}

// ------------------------------------------------------------ hostile texts

struct Hostile {
    std::string display; // as the server sends it
    std::string shown;   // the printable characters that must appear
};

class HostileTextTest : public TerminalTest {};

TEST_F(HostileTextTest, ControlCharactersAreNeverPassedToTheTerminal) {
    const std::vector<Hostile> cases{
        {"first", "first"},
        {"A\x1b[2JB", "A[2JB"},
        {"C\x1b[H\x1b[2JD", "C[H[2JD"},
        {"T\x1b]0;owned title\x07X", "T]0;owned titleX"},
        {"E\xC2\x9B"
         "2J\xC2\x9B"
         "1;1HF",
         "E2J1;1HF"},
        {"G\x9B"
         "2JH",
         "G\xEF\xBF\xBD"
         "2JH"},
        {"back\bspace", "backspace"},
        {"lone\rreturn", "lonereturn"},
        {"\x1b"
         "7save\x1b"
         "8\x1b[5;1Hmove\x1b[7mrev",
         "7save8[5;1Hmove[7mrev"},
        {"del\x7F and bell\x07", "del and bell"},
        {"last", "last"},
    };
    std::string menu;
    std::vector<std::string> items;
    for (const auto& c : cases) {
        menu += menu_line('0', c.display, "/x", "127.0.0.1", std::to_string(server_.port()));
        items.push_back("Txt+ " + c.shown);
    }
    server_.on("", Script::send(menu + ".\r\n"));
    start(24, 80);
    // Every row is redrawn as the highlight passes over it.
    keys_to_view("", items, 0, 0);
    for (size_t i = 1; i < items.size(); ++i)
        keys_to_view("j", items, 0, i);
    for (size_t i = items.size() - 1; i-- > 0;)
        keys_to_view("k", items, 0, i);
    EXPECT_TRUE(session().quits());
}

// ------------------------------------------------------------ fitting

class FittedLineTest : public TerminalTest {};

TEST_F(FittedLineTest, LongWideAndInvalidTextsOnAnEightyColumnRow) {
    std::string port = std::to_string(server_.port());
    const std::string nihon = "\xE6\x97\xA5\xE6\x9C\xAC"; // two wide characters
    // "Txt+ " takes 5 columns.
    const std::vector<Hostile> cases{
        {std::string(100, 'a'), std::string(74, 'a') + kEllipsis},
        {std::string(75, 'b'), std::string(75, 'b')},
        {std::string(76, 'c'), std::string(74, 'c') + kEllipsis},
        // The first wide character would end at the last column with more
        // text following: the ellipsis takes its place.
        {std::string(73, 'd') + nihon, std::string(73, 'd') + kEllipsis},
        // It would straddle the edge: never split.
        {std::string(74, 'e') + nihon, std::string(74, 'e') + kEllipsis},
        // The last character ending exactly at the edge is written whole.
        {std::string(71, 'f') + nihon, std::string(71, 'f') + nihon},
        {"x\xFFy", "x\xEF\xBF\xBDy"},
        {"cut\xE6\x97", "cut\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    std::string menu;
    std::vector<std::string> items;
    for (const auto& c : cases) {
        menu += menu_line('0', c.display, "/x", "127.0.0.1", port);
        items.push_back("Txt+ " + c.shown);
    }
    server_.on("", Script::send(menu + ".\r\n"));
    start(24, 80);
    keys_to_view("", items, 0, 0);
    keys_to_view("jjjj", items, 0, 4);
    keys_to_view("j", items, 0, 5);
    EXPECT_TRUE(session().quits());
}

// The ellipsis stands in the last column, where the clear to the end of the
// row written after the status text must not erase it.
TEST_F(FittedLineTest, StatusBarWiderThanTheTerminalEndsInAnEllipsis) {
    std::string selector = "/" + std::string(90, 's');
    server_.on(selector, Script::send(long_menu(3, server_.port())));
    start(24, 80, {}, "/1" + selector);
    std::string full = "100%| 127.0.0.1:" + std::to_string(server_.port()) + "/1" + selector;
    std::string want = full.substr(0, 79) + kEllipsis;
    ASSERT_TRUE(session().wait([&] { return screen().row(0) == "Txt+ item 00"; }))
        << screen().dump();
    EXPECT_EQ(session().status(), want) << screen().dump();
    EXPECT_TRUE(session().quits());
}

// ------------------------------------------------------------ status row

class StatusMessageTest : public TerminalTest {
  protected:
    // Opens the highlighted item and waits for its message on the status row.
    void open_and_expect_message(const std::string& expected_row) {
        run().send("\r");
        ASSERT_TRUE(session().wait([&] { return session().status().substr(0, 5) == "Can't"; }))
            << screen().dump();
        ASSERT_EQ(session().status(), expected_row) << screen().dump();
    }
};

TEST_F(StatusMessageTest, FailedFetchShowsMessageAndWaitsForAKey) {
    std::string port = std::to_string(server_.port());
    server_.on("", Script::send(menu_line('1', "Unreachable", "/x", "127.0.0.1", "1") +
                                menu_line('0', "About", "/about", "127.0.0.1", port) + ".\r\n"));
    std::vector<std::string> items{"Dir+ Unreachable", "Txt+ About"};
    start(24, 80);
    keys_to_view("", items, 0, 0);
    std::string message = "Can't connect to: 127.0.0.1:1: Connection refused";
    open_and_expect_message(message + kHint);
    EXPECT_TRUE(screen().standout(23, 0));
    EXPECT_TRUE(screen().standout(23, 76)) << screen().dump(); // the closing bracket
    EXPECT_FALSE(screen().standout(23, 77)) << screen().dump();
    // The menu stays under the message and the cursor rests on the highlight.
    EXPECT_EQ(screen().row(0), items[0]);
    EXPECT_EQ(screen().row(1), items[1]);
    EXPECT_EQ(screen().cursor_row(), 0);
    // The key that ends the wait is not a command: 'j' does not move.
    keys_to_view("j", items, 0, 0);
    EXPECT_EQ(server_.connections(), 1u);
    EXPECT_TRUE(session().quits());
}

TEST_F(StatusMessageTest, NarrowTerminalLosesTheHintBehindAnEllipsis) {
    server_.on("", Script::send(menu_line('1', "Unreachable", "/x", "127.0.0.1", "1") + ".\r\n"));
    start(24, 60);
    keys_to_view("", {"Dir+ Unreachable"}, 0, 0);
    // The ellipsis stands in the last column, where the clear to the end of
    // the row written after the message must not erase it.
    std::string full = "Can't connect to: 127.0.0.1:1: Connection refused" + kHint;
    open_and_expect_message(full.substr(0, 59) + kEllipsis);
    run().send("x");
    keys_to_view("", {"Dir+ Unreachable"}, 0, 0);
    EXPECT_TRUE(session().quits());
}

// The resolver fails on the service name before it looks the host up, so a
// long host name yields a long message without a query; were it looked up,
// its first label (longer than the 63 bytes a name may have) would still
// keep any query from leaving the machine.
TEST_F(StatusMessageTest, HintIsCutToTheRoomLeftInTheBuffer) {
    const std::string reason = gai_strerror(EAI_SERVICE);
    const std::string before = "Can't resolve hostname \"", after = "\": " + reason;
    std::vector<size_t> lengths{253, 254, 255, 300};
    std::string menu;
    std::vector<std::string> messages, items;
    for (size_t n : lengths) {
        std::string host = std::string(n - before.size() - after.size() - 5, 'h') + ".test";
        menu += menu_line('1', "len " + std::to_string(n), "/", host, "nosuchservice");
        messages.push_back(before + host + after);
        items.push_back("Dir+ len " + std::to_string(n));
    }
    server_.on("", Script::send(menu + ".\r\n"));
    start(24, 300);
    keys_to_view("", items, 0, 0);
    for (size_t k = 0; k < lengths.size(); ++k) {
        SCOPED_TRACE("message of " + std::to_string(lengths[k]) + " bytes");
        if (k > 0) keys_to_view("j", items, 0, k);
        std::string shown = messages[k].substr(0, 255);
        if (lengths[k] <= 254) shown += kHint.substr(0, 255 - lengths[k]);
        // Screen rows drop trailing blanks: the hint's one space shows as a
        // standout cell after the text.
        std::string row = lengths[k] == 254 ? messages[k] : shown;
        open_and_expect_message(row);
        int end = static_cast<int>(shown.size());
        EXPECT_TRUE(screen().standout(23, end - 1)) << screen().dump();
        EXPECT_FALSE(screen().standout(23, end)) << screen().dump();
        run().send("x");
        keys_to_view("", items, 0, k);
    }
    EXPECT_TRUE(session().quits());
}

TEST_F(StatusMessageTest, SearchPromptEchoesThenKeysWorkAgainWithoutEcho) {
    auto items = start_long_menu(100, 24, 80);
    run().send("/");
    ASSERT_TRUE(session().wait([&] { return session().status() == "Search for:"; }))
        << screen().dump();
    EXPECT_TRUE(screen().standout(23, 11)) << screen().dump();
    EXPECT_EQ(screen().cursor_row(), 23);
    EXPECT_EQ(screen().cursor_col(), 12);
    EXPECT_TRUE(session().cooked());
    run().send("ITEM 5");
    ASSERT_TRUE(session().wait([&] { return session().status() == "Search for: ITEM 5"; }))
        << screen().dump();
    EXPECT_FALSE(screen().standout(23, 12)) << "typed text is echoed in normal video";
    EXPECT_EQ(screen().cursor_col(), 18);
    // The hit ("item 50") goes to the first menu row; the search ignores
    // case.
    keys_to_view("\r", items, 50, 50);
    EXPECT_TRUE(session().raw());
    std::string move = bytes_for("j", items, 50, 51);
    EXPECT_EQ(move.find('j'), std::string::npos) << "the key was echoed";
    keys_to_view("n", items, 52, 52);
    keys_to_view("N", items, 51, 51);
    EXPECT_TRUE(session().quits());
}

// ------------------------------------------------------------ ending

struct EndingSignal {
    const char* name;
    int sig;
    int status;
};

void PrintTo(const EndingSignal& s, std::ostream* os) {
    *os << s.name;
}

class EndingSignalTest : public TerminalTest, public ::testing::WithParamInterface<EndingSignal> {
  protected:
    void expect_ended_and_restored(int status) {
        ASSERT_TRUE(run().wait_exit()) << run().transcript();
        EXPECT_TRUE(run().status().exited && run().status().code == status)
            << "expected exit status " << status << "\n"
            << run().transcript();
        EXPECT_TRUE(session().cooked());
        for (int r = 0; r < screen().rows(); ++r)
            EXPECT_EQ(screen().row(r), "") << "screen not cleared\n" << screen().dump();
        // The whole screen scrolls again: a line feed on the last row
        // pushes the first row out.
        screen().feed("\x1b[1;1Hfirst\x1b[24;1Hlast\n");
        EXPECT_EQ(screen().row(0), "") << "status row still outside the scroll region\n"
                                       << screen().dump();
    }
};

TEST_P(EndingSignalTest, WhileBrowsing) {
    server_.on("", Script::send(long_menu(30, server_.port())));
    start(24, 80);
    keys_to_view("jj", long_menu_rows(30), 0, 2);
    EXPECT_TRUE(session().raw());
    run().signal(GetParam().sig);
    expect_ended_and_restored(GetParam().status);
}

TEST_P(EndingSignalTest, WhileAMessageWaitsForAKey) {
    server_.on("", Script::send(menu_line('1', "Unreachable", "/x", "127.0.0.1", "1") + ".\r\n"));
    start(24, 80);
    keys_to_view("", {"Dir+ Unreachable"}, 0, 0);
    run().send("\r");
    ASSERT_TRUE(session().wait([&] { return session().status().find("Can't connect") == 0; }))
        << screen().dump();
    run().signal(GetParam().sig);
    expect_ended_and_restored(GetParam().status);
}

TEST_P(EndingSignalTest, WhileAFetchWatchesTheKeys) {
    server_.on("", Script::silent());
    start(24, 80);
    ASSERT_TRUE(session().wait([&] { return session().status().find("0 bytes (z cancels)") == 0; }))
        << screen().dump();
    run().signal(GetParam().sig);
    expect_ended_and_restored(GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Terminal, EndingSignalTest,
                         ::testing::Values(EndingSignal{"Term", SIGTERM, 143},
                                           EndingSignal{"Int", SIGINT, 130},
                                           EndingSignal{"Hup", SIGHUP, 129}),
                         [](const auto& test) { return std::string(test.param.name); });

TEST_F(TerminalTest, UnknownTerminalTypeEndsWithTheLibraryMessage) {
    server_.on("", Script::send(long_menu(3, server_.port())));
    start(24, 80, {{"TERM", "nonexistent-term"}});
    ASSERT_TRUE(run().wait_exit()) << run().transcript();
    EXPECT_TRUE(run().status().exited) << run().transcript();
    EXPECT_NE(run().status().code, 0) << run().transcript();
    EXPECT_NE(run().pty().find("nonexistent-term"), std::string::npos) << run().transcript();
    EXPECT_TRUE(session().cooked());
    EXPECT_TRUE(server_.requests().empty());
}

} // namespace
