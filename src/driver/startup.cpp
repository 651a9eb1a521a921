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
