#include "ui/status.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <poll.h>
#include <unistd.h>

#include "driver/signals.h"
#include "driver/state.h"
#include "ui/fitted.h"
#include "ui/term.h"

char line_buf[line_buf_size];

void end_status_text(size_t used) {
    put_cap(Cap::standout_off);
    if (used < static_cast<size_t>(term_columns())) put_cap(Cap::clear_eol);
}

int read_key() {
    unsigned char c;
    ssize_t r = read_fd(STDIN_FILENO, &c, 1);
    return r == 1 ? c : -1;
}

void show_status_line(const char* format, ...) {
    put_cap(Cap::save_pos);
    put_cap(Cap::move, term_lines() - 1, 0);
    put_cap(Cap::standout_on);
    va_list ap;
    va_start(ap, format);
    int n = vsnprintf(line_buf, line_buf_size, format, ap);
    va_end(ap);
    if (n >= 0 && n <= 254)
        snprintf(line_buf + n, line_buf_size - n, " [Press a key to continue \xE2\x98\x83]");
    end_status_text(print_fitted(line_buf, term_columns()));
    put_cap(Cap::restore_pos);
    fflush(stdout);
    read_key();
}

char* prompt_line(const char* format, ...) {
    put_cap(Cap::save_pos);
    put_cap(Cap::move, term_lines() - 1, 0);
    put_cap(Cap::clear_eol);
    put_cap(Cap::standout_on);
    va_list ap;
    va_start(ap, format);
    vsnprintf(line_buf, line_buf_size, format, ap);
    va_end(ap);
    size_t used = print_fitted(line_buf, term_columns());
    end_status_text(used);
    put_cap(Cap::move, term_lines() - 1, static_cast<int>(used));
    term_line_mode(true);
    fflush(stdout);

    // In canonical mode each read returns at most one line, so nothing
    // typed after the newline is taken from the keys that follow.
    size_t cap = 128, len = 0;
    char* line = static_cast<char*>(alloc_or_die(cap));
    bool ended = false;
    for (;;) {
        if (len + 1 >= cap) line = static_cast<char*>(resize_array_or_die(line, cap *= 2, 1));
        ssize_t r = read_fd(STDIN_FILENO, line + len, cap - len - 1);
        if (r <= 0) {
            ended = len == 0 || r < 0;
            break;
        }
        len += static_cast<size_t>(r);
        if (line[len - 1] == '\n') break;
    }
    line[len] = '\0';

    term_line_mode(false);
    put_cap(Cap::restore_pos);
    fflush(stdout);
    if (ended) {
        free(line);
        return nullptr;
    }
    if (len > 0 && line[len - 1] == '\n') line[len - 1] = '\0';
    return line;
}
