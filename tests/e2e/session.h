// What the interactive end-to-end tests share: an interactive run of tolm
// read back through a terminal emulator, a scratch directory of the test's
// own, and the small file and menu helpers around them.
#pragma once

#include "pty_run.h"
#include "screen.h"

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <gtest/gtest.h>
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

    // Waits until pred holds and still holds after the terminal has been
    // quiet for a moment: no half-drawn screen is ever judged.
    bool wait(const std::function<bool()>& pred, Millis timeout = deadline()) {
        using Clock = std::chrono::steady_clock;
        auto end = Clock::now() + timeout;
        for (;;) {
            auto left = std::chrono::duration_cast<Millis>(end - Clock::now());
            if (left <= Millis(0) || !run_.pump_until(pred, left)) return false;
            size_t seen = run_.pty().size();
            run_.pump_for(scaled(Millis(30)));
            if (run_.pty().size() == seen && pred()) return true;
        }
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

    // The terminal's local modes now.
    tcflag_t lflag() const {
        termios t{};
        if (tcgetattr(run_.master(), &t) != 0) return 0;
        return t.c_lflag;
    }

  private:
    static RunOptions with_mode(RunOptions o) {
        o.mode = Mode::Interactive;
        return o;
    }
    PtyRun run_;
    Screen screen_;
    size_t mark_ = 0;
};

} // namespace tolmtest

#define ASSERT_SCREEN(s, pred) ASSERT_TRUE((s).wait([&] { return pred; })) << (s).dump()
