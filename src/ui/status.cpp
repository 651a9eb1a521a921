#include "ui/status.h"

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <string>
#include <string_view>
#include <unistd.h>

#include "driver/process/alloc.h"
#include "driver/process/wait.h"
#include "ui/fitted.h"
#include "ui/term.h"

char line_buf[line_buf_size];

void end_status_text(size_t used) {
    put_cap(Cap::standout_off);
    if (used < static_cast<size_t>(term_columns())) put_cap(Cap::clear_eol);
}

void put_status_text(const char* text) {
    put_cap(Cap::save_pos);
    put_cap(Cap::move, term_lines() - 1, 0);
    put_cap(Cap::standout_on);
    end_status_text(print_fitted(text, static_cast<size_t>(term_columns())));
    put_cap(Cap::restore_pos);
}

namespace {

// Keys that arrived with a prompt's line, after its newline: typed or
// pasted ahead, they are read as keys once the prompt is done.
std::string pending_keys;

// The prompt being answered, so that a redraw of the page (a resize, a
// return from a stop) can draw it again with what was read of the answer.
struct Prompt {
    bool active = false;
    bool one_key = false; // a question answered by one key, read in key mode
    char text[line_buf_size];
    std::string typed;
} prompt;

// The columns a line prompt leaves for its answer: a third of the row, and
// at least 10. A prompt as wide as the row would leave the terminal's echo
// no place but the next line.
size_t answer_room(size_t cols) {
    return std::min(cols, std::max<size_t>((cols + 2) / 3, 10));
}

void draw_prompt() {
    put_cap(Cap::move, term_lines() - 1, 0);
    put_cap(Cap::clear_eol);
    put_cap(Cap::standout_on);
    size_t cols = static_cast<size_t>(term_columns());
    // A one-key answer is not echoed: the question may take the whole row.
    size_t used = print_fitted(prompt.text, prompt.one_key ? cols : cols - answer_room(cols));
    end_status_text(used);
    if (used < cols) print_fitted(prompt.typed.c_str(), cols - used);
}

// Takes the prompt's text, with nothing typed yet; the cursor is saved
// for the prompt's end.
__attribute__((format(printf, 1, 0))) void begin_prompt(const char* format, va_list ap) {
    vsnprintf(prompt.text, sizeof prompt.text, format, ap);
    prompt.typed.clear();
    put_cap(Cap::save_pos);
}

} // namespace

int read_key() {
    if (!pending_keys.empty()) {
        auto c = static_cast<unsigned char>(pending_keys.front());
        pending_keys.erase(0, 1);
        return c;
    }
    unsigned char c;
    ssize_t r = read_fd(STDIN_FILENO, &c, 1);
    return r == 1 ? c : -1;
}

void keep_keys(const char* bytes, size_t n) {
    pending_keys.append(bytes, n);
}

void redraw_prompt() {
    if (!prompt.active) return;
    draw_prompt();
    // A return from a stop set the browsing modes again.
    if (!prompt.one_key) term_input(Input::line);
    fflush(stdout);
}

void show_status_line(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(line_buf, line_buf_size, format, ap);
    va_end(ap);
    // The suffix follows a message that left room for a character of it
    // and the NUL; a cut message has none.
    if (n >= 0 && static_cast<size_t>(n) + 2 <= line_buf_size)
        snprintf(line_buf + n, line_buf_size - static_cast<size_t>(n),
                 " [Press a key to continue \xE2\x98\x83]");
    put_status_text(line_buf);
    fflush(stdout);
    // Any key, or the end of input, goes on.
    (void)read_key();
}

bool ask_yes(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    begin_prompt(format, ap);
    va_end(ap);
    prompt.active = true;
    prompt.one_key = true;
    draw_prompt();
    fflush(stdout);
    int key = read_key();
    prompt.active = false;
    prompt.one_key = false;
    put_cap(Cap::restore_pos);
    fflush(stdout);
    return key == 'y' || key == 'Y';
}

char* prompt_line(const char* format, ...) {
    va_list ap;
    va_start(ap, format);
    begin_prompt(format, ap);
    va_end(ap);

    // A line typed ahead, before the prompt was drawn, answers it at once.
    bool done = false;
    size_t nl = pending_keys.find('\n');
    prompt.typed = pending_keys.substr(0, nl);
    pending_keys.erase(0, nl == std::string::npos ? std::string::npos : nl + 1);
    done = nl != std::string::npos;

    prompt.active = true;
    draw_prompt();
    term_input(Input::line);
    fflush(stdout);

    bool ended = false;
    char buf[1024];
    while (!done) {
        ssize_t r = read_fd(STDIN_FILENO, buf, sizeof buf);
        if (r <= 0) {
            ended = prompt.typed.empty() || r < 0;
            break;
        }
        // Keys typed before the switch to line mode arrive with the line in
        // one read: the answer ends at the first newline, the rest are keys.
        std::string_view got(buf, static_cast<size_t>(r));
        size_t end = got.find('\n');
        prompt.typed.append(got.substr(0, end));
        if (end != std::string_view::npos) {
            pending_keys.insert(0, got.substr(end + 1));
            done = true;
        }
    }
    prompt.active = false;

    term_input(Input::keys);
    put_cap(Cap::restore_pos);
    fflush(stdout);
    if (ended) return nullptr;
    return strdup_or_die(prompt.typed.c_str());
}
