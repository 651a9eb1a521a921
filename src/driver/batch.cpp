#include "driver/batch.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "actions/open.h"
#include "driver/process/signals.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/item.h"
#include "transport/download.h"

namespace {

// A pipe's capacity (64 KiB on Linux).
constexpr size_t pipe_capacity = size_t{64} * 1024;
// What a pipe is asked to hold once the output outgrows the buffer: the
// most an unprivileged process may ask of Linux by default.
constexpr size_t wide_pipe = size_t{1} << 20;

// Output goes out through write_all rather than stdio, so that a reader
// that stops reading cannot hold the program in a write that no signal
// interrupts, and a reader that goes away is an error, not a SIGPIPE.
// The first failure is reported once; what follows is dropped.
class Output {
  public:
    // Text longer than the buffer is written through.
    void add(const char* text, size_t n) {
        if (char* p = room(n))
            memcpy(p, text, n);
        else
            write_out(text, n);
    }
    // Room for n bytes at the buffer's end, flushed first if need be; nullptr
    // when n bytes would not fit an empty buffer.
    char* room(size_t n) {
        // Flushed before a line would overflow: every write then fits a
        // pipe, so none waits twice for the reader.
        if (len_ + n > sizeof buf_) flush_full();
        if (n > sizeof buf_) return nullptr;
        char* p = buf_ + len_;
        len_ += n;
        return p;
    }
    void flush() {
        write_out(buf_, len_);
        len_ = 0;
    }

  private:
    // An output larger than the buffer: a pipe that holds more lets this
    // program write on while its reader catches up, instead of taking
    // turns with it every 64 KiB.
    void flush_full() {
        if (!widened_) widen_pipe(STDOUT_FILENO, wide_pipe);
        widened_ = true;
        flush();
    }

    void write_out(const char* p, size_t n) {
        if (failed_ || n == 0) return;
        if (write_all(STDOUT_FILENO, p, n, Wait::on_block) < 0) {
            failed_ = true;
            // A reader that has gone away (tolm URL | head) wants no more,
            // as with cat: nothing to report.
            if (errno != EPIPE) show_status("Can't write to standard output: %s", strerror(errno));
            errno = 0;
        }
    }

    static char buf_[pipe_capacity];
    size_t len_ = 0;
    bool failed_ = false;
    bool widened_ = false;
};

char Output::buf_[pipe_capacity];

void print_text(const Item& item) {
    Output out;
    const char* text = item.raw.get();
    out.add(text, strlen(text));
    out.flush();
}

// Every type tag is four characters.
constexpr size_t tag_size = 4;

void list_menu(const Dir& dir) {
    Output out;
    for (uint64_t i = 0; i < dir.count; i++) {
        const Item& it = dir.items[i];
        // A split line's display ends where its selector begins, less the
        // TAB the split cut: only a line without fields is measured.
        size_t n =
            it.selector ? static_cast<size_t>(it.selector - it.display) - 1 : strlen(it.display);
        // One check of the buffer per line; a display longer than the
        // buffer is written through as add() does.
        if (char* p = out.room(tag_size + n + 1)) {
            memcpy(p, type_tag(it.type), tag_size);
            memcpy(p + tag_size, it.display, n);
            p[tag_size + n] = '\n';
            continue;
        }
        out.add(type_tag(it.type), tag_size);
        out.add(it.display, n);
        out.add("\n", 1);
    }
    out.flush();
}

} // namespace

void run_batch(Item* root) {
    auto type = static_cast<unsigned char>(root->type);
    switch (type) {
    case '0':
        if (open_item(root, root)) print_text(*root);
        break;
    case '1':
    case '7':
        // The query of a search URL is part of the request (request_text),
        // as it is when a search is typed interactively.
        if (open_item(root, root) && root->dir) list_menu(*root->dir);
        break;
    case '2':
    case '3':
    case '8':
    case 'T':
        break;
    case '4':
    case '5':
    case '6':
    case '9':
    case 'I':
    case 'g':
        // A failed copy has been reported; the exit status stays 0.
        (void)download_item(root, STDOUT_FILENO);
        break;
    default:
        if (type >= '0' && type <= 'Z')
            show_status("Type %c (%s) not supported", type, type_tag(type));
        else
            (void)download_item(root, STDOUT_FILENO);
    }
    finish_run();
}
