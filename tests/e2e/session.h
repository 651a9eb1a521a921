// What the interactive end-to-end tests share: an interactive run of tolm
// read back through a terminal emulator, the fixture that starts it
// against the fake server, a scratch directory of the test's own, and the
// small file and menu helpers around them.
#pragma once

#include "fake_server.h"
#include "pty_run.h"
#include "screen.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <system_error>
#include <termios.h>
#include <vector>

namespace tolmtest {

// What xterm-256color's clear_screen writes: the mark of a full redraw.
inline const std::string kClear = "\x1b[H\x1b[2J";

// A directory of the test's own, removed with everything in it. Each file
// names its own prefix, e.g. "/tmp/e2e-nav-", so leftovers tell where they
// came from. The name must not look like tolm's private directories
// ("/tmp/tolm-..."), which the tests count.
class TempDir {
  public:
    explicit TempDir(const std::string& prefix) {
        std::string name = prefix + "XXXXXX";
        if (std::filesystem::path(name).filename().string().rfind("tolm-", 0) == 0)
            ADD_FAILURE() << "TempDir prefix " << prefix << " would pass for tolm's own";
        else if (mkdtemp(name.data()))
            path_ = name;
        else
            ADD_FAILURE() << "mkdtemp failed for " << name;
    }
    ~TempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string file(const std::string& name) const { return path_ + "/" + name; }
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

inline std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

inline void write_file(const std::string& path, const std::string& body) {
    std::ofstream(path, std::ios::binary) << body;
}

inline void write_script(const std::string& path, const std::string& body) {
    std::ofstream(path) << "#!/bin/sh\n" << body;
    chmod(path.c_str(), 0755);
}

inline std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::stringstream s(text);
    for (std::string l; std::getline(s, l);)
        lines.push_back(l);
    return lines;
}

inline std::string menu_line(char type, const std::string& display, const std::string& selector,
                             const std::string& host, const std::string& port) {
    return type + display + "\t" + selector + "\t" + host + "\t" + port + "\r\n";
}

inline std::string info_line(const std::string& text) {
    return "i" + text + "\t\tnull.host\t1\r\n";
}

// One interactive run of tolm with its screen.
class Session {
  public:
    explicit Session(RunOptions o) : run_(with_mode(o)), screen_(o.rows, o.cols, run_.master()) {
        run_.on_pty_output([this](std::string_view b) { screen_.feed(b); });
    }

    PtyRun& run() { return run_; }
    const Screen& screen() const { return screen_; }
    Screen& screen() { return screen_; }

    // Waits until pred holds with the program waiting for input and its
    // output read, and still holds after a moment of quiet: no half-drawn
    // screen is ever judged.
    bool wait(const std::function<bool()>& pred, Millis timeout = deadline()) {
        using Clock = std::chrono::steady_clock;
        auto end = Clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<Millis>(end - Clock::now());
            if (left <= Millis(0) || !run_.pump_until([&] { return pred() && run_.idle(); }, left))
                return false;
            size_t seen = run_.pty().size();
            run_.pump_for(scaled(Millis(30)));
            if (run_.pty().size() == seen && pred()) return true;
        }
    }
    // Waits until the program has dealt with all it was sent (keys, a
    // resize) and waits for more.
    bool settle() {
        return wait([] { return true; });
    }

    // Typed keys; what the program writes from now on is since_keys().
    void keys(std::string_view k) {
        mark_ = run_.pty().size();
        run_.send(k);
    }
    std::string since_keys() const { return run_.pty().substr(mark_); }
    bool redrawn() const { return since_keys().find(kClear) != std::string::npos; }

    std::string status() const { return screen_.row(screen_.rows() - 1); }
    // The menu row in standout, -1 when there is none.
    int highlight() const {
        for (int r = 0; r + 1 < screen_.rows(); ++r)
            if (screen_.standout(r, 0)) return r;
        return -1;
    }
    bool highlight_is(int row, const std::string& text) const {
        return highlight() == row && screen_.row(row) == text;
    }
    void resize(int rows, int cols) {
        run_.resize(rows, cols);
        screen_.resize(rows, cols);
    }
    std::string dump() const { return screen_.dump() + "\n" + run_.transcript(); }

    // The terminal's modes: keys read one at a time without echo, or lines
    // with echo (as the shell left them).
    bool raw() const { return (lflag() & (ICANON | ECHO)) == 0; }
    bool cooked() const { return (lflag() & (ICANON | ECHO)) == (ICANON | ECHO); }

    // Types key and expects the program to end with status 0.
    ::testing::AssertionResult quits(std::string_view key = "q") {
        keys(key);
        if (!run_.wait_exit()) return ::testing::AssertionFailure() << "still running\n" << dump();
        if (!run_.status().exited || run_.status().code != 0)
            return ::testing::AssertionFailure() << dump();
        return ::testing::AssertionSuccess();
    }

  private:
    static RunOptions with_mode(RunOptions o) {
        o.mode = Mode::Interactive;
        return o;
    }
    tcflag_t lflag() const {
        termios t{};
        if (tcgetattr(run_.master(), &t) != 0) return 0;
        return t.c_lflag;
    }
    PtyRun run_;
    Screen screen_;
    size_t mark_ = 0;
};

// Tests of interactive tolm against the scripted fake server. One session
// at a time; one still running at the end is ended by SIGTERM, which lets
// it clean up whatever it is doing.
class InteractiveTest : public TolmTest {
  protected:
    void TearDown() override {
        end_session();
        TolmTest::TearDown();
    }

    // Starts tolm on url (ending the session before).
    Session& start_url(const std::string& url, RunOptions o = {}) {
        end_session();
        o.args = {url};
        session_ = std::make_unique<Session>(o);
        return *session_;
    }
    // Starts tolm on path of the fake server.
    Session& start(const std::string& path, RunOptions o = {}) {
        return start_url(server_.url(path), std::move(o));
    }
    Session& session() { return *session_; }

    FakeServer server_;

  private:
    void end_session() {
        if (session_ && session_->run().running()) {
            session_->run().signal(SIGTERM);
            session_->run().wait_exit();
        }
        session_.reset();
    }
    std::unique_ptr<Session> session_;
};

} // namespace tolmtest

#define ASSERT_SCREEN(s, pred) ASSERT_TRUE((s).wait([&] { return pred; })) << (s).dump()
