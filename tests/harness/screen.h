// The terminal a person would see, read back through libvterm.
#pragma once

#include <string>
#include <string_view>

struct VTerm;
struct VTermScreen;

namespace tolmtest {

class Screen {
  public:
    // reply_fd: where the terminal's own answers (e.g. to a cursor position
    // request) are written, normally the pty master; -1 drops them.
    Screen(int rows, int cols, int reply_fd = -1);
    ~Screen();
    Screen(const Screen&) = delete;
    Screen& operator=(const Screen&) = delete;

    // Bytes the program wrote to its terminal.
    void feed(std::string_view bytes);
    // New size of the emulated terminal (the pty's is PtyRun::resize).
    void resize(int rows, int cols);

    int rows() const { return rows_; }
    // Text of a row in UTF-8, trailing blanks removed.
    std::string row(int r) const;
    // Whether the cell is drawn in standout (reverse video).
    bool standout(int r, int c) const;
    // Whether any cell of the row is in standout.
    bool row_has_standout(int r) const;
    // Cursor position, 0-based.
    int cursor_row() const;
    int cursor_col() const;
    // Every row numbered, standout rows marked with '*', and the cursor:
    // for failure messages.
    std::string dump() const;

  private:
    static void on_output(const char* bytes, size_t len, void* self);
    VTerm* vt_ = nullptr;
    VTermScreen* screen_ = nullptr;
    int rows_, cols_;
    int reply_fd_;
};

} // namespace tolmtest
