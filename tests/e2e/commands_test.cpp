// The keys added to the page: going to a typed URL, reloading a page,
// bookmarks, and what a page search without a hit says.
#include "fake_server.h"
#include "listing.h"
#include "pty_run.h"
#include "screen.h"
#include "session.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <memory>
#include <sys/stat.h>

using namespace tolmtest;
namespace fs = std::filesystem;

namespace {

class CommandsTest : public InteractiveTest {
  protected:
    std::string port() const { return std::to_string(server_.port()); }
    std::string line(char type, const std::string& display, const std::string& selector) const {
        return menu_line(type, display, selector, "127.0.0.1", port());
    }
    std::string bar(const std::string& path) const { return "100%| 127.0.0.1:" + port() + path; }
    std::string bookmarks() const { return read_file(dir_.file("data/tolm/bookmarks")); }

    Session& start(const std::string& path) {
        RunOptions o;
        o.env["XDG_DATA_HOME"] = dir_.file("data");
        // A clipboard program of the test's own, should one be run.
        o.env["PATH"] = dir_.path() + ":/usr/bin:/bin";
        return InteractiveTest::start(path, o);
    }
    void write_bookmarks(const std::string& text) const {
        fs::create_directories(dir_.file("data/tolm"));
        write_file(dir_.file("data/tolm/bookmarks"), text);
    }

    TempDir dir_{"/tmp/e2e-cmd-"};
};

TEST_F(CommandsTest, GoToAUrlAndComeBack) {
    server_.on("/m", Script::send(line('0', "Text", "/t") + line('0', "Two", "/2") + ".\r\n"));
    server_.on("/other", Script::send(line('0', "Elsewhere", "/e") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight() == 1);

    // Errors are messages; the run goes on.
    for (const auto& [url, message] : std::vector<std::pair<std::string, std::string>>{
             {"http://example.org/", "Protocol not supported: http"},
             {"127.0.0.1:/1/x", "Can't parse url"},
             {"gopher://[::1/1", "Can't parse url"}}) {
        SCOPED_TRACE(url);
        s.keys("o");
        ASSERT_SCREEN(s, s.status() == "Go to URL (^D cancel):");
        s.keys(url + "\n");
        ASSERT_SCREEN(s, s.status().rfind(message + " [Press a key", 0) == 0);
        s.keys(" ");
        ASSERT_SCREEN(s, s.status() == bar("/1/m") || s.highlight_is(1, row_of('0', "Two")));
    }

    s.keys("o");
    ASSERT_SCREEN(s, s.status() == "Go to URL (^D cancel):");
    s.keys("127.0.0.1:" + port() + "/1/other\n");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Elsewhere")) && s.status() == bar("/1/other"));
    // Its bookmark is named by its URI, not by the bare selector.
    s.keys("m");
    const std::string uri = "gopher://127.0.0.1:" + port() + "/1/other";
    ASSERT_SCREEN(s, s.status().rfind("Bookmarked \"" + uri + "\" [Press a key", 0) == 0);
    EXPECT_EQ(bookmarks(), line('1', uri, "/other"));
    s.keys(" h");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "Two")) && s.status() == bar("/1/m"));
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/other"}));
    EXPECT_TRUE(s.quits());
}

TEST_F(CommandsTest, ReloadFetchesAgainAndKeepsTheLine) {
    server_.on("/m", Script::send(line('1', "Old one", "/sub") + line('0', "Old two", "/2") +
                                  line('0', "Old three", "/3") + ".\r\n"));
    server_.on("/sub", Script::send(line('0', "Inside", "/in") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Old one")));
    // A sub-page cached before the reload is fetched anew after it.
    s.keys("\n");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Inside")));
    s.keys("hjj");
    ASSERT_SCREEN(s, s.highlight_is(2, row_of('0', "Old three")));

    server_.on("/m", Script::send(line('1', "New one", "/sub") + line('0', "New two", "/2") +
                                  line('0', "New three", "/3") + ".\r\n"));
    s.keys("r");
    ASSERT_SCREEN(s, s.highlight_is(2, row_of('0', "New three")) &&
                         s.screen().row(0) == row_of('1', "New one"));

    // A failed fetch leaves the page as it was.
    server_.on("/m", Script::send(""));
    s.keys("r");
    ASSERT_SCREEN(s, s.status().rfind("Empty response from server [Press a key", 0) == 0);
    s.keys(" ");
    ASSERT_SCREEN(s, s.highlight_is(2, row_of('0', "New three")) && s.status() == bar("/1/m"));

    s.keys("gl");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Inside")));
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/sub", "/m", "/m", "/sub"}));
    EXPECT_TRUE(s.quits());
}

TEST_F(CommandsTest, BookmarksAreAddedBrowsedAndRemoved) {
    server_.on("/m", Script::send(line('1', "Sub", "/sub") + line('0', "Text", "/t") + ".\r\n"));
    server_.on("/sub", Script::send(line('0', "Inside", "/in") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub")));

    s.keys("a");
    ASSERT_SCREEN(s, s.status().rfind("Bookmarked \"Sub\" [Press a key", 0) == 0);
    s.keys(" a");
    ASSERT_SCREEN(s, s.status().rfind("Already in the bookmarks [Press a key", 0) == 0);
    // The page came from the command line: its URI names it.
    const std::string uri = "gopher://127.0.0.1:" + port() + "/1/m";
    s.keys(" m");
    ASSERT_SCREEN(s, s.status().rfind("Bookmarked \"" + uri + "\" [Press a key", 0) == 0);
    const std::string sub_line = line('1', "Sub", "/sub");
    const std::string page_line = line('1', uri, "/m");
    EXPECT_EQ(bookmarks(), sub_line + page_line);
    struct stat st {};
    ASSERT_EQ(stat(dir_.file("data/tolm").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // A line written by hand is shown as it is and kept.
    std::ofstream(dir_.file("data/tolm/bookmarks"), std::ios::app) << "my note\r\n";
    s.keys(" jv");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub")) &&
                         s.screen().row(1) == row_of('1', uri) &&
                         s.screen().row(2) == " ? + my note" && s.status() == "100%| bookmarks");
    s.keys("l");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Inside")));
    s.keys("h");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub")));
    s.keys("d");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', uri)) && s.screen().row(1) == " ? + my note");
    EXPECT_EQ(bookmarks(), page_line + "my note\r\n");
    // Back to the page where v was pressed, as it was left.
    s.keys("h");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "Text")) && s.status() == bar("/1/m"));
    EXPECT_TRUE(s.quits());
}

// The bookmarks page and a line without fields have no URI: 'Y' and 'y'
// there run no clipboard program, which 'Y' on a page with one does.
TEST_F(CommandsTest, YankOnTheBookmarksPageHandsOverNothing) {
    write_script(dir_.file("xclip"), "cat > '" + dir_.file("clip") + "'\n");
    write_bookmarks("my note\r\n" + line('0', "Kept", "/k"));
    server_.on("/m", Script::send(line('0', "Text", "/t") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
    s.keys("v");
    ASSERT_SCREEN(s, s.highlight_is(0, " ? + my note"));
    // Nor does 'y' on a line without fields.
    s.keys("Yy");
    ASSERT_TRUE(s.settle()) << s.dump();
    EXPECT_FALSE(fs::exists(dir_.file("clip")));
    EXPECT_EQ(s.status().find("Yanked"), std::string::npos) << s.dump();
    s.keys("hY");
    ASSERT_SCREEN(s, fs::exists(dir_.file("clip")) && s.status().rfind("Yanked", 0) == 0);
    EXPECT_EQ(read_file(dir_.file("clip")), "gopher://127.0.0.1:" + port() + "/1/m");
    EXPECT_TRUE(s.quits(" q"));
}

// The bookmarks page is one page, read again each time it is asked for
// (on a page, on one opened from it, on itself) and leading back where it
// did: with a file of a megabyte, ten more rounds of that leave the peak
// memory where two rounds put it.
TEST_F(CommandsTest, BookmarksPageAskedForAgainIsReadAgainNotCopied) {
    std::string entries;
    for (int i = 0; entries.size() < (size_t{1} << 20); ++i)
        entries += line('0', "Entry " + std::to_string(i), "/e" + std::to_string(i));
    write_bookmarks(line('1', "Sub", "/sub") + entries);
    server_.on("/m", Script::send(line('0', "Text", "/t") + ".\r\n"));
    server_.on("/sub", Script::send(line('0', "Inside", "/in") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
    int rounds = 0;
    auto round = [&] {
        s.keys("vl");
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Inside")));
        const std::string name = "Sub " + std::to_string(++rounds);
        write_bookmarks(line('1', name, "/sub") + entries);
        s.keys("v");
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', name)));
        s.keys("jv");
        ASSERT_SCREEN(s, s.redrawn() && s.highlight_is(1, row_of('0', "Entry 0")));
        s.keys("kh");
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")) && s.status() == bar("/1/m"));
    };
    for (int i = 0; i < 2; ++i)
        ASSERT_NO_FATAL_FAILURE(round());
    const long after_two = peak_memory_kib(s.run().pid());
    for (int i = 0; i < 10; ++i)
        ASSERT_NO_FATAL_FAILURE(round());
#if defined(__SANITIZE_ADDRESS__)
    const bool measured = false; // the sanitizer's shadow memory counts as the program's
#else
    const bool measured = after_two >= 0;
#endif
    if (measured) {
        EXPECT_LT(peak_memory_kib(s.run().pid()) - after_two, 1024);
    }
    EXPECT_TRUE(s.quits());
}

// Backspace lists the pages shown, newest first and each once, leaving out
// the bookmarks page, a page of a URL by its URI as 'm' would store it; an
// entry shows its page again as it was left, with no request, and 'h' goes
// back to where Backspace was pressed. A page opened from the bookmarks
// outlives their last one and goes back to where they were asked for.
TEST_F(CommandsTest, HistoryListsThePagesShownAndShowsThemAgain) {
    std::string a;
    for (int i = 0; i < 40; ++i)
        a += line('0', "A text " + std::to_string(100 + i), "/t");
    server_.on("/m", Script::send(line('1', "Sub A", "/a") + line('1', "Sub B", "/b") +
                                  line('0', "Text", "/t") + ".\r\n"));
    server_.on("/a", Script::send(a + ".\r\n"));
    server_.on("/b", Script::send(line('0', "In B", "/in") + ".\r\n"));
    server_.on("/other", Script::send(line('0', "Elsewhere", "/e") + ".\r\n"));
    write_bookmarks(line('1', "Marked", "/b"));
    Session& s = start("/1/m");
    const std::string root = "gopher://127.0.0.1:" + port() + "/1/m";
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub A")));
    s.keys("\n" + std::string(30, 'j'));
    ASSERT_SCREEN(s, s.screen().row(s.highlight()) == row_of('0', "A text 130") &&
                         s.screen().row(0) != row_of('0', "A text 100"));
    const std::string a_screen = s.screen().dump();
    s.keys("hj\n");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "In B")));
    s.keys("hvo127.0.0.1:" + port() + "/1/other\n");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Elsewhere")));
    s.keys("hd");
    ASSERT_SCREEN(s, s.status().rfind("No bookmarks yet", 0) == 0);
    s.keys(" \x7f");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', root)) &&
                         s.screen().row(1) ==
                             row_of('1', "gopher://127.0.0.1:" + port() + "/1/other") &&
                         s.screen().row(2) == row_of('1', "Sub B") &&
                         s.screen().row(3) == row_of('1', "Sub A") && s.screen().row(4).empty() &&
                         s.status() == "100%| history");
    s.keys("h");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('1', "Sub B")) && s.status() == bar("/1/m"));
    // ^H is the same key; the page comes back as it was left.
    s.keys("\x08jjj\n");
    ASSERT_SCREEN(s, s.screen().dump() == a_screen);
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/a", "/b", "/other"}));
    // Shown last, the page now heads the list.
    s.keys("\x7f");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub A")) &&
                         s.screen().row(1) == row_of('1', root));
    s.keys("jj\n");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Elsewhere")));
    s.keys("h");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('1', "Sub B")) && s.status() == bar("/1/m"));
    EXPECT_TRUE(s.quits());
}

// Without a hit nothing happens: no message, no redraw of the page.
TEST_F(CommandsTest, PageSearchWithoutAHitDoesNothing) {
    server_.on("/m", Script::send(line('0', "Alpha", "/a") + line('0', "Beta", "/b") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Alpha")));
    s.keys("/gamma\n");
    ASSERT_TRUE(s.settle());
    EXPECT_FALSE(s.redrawn());
    EXPECT_TRUE(s.highlight_is(0, row_of('0', "Alpha"))) << s.dump();
    s.keys("N");
    ASSERT_TRUE(s.settle());
    EXPECT_EQ(s.since_keys(), "") << s.dump();
    EXPECT_TRUE(s.quits());
}

} // namespace
