#include "driver/batch.h"

#include <cstring>
#include <string>
#include <unistd.h>

#include "actions/open.h"
#include "driver/signals.h"
#include "driver/state.h"
#include "items/item.h"
#include "transport/download.h"

namespace {

// Output goes out through write_all rather than stdio, so that a reader
// that stops reading cannot hold the program in a write that no signal
// interrupts, and a reader that goes away is an error, not a SIGPIPE.
class Output {
  public:
    void add(const char* text, size_t n) {
        buf_.append(text, n);
        if (buf_.size() >= 64 * 1024) flush();
    }
    void flush() {
        if (!failed_ && !buf_.empty() &&
            write_all(STDOUT_FILENO, buf_.data(), buf_.size(), false) < 0)
            failed_ = true;
        buf_.clear();
    }

  private:
    std::string buf_;
    bool failed_ = false;
};

void print_text(const Item& item) {
    const char* text = item.raw.get();
    write_all(STDOUT_FILENO, text, strlen(text), false);
}

void list_menu(const Dir& dir) {
    Output out;
    for (uint64_t i = 0; i < dir.count; i++) {
        const Item& it = dir.items[i];
        out.add(type_tag(it.type), 4);
        out.add(it.display, strlen(it.display));
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
    case '7': {
        // The query of a search URL is part of the request, as it is when
        // a search is typed interactively.
        const char* own = root->selector;
        if (type == '7' && root->extra) root->selector = root->extra.get();
        int ok = open_item(root, root);
        root->selector = own;
        if (ok && root->dir) list_menu(*root->dir);
        break;
    }
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
        download_item(root, STDOUT_FILENO);
        break;
    default:
        if (type >= '0' && type <= 'Z')
            show_status("Type %c (%s) not supported", type, type_tag(type));
        else
            download_item(root, STDOUT_FILENO);
    }
    finish_run();
}
