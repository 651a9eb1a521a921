// The bookmarks file: its lines, adding without duplicates, removing by
// rename, and that no moment of a change leaves a broken file.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "actions/bookmarks.h"
#include "items/item.h"
#include "recorders.h"

namespace {

namespace fs = std::filesystem;

Item make_item(char type, const char* display, const char* selector, const char* host,
               const char* port) {
    Item item;
    item.type = type;
    item.display = display;
    item.selector = selector;
    item.host = host;
    item.port = port;
    return item;
}

class BookmarksTest : public testing::Test {
  protected:
    void SetUp() override {
        char name[] = "/tmp/unit-bookmarks-XXXXXX";
        ASSERT_NE(mkdtemp(name), nullptr);
        dir_ = name;
        const char* old = getenv("XDG_DATA_HOME");
        if (old) saved_ = old;
        had_ = old != nullptr;
        // A directory that does not exist yet: adding makes it.
        setenv("XDG_DATA_HOME", (dir_ + "/data").c_str(), 1);
    }
    void TearDown() override {
        if (had_)
            setenv("XDG_DATA_HOME", saved_.c_str(), 1);
        else
            unsetenv("XDG_DATA_HOME");
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    std::string file() const { return dir_ + "/data/tolm/bookmarks"; }
    std::string contents() const {
        std::ifstream in(file(), std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    void write(const std::string& text) const {
        fs::create_directories(dir_ + "/data/tolm");
        std::ofstream(file(), std::ios::binary) << text;
    }

    std::string dir_, saved_;
    bool had_ = false;
    StatusRecorder status_;
};

TEST_F(BookmarksTest, LinesAreWhatAServerWouldSend) {
    EXPECT_EQ(bookmarks_path(), file());
    EXPECT_EQ(bookmark_line(make_item('1', "A menu", "/m", "host", "70")),
              "1A menu\t/m\thost\t70\r\n");
    EXPECT_EQ(bookmark_line(make_item('0', "tab\there\r", "/t", "h", "7070")),
              "0tab here \t/t\th\t7070\r\n");
    // Nothing that a menu line cannot carry.
    EXPECT_EQ(bookmark_line(make_item('i', "info", "", "null.host", "1")), "");
    EXPECT_EQ(bookmark_line(make_item('1', "x", "/a\tb", "h", "70")), "");
    EXPECT_EQ(bookmark_line(make_item('1', "x", "/a", "h\r\n", "70")), "");
    Item unsplit;
    unsplit.display = "no fields";
    EXPECT_EQ(bookmark_line(unsplit), "");

    // What a server sends is stored shown-safe: no control character in a
    // display, a URI where there is no display, a mirror as what it mirrors.
    EXPECT_EQ(bookmark_line(make_item('1', "\x1b]52;c;SGk=\x07\x1b[2J\x7f", "/\x1b", "h", "70")),
              "1 ]52;c;SGk=  [2J \t/\x1b\th\t70\r\n");
    EXPECT_EQ(bookmark_line(make_item('1', "", "", "h", "7070")),
              "1gopher://h:7070/1\t\th\t7070\r\n");
    Item mirror = make_item('+', "Mirror", "/m", "h2", "70");
    mirror.mirror_type = '1';
    EXPECT_EQ(bookmark_line(mirror), "1Mirror\t/m\th2\t70\r\n");

    unsetenv("XDG_DATA_HOME");
    setenv("XDG_DATA_HOME", "relative/is/ignored", 1);
    const char* home = getenv("HOME");
    if (home && *home) {
        EXPECT_EQ(bookmarks_path(), std::string(home) + "/.local/share/tolm/bookmarks");
    }
}

TEST_F(BookmarksTest, AddingAppendsOnceAndKeepsWhatIsThere) {
    add_bookmark(make_item('1', "First", "/1", "h", "70"));
    EXPECT_EQ(contents(), "1First\t/1\th\t70\r\n");
    struct stat st {};
    ASSERT_EQ(stat((dir_ + "/data/tolm").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);

    // The same item under another name is the same bookmark.
    add_bookmark(make_item('1', "Renamed", "/1", "h", "70"));
    EXPECT_EQ(contents(), "1First\t/1\th\t70\r\n");

    // Lines a person wrote stay; a last line without its end gets one
    // before the new line.
    write("1First\t/1\th\t70\r\nmy own note\r\n0unfinished\t/u\th\t70");
    add_bookmark(make_item('0', "Text", "/t", "h", "71"));
    EXPECT_EQ(contents(), "1First\t/1\th\t70\r\nmy own note\r\n0unfinished\t/u\th\t70\r\n"
                          "0Text\t/t\th\t71\r\n");
    EXPECT_EQ(status_.messages(),
              (std::vector<std::string>{"Bookmarked \"First\"", "Already in the bookmarks",
                                        "Bookmarked \"Text\""}));
}

TEST_F(BookmarksTest, LoadAndRemoveByRename) {
    const std::string a = "1A\t/a\th\t70\r\n", b = "0B\t/b\th\t70\r\n", note = "a note\r\n";
    write(a + note + b + "tail without end");
    Item page;
    page.type = '1';
    ASSERT_TRUE(load_bookmarks(&page));
    ASSERT_EQ(page.dir->count, 3u);
    EXPECT_STREQ(page.dir->items[1].display, "a note\r");

    ASSERT_TRUE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), note + b + "tail without end");
    // The page still shows the old file: removing by its index now would
    // hit another line, so nothing is removed.
    EXPECT_FALSE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), note + b + "tail without end");
    EXPECT_EQ(status_.messages().back(), "The bookmarks file changed meanwhile: nothing removed");

    ASSERT_TRUE(load_bookmarks(&page));
    ASSERT_TRUE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), b + "tail without end");
    EXPECT_EQ(fs::directory_iterator(dir_ + "/data/tolm")->path().filename(), "bookmarks")
        << "a temporary file stayed behind";
}

TEST_F(BookmarksTest, NoFileIsAMessage) {
    Item page;
    page.type = '1';
    EXPECT_FALSE(load_bookmarks(&page));
    EXPECT_EQ(page.dir, nullptr);
    ASSERT_EQ(status_.messages().size(), 1u);
    EXPECT_EQ(status_.messages()[0].rfind("No bookmarks yet", 0), 0u);
}

// A process killed at any moment of a removal or an addition leaves the
// old file or the new one: every line whole, none lost but the one removed.
TEST_F(BookmarksTest, KilledAtAnyMomentLeavesAWholeFile) {
    std::string base;
    for (int i = 0; i < 200; ++i)
        base += "1Entry " + std::to_string(i) + "\t/e" + std::to_string(i) + "\th\t70\r\n";
    const std::string extra = "0Extra\t/x\th\t70\r\n";
    for (int round = 0; round < 40; ++round) {
        SCOPED_TRACE(round);
        write(base);
        pid_t pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            // Add and remove the same line over and over until killed.
            Item extra_item = make_item('0', "Extra", "/x", "h", "70");
            for (;;) {
                add_bookmark(extra_item);
                Item page;
                page.type = '1';
                if (!load_bookmarks(&page) || !remove_bookmark(page, page.dir->count - 1)) _exit(1);
            }
        }
        usleep(static_cast<useconds_t>(200 + round * 250));
        kill(pid, SIGKILL);
        int st = 0;
        waitpid(pid, &st, 0);
        EXPECT_TRUE(WIFSIGNALED(st)) << "the changing process failed on its own";
        const std::string now = contents();
        EXPECT_TRUE(now == base || now == base + extra)
            << "broken file:\n"
            << now.substr(now.size() > 200 ? now.size() - 200 : 0);
    }
}

} // namespace
