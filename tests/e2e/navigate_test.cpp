// Interactive tolm under a pseudo-terminal: moving between pages, the pager,
// gopher searches, the page's own commands and the ways out, read back
// through a terminal emulator.
#include "fake_server.h"
#include "gophernicus.h"
#include "isolation.h"
#include "listing.h"
#include "pty_run.h"
#include "screen.h"
#include "session.h"

#include <csignal>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

using namespace tolmtest;
using std::chrono::milliseconds;
namespace fs = std::filesystem;

namespace {

const std::string kHelpText = "Commands:\n"
                              "Down, 'j': move one line down.\n"
                              "'J': move to next link.\n"
                              "Up, 'k': move one line up.\n"
                              "'K': move to previous link.\n"
                              "PgDown, ' ': move one page down.\n"
                              "PgUp, 'b': move one page up.\n"
                              "Home, 'g': move to top of the page.\n"
                              "End, 'G': move to end of the page.\n"
                              "Right, 'l': view highlighted item.\n"
                              "Left, 'h': view previous item.\n"
                              "'/': search current page.\n"
                              "'n': search string forward.\n"
                              "'N': search string backward.\n"
                              "'U': print page URI.\n"
                              "'u': print item URI.\n"
                              "'Y': yank page URI to external program.\n"
                              "'y': yank item URI to external program.\n"
                              "'?': show this help.\n"
                              "^D, 'q': exit tolm.\n";
// What the help page says after those 565 bytes, about the keys added since.
const std::string kHelpAdded = "\n"
                               "'o': go to a URL.\n"
                               "'r': reload current page.\n"
                               "'a': bookmark highlighted item.\n"
                               "'m': bookmark current page.\n"
                               "'v': show bookmarks.\n"
                               "'d': remove highlighted bookmark (bookmarks page).\n"
                               "Backspace: show the pages visited.\n"
                               "'s': save highlighted item to a file.\n"
                               "'z', ^G: cancel a fetch in progress.\n";

class NavigateTest : public InteractiveTest {
  protected:
    std::string port() const { return std::to_string(server_.port()); }
    std::string line(char type, const std::string& display, const std::string& selector) const {
        return menu_line(type, display, selector, "127.0.0.1", port());
    }

    // A pager that copies the text it is given into pages/0, pages/1, ...
    std::string copying_pager() {
        fs::create_directory(dir_.file("pages"));
        std::string pages = dir_.file("pages");
        write_script(dir_.file("pager"), "n=$(ls '" + pages + "' | wc -l)\ncat > '" + pages +
                                             "/tmp'\nmv '" + pages + "/tmp' '" + pages + "'/$n\n");
        return dir_.file("pager");
    }
    std::string page(int n) const { return read_file(dir_.file("pages/" + std::to_string(n))); }
    bool page_exists(int n) const { return fs::exists(dir_.file("pages/" + std::to_string(n))); }

    Session& start(const std::string& path, std::optional<std::string> pager = {},
                   std::map<std::string, std::string> env = {}) {
        RunOptions o;
        o.pager = pager;
        o.env = std::move(env);
        return InteractiveTest::start(path, o);
    }

    TempDir dir_{"/tmp/e2e-nav-"};
};

// Kills the process whose pid a script wrote into path, however the test
// ends: a program that sleeps for ever must not outlive it.
class KillsWrittenPid {
  public:
    explicit KillsWrittenPid(std::string path) : path_(std::move(path)) {}
    ~KillsWrittenPid() {
        pid_t pid = static_cast<pid_t>(std::atoi(read_file(path_).c_str()));
        if (pid > 1) kill(pid, SIGKILL);
        fs::remove(path_);
    }

  private:
    std::string path_;
};

// ---------------------------------------------------------------- pages

TEST_F(NavigateTest, BackKeysRestoreTheEarlierPageWithoutARequest) {
    std::string root;
    for (int i = 0; i < 40; ++i)
        root += i == 30 ? line('1', "Sub menu", "/sub")
                        : line('0', "Text " + std::to_string(100 + i), "/t");
    server_.on("/m", Script::send(root + ".\r\n"));
    std::string sub;
    for (int i = 0; i < 30; ++i)
        sub += line('0', "Sub text " + std::to_string(100 + i), "/t");
    server_.on("/sub", Script::send(sub + ".\r\n"));

    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text 100")));
    // Far enough down that the page has scrolled.
    s.keys(std::string(30, 'j'));
    ASSERT_SCREEN(s, s.screen().row(0) != row_of('0', "Text 100") &&
                         s.screen().row(s.highlight()) == row_of('1', "Sub menu"));
    const std::string root_screen = s.screen().dump();

    s.keys("\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Sub text 100")));
    s.keys("jjj");
    ASSERT_SCREEN(s, s.highlight_is(3, row_of('0', "Sub text 103")));
    const std::string sub_screen = s.screen().dump();
    ASSERT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/sub"}));

    s.keys("h");
    ASSERT_SCREEN(s, s.screen().dump() == root_screen);
    s.keys("\r"); // the sub-menu again, from memory, with its own cursor
    ASSERT_SCREEN(s, s.screen().dump() == sub_screen);
    s.keys("\x1b[D");
    ASSERT_SCREEN(s, s.screen().dump() == root_screen);
    // The root page is its own parent: drawn again and nothing else.
    s.keys("h");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().dump() == root_screen);
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/sub"}));
    EXPECT_TRUE(s.quits("q"));
}

TEST_F(NavigateTest, BrowsesARealServer) {
    Gophernicus gn;
    ASSERT_TRUE(gn.start(std::string(TOLM_SOURCE_DIR) + "/tests/data/gopherhole"));
    std::string menu = gn.fetch("");
    std::string text_selector;
    for (const std::string& l : lines_of(menu))
        if (l.rfind("0A text file\t", 0) == 0) text_selector = l.substr(13, l.find('\t', 13) - 13);
    ASSERT_NE(text_selector, "") << menu;

    RunOptions o;
    o.pager = copying_pager();
    Session& s = start_url(gn.url("/1/"), o);
    auto row_with = [&](const std::string& text) {
        for (int r = 0; r + 1 < s.screen().rows(); ++r)
            if (s.screen().row(r) == text) return r;
        return -1;
    };
    ASSERT_SCREEN(s, row_with(row_of('1', "A sub-menu")) > 0);
    int sub_row = row_with(row_of('1', "A sub-menu"));
    int text_row = row_with(row_of('0', "A text file"));
    ASSERT_GT(text_row, 0) << s.dump();
    s.keys(std::string(static_cast<size_t>(sub_row), 'j'));
    ASSERT_SCREEN(s, s.highlight() == sub_row);
    const std::string root_screen = s.screen().dump();

    s.keys("\r");
    ASSERT_SCREEN(s, row_with(row_of('0', "notes.txt")) >= 0);
    s.keys("h");
    ASSERT_SCREEN(s, s.screen().dump() == root_screen);

    s.keys(text_row < sub_row ? std::string(static_cast<size_t>(sub_row - text_row), 'k')
                              : std::string(static_cast<size_t>(text_row - sub_row), 'j'));
    ASSERT_SCREEN(s, s.highlight() == text_row);
    s.keys("\r");
    ASSERT_SCREEN(s, s.redrawn() && s.highlight() == text_row && page_exists(0));
    EXPECT_EQ(page(0), gn.fetch(text_selector));
    EXPECT_TRUE(s.quits("q"));
}

// ---------------------------------------------------------------- pager

TEST_F(NavigateTest, TextsAndHelpReachThePagerAndThePageComesBack) {
    server_.on("/m",
               Script::send(info_line("Header") + line('0', "First text", "/t1") +
                            line('0', "Second text", "/t2") + line('1', "Sub", "/sub") + ".\r\n"));
    server_.on("/t2", Script::send("line one\r\nline two\twith tab\r\n.\r\n"));
    Session& s = start("/1/m", copying_pager());
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('i', "Header")));
    s.keys("jj");
    ASSERT_SCREEN(s, s.highlight_is(2, row_of('0', "Second text")));
    const std::string before = s.screen().dump();

    s.keys("\r");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().dump() == before && page_exists(0));
    EXPECT_EQ(page(0), "line one\r\nline two\twith tab\r\n");
    EXPECT_TRUE(s.raw()) << "keys are read one by one again";

    s.keys("?");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().dump() == before && page_exists(1));
    EXPECT_EQ(page(1), kHelpText + kHelpAdded);
    // The text is cached: opening it again asks nobody.
    s.keys("\r");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().dump() == before && page_exists(2));
    EXPECT_EQ(page(2), page(0));
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/t2"}));
    EXPECT_TRUE(s.quits("q"));
}

TEST_F(NavigateTest, PagerThatCannotRunBringsThePageBack) {
    server_.on("/m", Script::send(line('0', "Text", "/t") + line('0', "Other", "/o") + ".\r\n"));
    server_.on("/t", Script::send(std::string(20000, 'x') + "\r\n.\r\n"));
    Session& s = start("/1/m", dir_.file("no-such-pager"));
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
    const std::string before = s.screen().dump();
    s.keys("\r");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().dump() == before);
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "Other")));
    EXPECT_TRUE(s.quits("q"));
}

TEST_F(NavigateTest, RootTextEndsWithThePager) {
    server_.on("/doc.txt", Script::send("just a text\r\n.\r\n"));
    Session& s = start("/0/doc.txt", copying_pager());
    ASSERT_TRUE(s.run().wait_exit()) << s.dump();
    EXPECT_TRUE(s.run().status().exited && s.run().status().code == 0) << s.dump();
    EXPECT_EQ(page(0), "just a text\r\n");
    EXPECT_TRUE(s.cooked());
}

// The default pager passes bytes raw: a text must not set the title, clear
// the screen or write the clipboard through it, yet keeps its colours.
TEST_F(NavigateTest, TextReachesThePagerWithoutEscapeSequencesButWithItsColours) {
    server_.on("/doc.txt", Script::send("\x1b]2;PWNED\x07\x1b[2J\x1b]52;c;QUJD\x1b\\"
                                        "\x1b[1;31mred\x1b[0m\x1bP1$r\x1b\\ \xc2\x9b"
                                        "2J\u202Eok\x7f\r\n.\r\n"));
    Session& s = start("/0/doc.txt", copying_pager());
    ASSERT_TRUE(s.run().wait_exit()) << s.dump();
    EXPECT_EQ(page(0), "\x1b[1;31mred\x1b[0m 2Jok\r\n\x1b[m");
}

// ---------------------------------------------------------------- search

class SearchTest : public NavigateTest {
  protected:
    void SetUp() override {
        NavigateTest::SetUp();
        server_.on("/m",
                   Script::send(info_line("Search below") + line('7', "Find things", "/find") +
                                line('1', "Other", "/other") + ".\r\n"));
        server_.on("/find\tcats", Script::send(line('0', "Cat facts", "/cats.txt") +
                                               line('1', "Cat pics", "/catpics") + ".\r\n"));
        server_.on("/find\tdogs", Script::send(line('0', "Dog facts", "/dogs.txt") + ".\r\n"));
        server_.on("/catpics", Script::send(info_line("Cat pictures go here") + ".\r\n"));
        server_.on("/find\tfail", Script::send(""));
    }

    static std::string prompt(const std::string& def) {
        return "Enter search string (^D cancel) [" + def + "]: ";
    }
    // The prompt on the status row, the cursor right after it.
    bool prompting(const Session& s, const std::string& def) const {
        std::string p = prompt(def);
        return s.status() == p.substr(0, p.size() - 1) &&
               s.screen().cursor_row() == s.screen().rows() - 1 &&
               s.screen().cursor_col() == static_cast<int>(p.size());
    }
    bool on_root(const Session& s) const {
        return s.highlight_is(1, row_of('7', "Find things")) &&
               s.status() == "100%| 127.0.0.1:" + port() + "/1/m";
    }
    size_t requests() const { return server_.requests().size(); }
};

// From the history too the results come back without a prompt or a
// request; a new query releases them, and the pages among them leave the
// history.
TEST_F(SearchTest, QueryPromptDefaultAndCachedResults) {
    Session& s = start("/1/m");
    const std::string root = "gopher://127.0.0.1:" + port() + "/1/m";
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('i', "Search below")));
    s.keys("j\r");
    ASSERT_SCREEN(s, prompting(s, ""));
    s.keys("cats\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Cat facts")) &&
                         s.screen().row(1) == row_of('1', "Cat pics"));
    EXPECT_EQ(server_.requests().back(), "/find\tcats");
    EXPECT_EQ(s.status(), "100%| 127.0.0.1:" + port() + "/7/find");
    s.keys("j\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('i', "Cat pictures go here")));
    s.keys("\x7f");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Cat pics")) &&
                         s.screen().row(1) == row_of('7', "Find things") &&
                         s.screen().row(2) == row_of('1', root));
    const size_t shown = requests();
    s.keys("j\r");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('1', "Cat pics")) &&
                         s.status() == "100%| 127.0.0.1:" + port() + "/7/find");
    EXPECT_EQ(requests(), shown);
    s.keys("k");

    // Back to the search item: the last query is the default, and taking
    // it shows the results in memory.
    s.keys("h");
    ASSERT_SCREEN(s, on_root(s));
    size_t before = requests();
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "cats"));
    s.keys("\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Cat facts")));
    // The default typed again is the same query.
    s.keys("h\r");
    ASSERT_SCREEN(s, prompting(s, "cats"));
    s.keys("cats\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Cat facts")));
    EXPECT_EQ(requests(), before);

    s.keys("h\r");
    ASSERT_SCREEN(s, prompting(s, "cats"));
    s.keys("dogs\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Dog facts")));
    EXPECT_EQ(requests(), before + 1);
    EXPECT_EQ(server_.requests().back(), "/find\tdogs");

    s.keys("h\r");
    ASSERT_SCREEN(s, prompting(s, "dogs"));
    s.keys("\x04");
    ASSERT_SCREEN(s, on_root(s));
    EXPECT_EQ(requests(), before + 1);
    s.keys("\x7f");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', root)) &&
                         s.screen().row(1) == row_of('7', "Find things") &&
                         s.screen().row(2).empty());
    EXPECT_TRUE(s.quits("q"));
}

// Coming back to the search item from a page inside its results and asking
// something new frees that page, which is both the page to return to and
// the page a resize would redraw.
TEST_F(SearchTest, FailedNewQueryAfterTheResultsWereReleased) {
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('i', "Search below")));
    s.keys("j\r");
    ASSERT_SCREEN(s, prompting(s, ""));
    s.keys("cats\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Cat facts")));
    s.keys("j\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('i', "Cat pictures go here")));
    const std::string pics = s.screen().dump();

    // ^D goes back to the result page that was left.
    s.keys("h");
    ASSERT_SCREEN(s, prompting(s, "cats"));
    s.keys("\x04");
    ASSERT_SCREEN(s, s.screen().dump() == pics);

    s.keys("h");
    ASSERT_SCREEN(s, prompting(s, "cats"));
    s.keys("fail\r");
    ASSERT_SCREEN(s, s.status().rfind("Empty response from server [Press a key", 0) == 0);
    EXPECT_EQ(server_.requests().back(), "/find\tfail");
    s.resize(30, 90);
    // The resize is taken while the message waits for its key.
    ASSERT_TRUE(s.settle()) << s.dump();
    s.keys(" ");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('7', "Find things")) &&
                         s.screen().row(29) == "100%| 127.0.0.1:" + port() + "/1/m");
    // The query that failed is the next default.
    s.keys("\r");
    ASSERT_SCREEN(s, prompting(s, "fail"));
    s.keys("\x04");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('7', "Find things")) &&
                         s.screen().row(29) == "100%| 127.0.0.1:" + port() + "/1/m");
    EXPECT_TRUE(s.quits("q"));
}

TEST_F(SearchTest, RootSearchUrlOffersItsQuery) {
    {
        Session& s = start("/7/find%09cats");
        ASSERT_SCREEN(s, prompting(s, "cats"));
        EXPECT_EQ(requests(), 0u);
        s.keys("\r");
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Cat facts")));
        EXPECT_EQ(server_.requests(), std::vector<std::string>{"/find\tcats"});
        EXPECT_TRUE(s.quits("q"));
    }
    Session& s = start("/7/find%09cats");
    ASSERT_SCREEN(s, prompting(s, "cats"));
    EXPECT_TRUE(s.quits("\x04"));
    EXPECT_EQ(requests(), 1u);
}

// ---------------------------------------------------------------- page commands

TEST_F(NavigateTest, PageSearchAndLinkJumps) {
    server_.on("/m", Script::send(line('0', "Top CATS item", "/a") + info_line("info one") +
                                  info_line("info two") + line('0', "Middle", "/b") +
                                  line('1', "The CATS menu", "/c") + info_line("info three") +
                                  line('0', "Last Cats", "/d") + ".\r\n"));
    Session& s = start("/1/m");
    auto at = [&](int row) { return s.wait([&] { return s.highlight() == row; }); };
    ASSERT_TRUE(at(0)) << s.dump();

    s.keys("/");
    ASSERT_SCREEN(s, s.status() == "Search for:");
    s.keys("cats\r");
    ASSERT_TRUE(at(4)) << s.dump();
    s.keys("n");
    ASSERT_TRUE(at(6)) << s.dump();
    // At the last hit 'n' does nothing; had it wrapped round, 'N' would
    // not land on 4.
    s.keys("nN");
    ASSERT_TRUE(at(4)) << s.dump();
    s.keys("N");
    ASSERT_TRUE(at(0)) << s.dump();
    s.keys("Nn");
    ASSERT_TRUE(at(4)) << s.dump();

    s.keys("g");
    ASSERT_TRUE(at(0)) << s.dump();
    s.keys("J");
    ASSERT_TRUE(at(3)) << s.dump();
    s.keys("J");
    ASSERT_TRUE(at(4)) << s.dump();
    s.keys("J");
    ASSERT_TRUE(at(6)) << s.dump();
    s.keys("JK");
    ASSERT_TRUE(at(4)) << s.dump();
    s.keys("KK");
    ASSERT_TRUE(at(0)) << s.dump();
    s.keys("KJ");
    ASSERT_TRUE(at(3)) << s.dump();

    // An empty pattern forgets the earlier one.
    s.keys("/");
    ASSERT_SCREEN(s, s.status() == "Search for:");
    s.keys("\rnJ");
    ASSERT_TRUE(at(4)) << s.dump();
    EXPECT_TRUE(s.quits("q"));
}

TEST_F(NavigateTest, HitsInALongMenuLandOnTheFirstRow) {
    std::string m;
    for (int i = 0; i < 60; ++i) {
        if (i == 30)
            m += line('0', "Wanted ENTRY", "/s");
        else if (i > 30 && i < 35)
            m += info_line("filler " + std::to_string(i));
        else if (i == 35)
            m += line('0', "After the fillers", "/a");
        else
            m += line('0', "Item " + std::to_string(i), "/i");
    }
    server_.on("/m", Script::send(m + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Item 0")));
    s.keys("/");
    ASSERT_SCREEN(s, s.status() == "Search for:");
    s.keys("entry\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Wanted ENTRY")) &&
                         s.screen().row(1) == row_of('i', "filler 31"));
    s.keys("J");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "After the fillers")));
    s.keys("K");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Wanted ENTRY")));
    EXPECT_TRUE(s.quits("q"));
}

TEST_F(NavigateTest, ShowsAndYanksUris) {
    write_script(dir_.file("xclip"), "cat > '" + dir_.file("clip.tmp") + "'\nmv '" +
                                         dir_.file("clip.tmp") + "' '" + dir_.file("clip") + "'\n");
    const std::string long_selector = "/" + std::string(300, 'L');
    server_.on("/m", Script::send(line('1', "Sub", "/sub") + info_line("just info") +
                                  menu_line('8', "Telnet", "sel", "host", "23") +
                                  line('h', "Web", "URL:https://example.org/x?y=1") +
                                  line('1', "Long", long_selector) + ".\r\n"));
    Session& s = start("/1/m", {}, {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
    const std::string base = "gopher://127.0.0.1:" + port();
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub")));

    s.keys("u");
    ASSERT_SCREEN(s, s.status() == base + "/1/sub" && s.screen().standout(23, 0));
    // 'u' on an information line writes nothing: "uU" must write exactly
    // what "U" alone writes.
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight() == 1 && s.status().rfind("100%|", 0) == 0);
    s.keys("U");
    ASSERT_SCREEN(s, s.status() == base + "/1/m");
    const std::string page_uri_bytes = s.since_keys();
    s.keys("uU");
    ASSERT_SCREEN(s, s.since_keys().size() >= page_uri_bytes.size());
    EXPECT_EQ(s.since_keys(), page_uri_bytes);

    s.keys("ju");
    ASSERT_SCREEN(s, s.status() == "telnet://sel@host:23");
    s.keys("ju");
    ASSERT_SCREEN(s, s.status() == "https://example.org/x?y=1");

    // The message stays on the status row after its key: the next yank is
    // told apart by its own clipboard file.
    auto yank = [&](const char* key, const std::string& uri) {
        fs::remove(dir_.file("clip"));
        s.keys(key);
        std::string shown = "Yanked \"" + (uri.size() < 60 ? uri + "\"" : uri.substr(0, 40));
        ASSERT_SCREEN(s, fs::exists(dir_.file("clip")) && s.status().rfind(shown, 0) == 0);
        EXPECT_EQ(read_file(dir_.file("clip")), uri);
        s.keys(" ");
    };
    yank("y", "https://example.org/x?y=1");
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight_is(4, row_of('1', "Long")));
    // The clipboard gets the whole URI; only the status row cuts it.
    yank("y", base + "/1" + long_selector);
    yank("Y", base + "/1/m");
    EXPECT_TRUE(s.quits("q"));
}

// ---------------------------------------------------------------- plumbing

TEST_F(NavigateTest, PlumbsUrlLinksQuietlyAsOneArgument) {
    const std::string address = "https://example.org/a b\"c'd";
    write_script(dir_.file("xdg-open"), "echo NOISE\necho NOISE >&2\nprintf '%s|%s\\n' \"$#\" "
                                        "\"$1\" >> '" +
                                            dir_.file("log") + "'\n");
    server_.on("/m", Script::send(line('h', "Web", "URL:" + address) + ".\r\n"));
    Session& s = start("/1/m", {}, {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('h', "Web")));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Plumbed \"" + address + "\" [Press a key", 0) == 0 &&
                         fs::exists(dir_.file("log")));
    EXPECT_EQ(read_file(dir_.file("log")), "1|" + address + "\n");
    s.keys(" ");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('h', "Web")) && s.status().rfind("100%|", 0) == 0);
    // The program wrote its noise before its log line, and the terminal has
    // been read to its end since.
    EXPECT_EQ(s.run().pty().find("NOISE"), std::string::npos) << s.dump();
    EXPECT_EQ(server_.requests(), std::vector<std::string>{"/m"});
    EXPECT_TRUE(s.quits("q"));
}

// The pager's end must not be held up by a plumbed program still running.
TEST_F(NavigateTest, RunningPlumbedProgramDoesNotDelayThePager) {
    write_script(dir_.file("xdg-open"), "echo $$ > '" + dir_.file("pid") + "'\nexec sleep 600\n");
    KillsWrittenPid sleeper(dir_.file("pid"));
    write_script(dir_.file("pager"), "cat > /dev/null\n");
    server_.on("/m", Script::send(line('h', "Web", "URL:https://example.org/") +
                                  line('0', "Text", "/t") + ".\r\n"));
    server_.on("/t", Script::send("short\r\n.\r\n"));
    Session& s = start("/1/m", dir_.file("pager"), {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('h', "Web")));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Plumbed", 0) == 0 && fs::exists(dir_.file("pid")));
    s.keys(" ");
    ASSERT_SCREEN(s, s.status().rfind("100%|", 0) == 0);
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "Text")));
    const std::string before = s.screen().dump();

    // Waiting for the plumbed program too would take its ten minutes.
    s.keys("\r");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().dump() == before);
    EXPECT_TRUE(s.quits("q"));
}

// ---------------------------------------------------------------- fetches

// Sockets the process holds, read from /proc.
size_t open_sockets(pid_t pid) {
    size_t n = 0;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec))
        n += fs::read_symlink(e.path(), ec).string().rfind("socket:", 0) == 0;
    return n;
}

// Cancelled with 'z' while the server says nothing, then with ^G once part
// of the menu has come: each time the connection is closed and the page
// comes back with a note; what arrived is not kept, so the third try
// fetches the menu anew.
TEST_F(NavigateTest, CancelledFetchClosesTheConnectionAndKeepsNothing) {
    server_.on("/m", Script::send(line('1', "Held", "/held") + line('0', "Other", "/o") + ".\r\n"));
    server_.on("/held", Script::silent());
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Held")));
    const std::string place = "| 127.0.0.1:" + port() + "/1/held";
    auto cancel = [&](const std::string& key, const std::string& progress) {
        s.keys("\r");
        ASSERT_SCREEN(s, s.status() == progress + " (z cancels)" + place);
        EXPECT_EQ(open_sockets(s.run().pid()), 1u);
        s.keys(key);
        ASSERT_SCREEN(s, s.redrawn() && s.highlight_is(0, row_of('1', "Held")) &&
                             s.status() == "Fetch cancelled");
        EXPECT_EQ(open_sockets(s.run().pid()), 0u);
    };
    cancel("z", "0 bytes");
    Script part = Script::send(line('0', "Part", "/p"));
    part.end = Script::End::Silent;
    server_.on("/held", part);
    cancel("\x07", std::to_string(line('0', "Part", "/p").size()) + " bytes");

    server_.on("/held", Script::send(line('0', "Whole", "/w") + ".\r\n"));
    s.keys("\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Whole")));
    EXPECT_EQ(server_.requests(), (std::vector<std::string>{"/m", "/held", "/held", "/held"}));
    EXPECT_TRUE(s.quits("q"));
}

// The cross-protocol attack: a page names a service of this machine on a
// friendly line. Declined, nothing connects and the page stays; a URL the
// user types there is the user's own and is not asked about.
TEST_F(NavigateTest, PageFromAPrivateAddressAsksBeforeLeadingToThisMachine) {
    // A network of the test's own where this machine also has the private
    // address 10.77.0.1, so that a page can come from there.
    const std::string why = enter_own_network("10.77.0.1");
    if (!why.empty()) GTEST_SKIP() << "no network namespace of the test's own: " << why;
    FakeServer local, page(false, "10.77.0.1");
    local.on("FLUSHALL", Script::send(info_line("Local service") + ".\r\n"));
    local.on("/typed", Script::send(info_line("Typed") + ".\r\n"));
    const std::string lport = std::to_string(local.port());
    page.set_default(
        Script::send(menu_line('1', "Friendly", "FLUSHALL", "127.0.0.1", lport) + ".\r\n"));
    RunOptions o;
    o.cols = 100;
    Session& s = start_url(page.url("/1/"), o);
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Friendly")));
    const std::string question =
        "Connect to 127.0.0.1:" + lport + " (this machine), named by a page from 10.77.0.1? (y/N)";

    s.keys("\r");
    ASSERT_SCREEN(s, s.status() == question);
    // Drawn again after a resize, over the page and alone on its row.
    s.resize(20, 90);
    ASSERT_SCREEN(s, s.redrawn() && s.status() == question);
    s.keys("n");
    ASSERT_SCREEN(s, s.status() == "100%| 10.77.0.1:" + std::to_string(page.port()) + "/1/" &&
                         s.highlight_is(0, row_of('1', "Friendly")));
    EXPECT_EQ(local.connections(), 0u);

    s.keys("o");
    ASSERT_SCREEN(s, s.status() == "Go to URL (^D cancel):");
    s.keys("gopher://127.0.0.1:" + lport + "/1/typed\r");
    ASSERT_SCREEN(s, s.screen().row(0) == row_of('i', "Typed"));
    s.keys("h");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Friendly")));

    s.keys("\r");
    ASSERT_SCREEN(s, s.status() == question);
    s.keys("y");
    ASSERT_SCREEN(s, s.screen().row(0) == row_of('i', "Local service"));
    EXPECT_EQ(local.requests(), (std::vector<std::string>{"/typed", "FLUSHALL"}));
    EXPECT_TRUE(s.quits("q"));
}

// The count of a burst that the ten-a-second limit held back is drawn
// while the server pauses; keys typed meanwhile, an escape sequence among
// them, move the highlight on the page that arrives.
TEST_F(NavigateTest, SlowFetchShowsProgressAndKeysTypedMeanwhileActAfterIt) {
    std::string first, rest;
    for (int i = 0; i < 6; ++i)
        (i < 2 ? first : rest) += line('0', "Text " + std::to_string(i), "/t");
    server_.on("/m", Script::send(line('1', "Slow", "/slow") + ".\r\n"));
    server_.on("/slow", Script::chunked({first, rest + ".\r\n"}, scaled(milliseconds(1500))));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Slow")));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status() == std::to_string(first.size()) +
                                       " bytes (z cancels)| 127.0.0.1:" + port() + "/1/slow");
    s.keys("j\x1b[Bj");
    ASSERT_SCREEN(s, s.highlight_is(3, row_of('0', "Text 3")));
    EXPECT_EQ(s.status(), "100%| 127.0.0.1:" + port() + "/1/slow");
    EXPECT_TRUE(s.quits("q"));
}

// ---------------------------------------------------------------- ending

TEST_F(NavigateTest, QuitKeysRestoreTheTerminal) {
    server_.on("/m", Script::send(line('0', "Text", "/t") + ".\r\n"));
    for (const char* key : {"q", "\x1b\x1b", "\x04"}) {
        SCOPED_TRACE(key[0] == 'q' ? "q" : key[0] == 4 ? "^D" : "ESC ESC");
        Session& s = start("/1/m");
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
        EXPECT_TRUE(s.raw());
        EXPECT_TRUE(s.quits(key));
        EXPECT_TRUE(s.cooked());
    }
}

// A fatal error shows its message after the terminal is put back, whose
// restore clears the screen: the user sees why tolm ended.
TEST_F(NavigateTest, FatalMessageStaysOnTheScreen) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer's shadow memory needs more address space than any limit here";
#endif
    server_.on("/m", Script::send(line('1', "Huge", "/huge") + ".\r\n"));
    server_.on("/huge", Script::send(std::string(48 << 20, 'x')));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Huge")));
    // Room for what tolm holds now, not for the huge menu.
    rlimit as{};
    as.rlim_cur = as.rlim_max =
        static_cast<rlim_t>(virtual_memory_kib(s.run().pid()) + 16384) * 1024;
    ASSERT_EQ(prlimit(s.run().pid(), RLIMIT_AS, &as, nullptr), 0);
    s.keys("\r");
    ASSERT_TRUE(s.run().wait_exit()) << s.dump();
    EXPECT_TRUE(s.run().status().exited && s.run().status().code == 1) << s.dump();
    s.run().pump_for(scaled(milliseconds(50)));
    const std::string message = std::string("realloc: ") + strerror(ENOMEM);
    EXPECT_EQ(s.screen().row(s.screen().cursor_row() - 1), message) << s.dump();
    EXPECT_TRUE(s.cooked());
}

// A page fetched again that has grown shorter keeps the highlight on an
// item it still has, its last when the highlighted one has gone, with no
// empty rows above the end.
TEST_F(NavigateTest, ReloadOntoAShorterMenuKeepsTheHighlightOnAnItem) {
    auto entries = [&](int count) {
        std::string menu;
        for (int i = 0; i < count; ++i)
            menu += line('0', "Entry " + std::to_string(i), "/e");
        return Script::send(menu + ".\r\n");
    };
    server_.on("/m", entries(30));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Entry 0")));
    s.keys(std::string(25, 'j'));
    ASSERT_SCREEN(s,
                  s.highlight() >= 0 && s.screen().row(s.highlight()) == row_of('0', "Entry 25"));
    // Five entries fewer: the last of them, at the foot of the screen.
    server_.on("/m", entries(25));
    s.keys("r");
    ASSERT_SCREEN(s, s.redrawn() && s.screen().row(0) == row_of('0', "Entry 2") &&
                         s.highlight_is(22, row_of('0', "Entry 24")));
    s.keys("k");
    ASSERT_SCREEN(s, s.highlight_is(21, row_of('0', "Entry 23")));
    EXPECT_TRUE(s.quits());
}

// A page fetched again gives the memory of the old one back: three
// reloads of a large menu leave tolm holding about what one load did.
TEST_F(NavigateTest, ReloadedLargePageGivesItsMemoryBack) {
#if defined(__SANITIZE_ADDRESS__)
    GTEST_SKIP() << "the sanitizer keeps freed memory in quarantine";
#endif
    std::string menu;
    for (int i = 0; i < 200000; ++i)
        menu += line('0', "Entry " + std::to_string(i), "/e");
    server_.on("/m", Script::send(menu + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Entry 0")));
    const long once = resident_memory_kib(s.run().pid());
    if (once < 0) GTEST_SKIP() << "the system does not show a process's resident memory";
    for (int i = 0; i < 3; ++i) {
        s.keys("jr");
        // The page drawn anew once the new menu has replaced the old one.
        ASSERT_SCREEN(s, s.redrawn() && s.status().find("cancels") == std::string::npos &&
                             s.highlight_is(i + 1, row_of('0', "Entry " + std::to_string(i + 1))));
    }
    const long after = resident_memory_kib(s.run().pid());
    EXPECT_LE(after, once + once / 4 + 4096) << "KiB after one load: " << once;
    EXPECT_TRUE(s.quits());
}

// The suspend key gives the terminal back and takes it again on
// continuing. Under the test's pseudo-terminal tolm's process group is
// orphaned, so the system discards the stop itself: what is left to see is
// that tolm comes back in browsing mode with its page, and keys still work.
TEST_F(NavigateTest, SuspendKeyComesBackToThePage) {
    server_.on("/m", Script::send(line('0', "One", "/1") + line('0', "Two", "/2") + ".\r\n"));
    Session& s = start("/1/m");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "One")));
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "Two")));
    s.keys("\x1a");
    ASSERT_SCREEN(s, s.redrawn() && s.highlight_is(1, row_of('0', "Two")));
    EXPECT_TRUE(s.raw());
    s.keys("k");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "One")));
    EXPECT_TRUE(s.quits("q"));
}

// A clipboard program or a pager that never ends must not hold tolm: an
// ending signal cuts the wait for it short, with the usual status and
// clean-up.
TEST_F(NavigateTest, EndingSignalCutsShortTheWaitForAProgram) {
    write_script(dir_.file("xclip"), "echo $$ > '" + dir_.file("pid") + "'\nexec sleep 600\n");
    write_script(dir_.file("pager"), "echo $$ > '" + dir_.file("pid") + "'\nexec sleep 600\n");
    server_.on("/m", Script::send(line('0', "Text", "/t") + ".\r\n"));
    server_.on("/t", Script::send("short\r\n.\r\n"));
    for (const char* key : {"y", "\r"}) {
        SCOPED_TRACE(key[0] == 'y' ? "clipboard" : "pager");
        KillsWrittenPid sleeper(dir_.file("pid"));
        Session& s = start("/1/m", dir_.file("pager"), {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
        s.keys(key);
        // tolm now waits for the program, which would take ten minutes.
        ASSERT_TRUE(s.run().pump_until([&] { return fs::exists(dir_.file("pid")); })) << s.dump();
        s.run().signal(SIGTERM);
        ASSERT_TRUE(s.run().wait_exit()) << s.dump();
        EXPECT_TRUE(s.run().status().exited && s.run().status().code == 143)
            << s.run().status().describe();
    }
}

// ---------------------------------------------------------------- failures of programs

TEST_F(NavigateTest, FailingClipboardIsReportedAndLeavesNoNoise) {
    write_script(dir_.file("xclip"), "cat > /dev/null\necho 'xclip: NOISE' >&2\nexit 1\n");
    server_.on("/m", Script::send(line('1', "Sub", "/sub") + ".\r\n"));
    for (const std::string& path : {dir_.path(), dir_.file("nothing-here")}) {
        SCOPED_TRACE(path == dir_.path() ? "fails" : "missing");
        Session& s = start("/1/m", {}, {{"PATH", path + ":/usr/bin:/bin"}});
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('1', "Sub")));
        s.keys("y");
        ASSERT_SCREEN(s, s.status().rfind("URI not Yanked [Press a key", 0) == 0);
        EXPECT_EQ(s.run().pty().find("NOISE"), std::string::npos) << s.dump();
        EXPECT_TRUE(s.quits(" q"));
    }
}

TEST_F(NavigateTest, PlumberThatCannotRunIsReported) {
    server_.on("/m", Script::send(line('h', "Web", "URL:https://example.org/") + ".\r\n"));
    Session& s = start("/1/m", {}, {{"PATH", dir_.path()}});
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('h', "Web")));
    for (const char* error : {"No such file or directory", "Permission denied"}) {
        SCOPED_TRACE(error);
        s.keys("\r");
        ASSERT_SCREEN(
            s, s.status().rfind(std::string("Couldn't run xdg-open: ") + error + " [Press a key",
                                0) == 0);
        s.keys(" ");
        ASSERT_SCREEN(s, s.status().rfind("100%|", 0) == 0);
        std::ofstream(dir_.file("xdg-open")) << "#!/bin/sh\n"; // not executable
    }
    EXPECT_TRUE(s.quits("q"));
}

// A handler that reads its input must not take the browser's keys: it
// reads end of file, in a session of its own.
TEST_F(NavigateTest, PlumbedProgramHasNoTerminalInput) {
    write_script(dir_.file("xdg-open"),
                 "if read x; then echo \"read $x\"; else echo eof; fi > '" + dir_.file("log.tmp") +
                     "'\ncut -d' ' -f6 /proc/$$/stat >> '" + dir_.file("log.tmp") + "'\nmv '" +
                     dir_.file("log.tmp") + "' '" + dir_.file("log") + "'\n");
    server_.on("/m", Script::send(line('h', "Web", "URL:https://example.org/") +
                                  line('0', "Text", "/t") + ".\r\n"));
    Session& s = start("/1/m", {}, {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('h', "Web")));
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Plumbed", 0) == 0);
    s.keys(" j");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "Text")));
    ASSERT_TRUE(s.wait([&] { return fs::exists(dir_.file("log")); })) << s.dump();
    std::vector<std::string> log = lines_of(read_file(dir_.file("log")));
    ASSERT_EQ(log.size(), 2u);
    EXPECT_EQ(log[0], "eof");
    EXPECT_NE(log[1], std::to_string(s.run().pid())) << "runs in tolm's session";
    EXPECT_TRUE(s.quits("q"));
}

// Every program tolm starts sees the dispositions a shell would give it:
// none ignored that tolm ignores (SIGCHLD would fail its own waits with
// ECHILD), none blocked. awk, not sh, reports them: a shell resets SIGCHLD.
TEST_F(NavigateTest, StartedProgramsGetDefaultSignalDispositions) {
    const std::string report = "#!/usr/bin/awk -f\nBEGIN {\n"
                               "    while ((getline l < \"/dev/stdin\") > 0) {}\n"
                               "    while ((getline l < \"/proc/self/status\") > 0)\n"
                               "        if (l ~ /^Sig(Blk|Ign)/) out = out \" \" l\n"
                               "    print out >> \"" +
                               dir_.file("log") + "\"\n}\n";
    for (const char* program : {"xdg-open", "xclip", "pager"}) {
        write_file(dir_.file(program), report);
        chmod(dir_.file(program).c_str(), 0755);
    }
    server_.on("/m", Script::send(line('h', "Web", "URL:https://example.org/") +
                                  line('0', "Text", "/t") + ".\r\n"));
    server_.on("/t", Script::send("short\r\n.\r\n"));
    Session& s = start("/1/m", dir_.file("pager"), {{"PATH", dir_.path() + ":/usr/bin:/bin"}});
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('h', "Web")));
    auto logged = [&](size_t n) { return lines_of(read_file(dir_.file("log"))).size() == n; };
    s.keys("\r");
    ASSERT_SCREEN(s, s.status().rfind("Plumbed", 0) == 0 && logged(1));
    s.keys(" y");
    ASSERT_SCREEN(s, s.status().rfind("Yanked", 0) == 0 && logged(2));
    s.keys(" j\r");
    ASSERT_SCREEN(s, s.redrawn() && logged(3));
    const unsigned long tolm_ignores = (1ul << (SIGCHLD - 1)) | (1ul << (SIGXFSZ - 1));
    for (const std::string& entry : lines_of(read_file(dir_.file("log")))) {
        SCOPED_TRACE(entry);
        std::istringstream in(entry);
        std::string blk_tag, blk, ign_tag, ign;
        in >> blk_tag >> blk >> ign_tag >> ign;
        ASSERT_EQ(blk_tag + ign_tag, "SigBlk:SigIgn:");
        EXPECT_EQ(std::stoul(ign, nullptr, 16) & tolm_ignores, 0u);
        EXPECT_EQ(std::stoul(blk, nullptr, 16), 0u);
    }
    EXPECT_TRUE(s.quits("q"));
}

std::vector<pid_t> session_members(pid_t sid) {
    std::vector<pid_t> pids;
    for (const LiveProcess& p : live_processes())
        if (p.session == sid) pids.push_back(p.pid);
    return pids;
}

// tolm ended while its pager runs, by SIGTERM to tolm alone or by ^C from
// the terminal: the pager and what it started end with it, though it
// ignores both signals, and the shell gets the terminal back with its own
// modes. tolm runs below a shell here, as from a prompt.
TEST_F(NavigateTest, PagerEndsWithTolm) {
    write_script(dir_.file("pager"), "trap '' INT TERM HUP\ncat > /dev/null\n"
                                     "stty -icanon -echo < /dev/tty\nsleep 600 &\n"
                                     "echo $$ > '" +
                                         dir_.file("pid") + "'\nread x < /dev/tty\n");
    server_.on("/m", Script::send(line('0', "Text", "/t") + ".\r\n"));
    server_.on("/t", Script::send("short\r\n.\r\n"));
    for (int sig : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(sig == SIGTERM ? "SIGTERM to tolm" : "^C on the terminal");
        fs::remove(dir_.file("pid"));
        RunOptions o;
        o.binary = "/bin/sh";
        o.args = {"-c", "\"$0\" \"$1\"; echo ended-$?; read x; echo read-$x", tolm_binary(),
                  server_.url("/1/m")};
        o.pager = dir_.file("pager");
        Session s(o);
        ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Text")));
        s.keys("\r");
        ASSERT_TRUE(s.run().pump_until([&] { return fs::exists(dir_.file("pid")); })) << s.dump();
        pid_t shell = s.run().pid();
        ASSERT_GT(session_members(shell).size(), 3u) << "tolm, its child, the pager, its sleep";
        if (sig == SIGINT) {
            s.keys("\x03");
        } else {
            pid_t tolm = 0;
            for (const LiveProcess& p : live_processes())
                if (p.ppid == shell) tolm = p.pid;
            ASSERT_GT(tolm, 0) << "tolm not found below the shell";
            kill(tolm, SIGTERM);
        }
        const std::string ended = "ended-" + std::to_string(128 + sig);
        ASSERT_TRUE(s.run().pump_until([&] {
            return s.run().pty().find(ended) != std::string::npos;
        })) << s.dump();
        // A SIGKILL takes effect a moment after it is sent, and what it ends
        // is no child of tolm's to wait for.
        EXPECT_TRUE(s.run().pump_until([&] {
            return session_members(shell) == std::vector<pid_t>{shell};
        })) << "the pager's still run";
        EXPECT_TRUE(s.cooked());
        EXPECT_EQ(tcgetpgrp(s.run().master()), shell) << "the terminal is not the shell's";
        s.keys("back\n");
        ASSERT_TRUE(s.run().wait_exit()) << s.dump();
        EXPECT_NE(s.run().pty().find("read-back"), std::string::npos) << s.dump();
    }
}

// In a narrow window a long prompt is cut to leave a third of the row for
// the answer, which is echoed after it, and the redraw after a resize
// keeps that room.
TEST_F(SearchTest, LongPromptLeavesRoomToType) {
    RunOptions o;
    o.cols = 40;
    Session& s = InteractiveTest::start("/1/m", o);
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('i', "Search below")));
    const std::string ellipsis = "\xE2\x80\xA6";
    s.keys("j\r");
    ASSERT_SCREEN(s, s.status() == "Enter search string (^D c" + ellipsis &&
                         s.screen().cursor_col() == 26);
    EXPECT_TRUE(s.screen().standout(23, 25)) << s.dump();
    s.keys("do");
    ASSERT_SCREEN(s, s.status() == "Enter search string (^D c" + ellipsis + "do" &&
                         s.screen().cursor_col() == 28);
    EXPECT_FALSE(s.screen().standout(23, 26)) << "the answer is echoed in normal video";

    s.resize(24, 30);
    // What was typed stays in the terminal's line buffer, not on the row.
    ASSERT_SCREEN(s, s.redrawn() && s.status() == "Enter search string" + ellipsis &&
                         s.screen().cursor_col() == 20);
    s.keys("gs\r");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "Dog facts")));
    EXPECT_EQ(server_.requests().back(), "/find\tdogs");
    EXPECT_TRUE(s.quits("q"));
}

// ---------------------------------------------------------------- prompts

class PromptTest : public NavigateTest {
  protected:
    Session& start_long(RunOptions o = {}) {
        std::string menu;
        for (int i = 0; i < 200; ++i) {
            char name[16];
            snprintf(name, sizeof name, "item %03d", i);
            menu += line('0', name, "/" + std::to_string(i));
        }
        server_.on("/m", Script::send(menu + ".\r\n"));
        Session& s = InteractiveTest::start("/1/m", o);
        EXPECT_TRUE(s.wait([&] { return s.highlight_is(0, row_of('0', "item 000")); })) << s.dump();
        return s;
    }
};

// A line typed or pasted ahead ends at its newline; what follows is keys.
TEST_F(PromptTest, LineTypedAheadEndsAtItsNewline) {
    Session& s = start_long();
    s.keys("/item 042\nj");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "item 043")));
    s.keys("/item 050\n/item 055\nk");
    ASSERT_SCREEN(s, s.highlight_is(0, row_of('0', "item 054")));
    EXPECT_TRUE(s.quits("q"));
}

// The suspend key in a prompt: back from the stop, the prompt is there in
// line mode, erasing works and ^D still cancels.
TEST_F(PromptTest, SuspendKeyInAPromptComesBackToIt) {
    Session& s = start_long();
    auto stop_in_prompt = [&] {
        s.keys("/");
        ASSERT_SCREEN(s, s.status() == "Search for:");
        s.keys("\x1a");
        ASSERT_SCREEN(s, s.redrawn() && s.status() == "Search for:" &&
                             s.screen().cursor_row() == 23 && s.screen().cursor_col() == 12);
        EXPECT_TRUE(s.cooked());
    };
    stop_in_prompt();
    s.keys("item 0x\x7f"
           "42\n");
    ASSERT_SCREEN(s,
                  s.highlight_is(0, row_of('0', "item 042")) && s.status().rfind(" 32%|", 0) == 0);
    EXPECT_TRUE(s.raw());

    stop_in_prompt();
    s.keys("\x04");
    ASSERT_SCREEN(s, s.screen().cursor_row() == 0 && s.highlight_is(0, row_of('0', "item 042")));
    EXPECT_TRUE(s.raw());
    EXPECT_TRUE(s.quits("q"));
}

// Standard input closed when tolm starts: the terminal it opens lands on
// descriptor 0 and must stay open for the keys.
TEST_F(PromptTest, ClosedStandardInputAtStart) {
    RunOptions o;
    o.close_stdin = true;
    Session& s = start_long(o);
    s.keys("j");
    ASSERT_SCREEN(s, s.highlight_is(1, row_of('0', "item 001")));
    EXPECT_TRUE(s.quits("q"));
}

} // namespace
