// The bookmarks file: its lines, adding without duplicates, removing by
// rename, and that no moment of a change leaves a broken file.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <poll.h>
#include <set>
#include <sstream>
#include <string>
#include <sys/file.h>
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

    // A file the user published stays readable to others.
    ASSERT_EQ(chmod(file().c_str(), 0644), 0);
    ASSERT_TRUE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), note + b + "tail without end");
    struct stat st {};
    ASSERT_EQ(stat(file().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    // The page still shows the old file: removing by its index now would
    // hit another line, so nothing is removed.
    EXPECT_FALSE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), note + b + "tail without end");
    EXPECT_EQ(status_.messages().back(), "The bookmarks file changed meanwhile: nothing removed");

    ASSERT_TRUE(load_bookmarks(&page));
    ASSERT_TRUE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), b + "tail without end");
    for (const auto& e : fs::directory_iterator(dir_ + "/data/tolm"))
        EXPECT_TRUE(e.path().filename() == "bookmarks" || e.path().filename() == "bookmarks.lock")
            << e.path() << " stayed behind";
}

// A line a NUL hides is no line for any step: no complaint per line, the
// new bookmark lands where the page shows it, and what follows the NUL
// stays as it was.
TEST_F(BookmarksTest, NulInAHandEditedFile) {
    const std::string a = "1A\t/a\th\t70\r\n", hidden = std::string("junk\0more\r\n", 11);
    const std::string b = "1B\t/b\th\t70\r\n", c = "0C\t/c\th\t70\r\n";
    write(a + hidden + b);
    add_bookmark(make_item('0', "C", "/c", "h", "70"));
    EXPECT_EQ(contents(), a + c + hidden + b);
    Item page;
    page.type = '1';
    ASSERT_TRUE(load_bookmarks(&page));
    ASSERT_EQ(page.dir->count, 2u);
    EXPECT_STREQ(page.dir->items[1].display, "C");
    ASSERT_TRUE(remove_bookmark(page, 0));
    EXPECT_EQ(contents(), c + hidden + b);
    EXPECT_EQ(status_.messages(), std::vector<std::string>{"Bookmarked \"C\""});
}

// The link stays; the file it names (relative to the link) is replaced.
TEST_F(BookmarksTest, SymlinkedFileStaysALink) {
    fs::create_directories(dir_ + "/real");
    write("1A\t/a\th\t70\r\n1B\t/b\th\t70\r\n");
    fs::rename(file(), dir_ + "/real/marks");
    fs::create_symlink("../../real/marks", file());
    Item page;
    page.type = '1';
    ASSERT_TRUE(load_bookmarks(&page));
    ASSERT_TRUE(remove_bookmark(page, 0));
    EXPECT_TRUE(fs::is_symlink(file()));
    EXPECT_EQ(contents(), "1B\t/b\th\t70\r\n");
}

// A FIFO would hold the open, /dev/zero fill memory: one message each, at
// once, and no lock file made in /dev; a file over 64 MiB is not read.
TEST_F(BookmarksTest, OnlyARegularFileIsRead) {
    alarm(20); // a hang ends the test process, failing it
    fs::create_directories(dir_ + "/data/tolm");
    ASSERT_EQ(mkfifo(file().c_str(), 0600), 0);
    std::vector<std::string> expected;
    for (const std::string& named : {file(), std::string("/dev/zero")}) {
        if (named != file()) fs::remove(file()), fs::create_symlink(named, file());
        Item page;
        EXPECT_FALSE(load_bookmarks(&page));
        add_bookmark(make_item('1', "A", "/a", "h", "70"));
        expected.insert(expected.end(), 2, "Bookmarks " + named + " is not a regular file");
    }
    EXPECT_FALSE(fs::exists("/dev/zero.lock"));
    fs::remove(file());
    std::ofstream(file()).close();
    fs::resize_file(file(), (std::uintmax_t{64} << 20) + 1);
    Item page;
    EXPECT_FALSE(load_bookmarks(&page));
    alarm(0);
    expected.push_back("Bookmarks " + file() + " is larger than 64 MiB");
    EXPECT_EQ(status_.messages(), expected);
}

TEST_F(BookmarksTest, NoFileIsAMessage) {
    Item page;
    page.type = '1';
    EXPECT_FALSE(load_bookmarks(&page));
    EXPECT_EQ(page.dir, nullptr);
    ASSERT_EQ(status_.messages().size(), 1u);
    EXPECT_EQ(status_.messages()[0].rfind("No bookmarks yet", 0), 0u);
}

// Each message waits for a key: the lock is let go before it, so that
// another run of tolm never waits on a person reading it.
TEST_F(BookmarksTest, NoMessageIsShownUnderTheLock) {
    std::vector<std::string> shown_under_lock;
    status_watch = [&](const std::string& message) {
        // A lock of its own open file: refused while the code under test holds one.
        int fd = open((file() + ".lock").c_str(), O_RDWR | O_CLOEXEC);
        if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) shown_under_lock.push_back(message);
        if (fd >= 0) close(fd);
    };
    const Item one = make_item('1', "One", "/1", "h", "70");
    add_bookmark(one);
    add_bookmark(one);
    Item page;
    page.type = '1';
    ASSERT_TRUE(load_bookmarks(&page));
    write("1Other\t/o\th\t70\r\n");
    EXPECT_FALSE(remove_bookmark(page, 0));
    fs::resize_file(file(), (std::uintmax_t{64} << 20) + 1);
    add_bookmark(one);
    EXPECT_EQ(status_.messages(),
              (std::vector<std::string>{"Bookmarked \"One\"", "Already in the bookmarks",
                                        "The bookmarks file changed meanwhile: nothing removed",
                                        "Bookmarks " + file() + " is larger than 64 MiB"}));
    EXPECT_EQ(shown_under_lock, std::vector<std::string>{});
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

// Two runs changing the file at once, each going on while the other does:
// one removing the first line, two adding lines of their own and lines
// both add. Every addition stays, once; only the removed lines go. And a
// run that holds the lock for good holds no other up for good.
TEST_F(BookmarksTest, TwoRunsAtOnceLoseNothingAndNeverWaitForever) {
    auto line = [](const std::string& name) { return "0" + name + "\t/" + name + "\th\t70\r\n"; };
    std::string base;
    for (int i = 0; i < 150; ++i)
        base += line("Base" + std::to_string(i));
    write(base);
    // Each pipe reads as ended once the processes writing it are gone.
    int adding[2], removing[2];
    ASSERT_EQ(pipe(adding), 0);
    ASSERT_EQ(pipe(removing), 0);
    // A child doing step until it has done least and the others ended, or
    // most; its exit status is how many it did.
    auto run = [](int* own, int* other, int least, int most, auto step) -> pid_t {
        pid_t pid = fork();
        if (pid != 0) return pid;
        close(own[0]);
        close(other[1]);
        int done = 0;
        for (pollfd p{other[0], POLLIN, 0}; done < most && (done < least || poll(&p, 1, 0) == 0);
             done += step(done)) {
        }
        _exit(done);
    };
    auto add = [](const std::string& name) {
        add_bookmark(make_item('0', name.c_str(), ("/" + name).c_str(), "h", "70"));
    };
    std::vector<pid_t> pids{run(removing, adding, 20, 120, [](int) {
        Item page;
        return load_bookmarks(&page) && remove_bookmark(page, 0) ? 1 : 0;
    })};
    for (std::string own : {"one", "two"}) {
        pids.push_back(run(adding, removing, 50, 250, [&](int i) {
            add("both" + std::to_string(i));
            add(own + std::to_string(i));
            return 1;
        }));
    }
    for (int fd : {adding[0], adding[1], removing[0], removing[1]})
        close(fd);
    std::vector<int> done;
    for (pid_t pid : pids) {
        int st = 0;
        ASSERT_EQ(waitpid(pid, &st, 0), pid);
        done.push_back(WIFEXITED(st) ? WEXITSTATUS(st) : -1);
    }
    ASSERT_GE(done[0], 20);
    std::multiset<std::string> expected, lines;
    for (int i = 0; i < 250; ++i) {
        const std::string n = std::to_string(i);
        if (i >= done[0] && i < 150) expected.insert(line("Base" + n));
        if (i < std::max(done[1], done[2])) expected.insert(line("both" + n));
        if (i < done[1]) expected.insert(line("one" + n));
        if (i < done[2]) expected.insert(line("two" + n));
    }
    std::stringstream now(contents());
    for (std::string l; std::getline(now, l);)
        lines.insert(l + "\n");
    EXPECT_TRUE(lines == expected) << "lines lost or doubled";

    // A lock held elsewhere for good is waited for a bounded time, then
    // reported; the file stays as it was.
    const std::string before = contents();
    int fd = open((file() + ".lock").c_str(), O_RDWR);
    ASSERT_EQ(flock(fd, LOCK_EX), 0);
    alarm(20); // a hang ends the test process, failing it
    add_bookmark(make_item('1', "B", "/b", "h", "70"));
    alarm(0);
    close(fd);
    EXPECT_EQ(contents(), before);
    EXPECT_EQ(status_.messages().back(),
              "Can't lock bookmarks " + file() + ".lock: another tolm holds it");
}

} // namespace
