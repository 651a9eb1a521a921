#include "ui/progress.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <unistd.h>

#include "ui/keydecode.h"
#include "ui/keys.h"
#include "ui/page.h"
#include "ui/status.h"

namespace {

constexpr long long redraw_interval_ns = 100'000'000;

struct Progress {
    const Item* item = nullptr; // nullptr between fetches
    long long received = 0;
    long long shown = 0;
    long long drawn_ns = 0;
    // The cancel keys are those of the key table; the keys kept are
    // decoded again by the page's own loop.
    KeyDecoder keys{key_table};
} fetch;

void draw() {
    int n = fetch.received < 0
                ? snprintf(line_buf, line_buf_size, "Connecting (z cancels)| ")
                : snprintf(line_buf, line_buf_size, "%lld bytes (z cancels)| ", fetch.received);
    format_request_place(*fetch.item, line_buf + n, line_buf_size - static_cast<size_t>(n));
    // A search sends its selector and query a TAB apart: shown a space apart.
    std::replace(line_buf, line_buf + strlen(line_buf), '\t', ' ');
    put_status_text(line_buf);
    fflush(stdout);
    fetch.shown = fetch.received;
    fetch.drawn_ns = monotonic_ns();
}

} // namespace

void show_fetch_progress(const Item* item, long long received) {
    if (!fetch.item) fetch.keys = KeyDecoder{key_table};
    fetch.item = item;
    if (!item) return;
    fetch.received = received;
    // The start and the connection are drawn at once, the bytes at most ten
    // times a second: a fast fetch costs a few draws, not one per block.
    if (received <= 0 || monotonic_ns() - fetch.drawn_ns >= redraw_interval_ns) draw();
}

void catch_up_fetch_progress() {
    if (fetch.item && fetch.shown != fetch.received) draw();
}

void redraw_fetch_progress() {
    if (fetch.item) draw();
}

Keys take_fetch_keys() {
    char buf[256];
    ssize_t r = read(STDIN_FILENO, buf, sizeof buf);
    if (r < 0 && (errno == EINTR || errno == EAGAIN)) return Keys::kept;
    if (r <= 0) return Keys::gone;
    bool cancel = false;
    for (const char* p = buf; p < buf + r; p++) {
        const KeyBinding* key = fetch.keys.feed(static_cast<unsigned char>(*p));
        if (key && key->command == Command::cancel_fetch)
            cancel = true;
        else
            keep_keys(p, 1);
    }
    if (!cancel) return Keys::kept;
    note_on_next_draw("Fetch cancelled");
    return Keys::cancel;
}
