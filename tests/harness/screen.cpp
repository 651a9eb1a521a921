#include "screen.h"

#include <cerrno>
#include <unistd.h>
#include <vterm.h>

namespace tolmtest {

namespace {

void append_utf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

} // namespace

Screen::Screen(int rows, int cols, int reply_fd) : rows_(rows), cols_(cols), reply_fd_(reply_fd) {
    vt_ = vterm_new(rows, cols);
    vterm_set_utf8(vt_, 1);
    vterm_output_set_callback(vt_, &Screen::on_output, this);
    screen_ = vterm_obtain_screen(vt_);
    vterm_screen_enable_altscreen(screen_, 1);
    vterm_screen_reset(screen_, 1);
}

Screen::~Screen() {
    vterm_free(vt_);
}

void Screen::on_output(const char* bytes, size_t len, void* self) {
    auto* s = static_cast<Screen*>(self);
    while (s->reply_fd_ >= 0 && len > 0) {
        ssize_t n = write(s->reply_fd_, bytes, len);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        bytes += n;
        len -= static_cast<size_t>(n);
    }
}

void Screen::feed(std::string_view bytes) {
    if (!bytes.empty()) vterm_input_write(vt_, bytes.data(), bytes.size());
}

void Screen::resize(int rows, int cols) {
    rows_ = rows;
    cols_ = cols;
    vterm_set_size(vt_, rows, cols);
}

std::string Screen::row(int r) const {
    std::string text;
    for (int c = 0; c < cols_; ++c) {
        VTermScreenCell cell;
        if (!vterm_screen_get_cell(screen_, VTermPos{r, c}, &cell)) continue;
        uint32_t first = cell.chars[0];
        if (first == static_cast<uint32_t>(-1)) continue; // right half of a wide character
        if (first == 0) {
            text += ' ';
            continue;
        }
        for (int i = 0; i < VTERM_MAX_CHARS_PER_CELL && cell.chars[i]; ++i)
            append_utf8(text, cell.chars[i]);
    }
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

bool Screen::standout(int r, int c) const {
    VTermScreenCell cell;
    if (!vterm_screen_get_cell(screen_, VTermPos{r, c}, &cell)) return false;
    return cell.attrs.reverse;
}

bool Screen::row_has_standout(int r) const {
    for (int c = 0; c < cols_; ++c)
        if (standout(r, c)) return true;
    return false;
}

int Screen::cursor_row() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.row;
}

int Screen::cursor_col() const {
    VTermPos pos;
    vterm_state_get_cursorpos(vterm_obtain_state(vt_), &pos);
    return pos.col;
}

std::string Screen::dump() const {
    std::string out = "screen " + std::to_string(rows_) + "x" + std::to_string(cols_) +
                      ", cursor at row " + std::to_string(cursor_row()) + " col " +
                      std::to_string(cursor_col()) + " ('*' marks standout rows):\n";
    for (int r = 0; r < rows_; ++r) {
        char head[16];
        snprintf(head, sizeof head, "%2d%c|", r, row_has_standout(r) ? '*' : ' ');
        out += head + row(r) + "\n";
    }
    return out;
}

} // namespace tolmtest
