#include "driver/startup.h"

#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <unistd.h>

#include "driver/batch.h"
#include "driver/cleanup.h"
#include "driver/navigate.h"
#include "driver/process/alloc.h"
#include "driver/process/signals.h"
#include "driver/process/state.h"
#include "items/item.h"
#include "items/uri.h"
#include "transport/transport.h"

Item* make_root_item(char* rest) {
    Item parsed;
    if (!parse_url(rest, &parsed)) die("Can't parse url");
    auto* item = new (std::nothrow) Item;
    if (!item) die("calloc: %s", strerror(ENOMEM));
    *item = std::move(parsed);
    item->parent = item;
    return item;
}

namespace {

// An output closed at start (tolm URL >&-) must stay unwritable: whatever
// was opened next would take its number, and the output would go into
// /dev/null unreported, or into the server's socket. A read-only
// descriptor holds the number, and a write to it fails with EBADF as one
// to a closed descriptor does. Descriptors below fd are open by now.
void hold_closed_output(int fd) {
    if (fcntl(fd, F_GETFD) >= 0 || errno != EBADF) return;
    int held = open("/dev/null", O_RDONLY);
    if (held >= 0 && held != fd) close(held);
}

} // namespace

void tolm_main(int argc, char** argv) {
    // A failed operator new (a std::string, make_unique) ends the run like
    // every other exhausted allocation, clean-up included, instead of an
    // uncaught exception's abort.
    std::set_new_handler(out_of_memory);
    if (argc != 2) die("usage: tolm URL");
    setlocale(LC_CTYPE, "");
    setenv("PAGER", "more", 0);
    atexit(exit_cleanup);

    int tty = open("/dev/tty", O_RDONLY);
    if (tty < 0) die("open: /dev/tty: %s", strerror(errno));
    // With standard input closed at start the terminal lands on 0 itself:
    // closing "the other copy" would close the only one.
    if (tty != STDIN_FILENO) {
        if (dup2(tty, STDIN_FILENO) < 0) die("dup2: /dev/tty, stdin: %s", strerror(errno));
        close(tty);
    }
    hold_closed_output(STDOUT_FILENO);
    hold_closed_output(STDERR_FILENO);
    devnull_fd = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (devnull_fd < 0) die("open: /dev/null: %s", strerror(errno));
    install_signal_handlers();
    make_tmpdir();

    interactive = isatty(STDOUT_FILENO);
    if (interactive)
        interactive_setup();
    else
        show_status = show_status_stderr;
    transport->init();

    url_copy.reset(strdup_or_die(argv[1]));
    char* rest = transport->strip_scheme(url_copy.get());
    root_item = make_root_item(rest);

    if (interactive) navigate(root_item);
    run_batch(root_item);
}
