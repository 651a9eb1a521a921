#include "driver/navigate.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

#include "actions/bookmarks.h"
#include "actions/external.h"
#include "actions/open.h"
#include "actions/save.h"
#include "driver/commands.h"
#include "driver/holders.h"
#include "driver/process/alloc.h"
#include "driver/process/signals.h"
#include "driver/process/state.h"
#include "driver/process/wait.h"
#include "items/item.h"
#include "items/uri.h"
#include "transport/crossing.h"
#include "transport/transport.h"
#include "ui/keys.h"
#include "ui/page.h"
#include "ui/pagecommands.h"
#include "ui/progress.h"
#include "ui/status.h"
#include "ui/term.h"

namespace {

// The resize hook: the page first, then what is drawn over it, a prompt
// being answered and the progress of a fetch that runs.
void on_resize(int) {
    redraw_resized_page();
    redraw_prompt();
    redraw_fetch_progress();
}

// After a stop the terminal may have been used by the shell and resized:
// raw modes again and a redraw, as after the pager.
void resume() {
    term_setup();
    on_resize(SIGWINCH);
}

// The terminal is the pager's while it runs.
void page_text(const char* text) {
    // The pager and tolm stop and continue together, and the pager owns
    // the terminal meanwhile.
    set_suspend_hooks(nullptr, nullptr);
    set_resize_hook(nullptr);
    term_restore();
    run_pager(text);
    term_setup();
    set_resize_hook(on_resize);
    set_suspend_hooks(term_restore, resume);
    on_resize(SIGWINCH);
}

// The commands above the page view, as the page view asks for them.
class DriverCommands final : public PageCommands {
  public:
    Item* go_to_url(Item& page) override { return ::go_to_url(&page); }
    Item* show_bookmarks(Item& page) override { return bookmarks_page(&page); }
    Item* remove_bookmark(Item& page) override { return remove_highlighted_bookmark(&page); }
    Item* show_history(Item& page) override { return history_page(&page); }
    // A page fetched again is drawn again; so is the page after a failure,
    // whose message covered the status bar.
    void reload(Item& page) override {
        (void)reload_page(&page);
        draw_page(&page);
    }
    void bookmark_item(Item& page) override { add_bookmark(highlighted(page)); }
    void bookmark_page(Item& page) override { add_bookmark(page); }
    void yank_item(Item& page) override { yank_uri(highlighted(page)); }
    void yank_page(Item& page) override { yank_uri(page); }
    // The prompt, the progress and the messages took the status row.
    void save_item(Item& page) override {
        if (save_any_item(&page, &page.dir->items[page.dir->cursor])) draw_page(&page);
    }

  private:
    static const Item& highlighted(const Item& page) { return page.dir->items[page.dir->cursor]; }
};

enum class Next { browse, back };

// The search step: ask for the query (offering the last one), then reuse
// the cached results or fetch anew.
// previous is read after the results are released, which may re-point it.
Next search(Item* current, Item* const& previous) {
    const char* def = search_query(*current);
    size_t sel_len = strlen(current->selector);
    char* answer = prompt_line("Enter search string (^D cancel) [%s]: ", def);
    if (!answer) return Next::back;
    CText request;
    bool fresh = *answer && strcmp(answer, def) != 0;
    if (fresh) {
        size_t n = sel_len + strlen(answer) + 2;
        request.reset(static_cast<char*>(alloc_or_die(n)));
        snprintf(request.get(), n, "%s\t%s", current->selector, answer);
    }
    free(answer);
    if (!fresh && !current->extra) return Next::back;

    if (fresh) {
        // A page among the earlier results that the user came back from
        // gives way to the page the search was opened from.
        release_menu(current, current->parent);
        current->extra = std::move(request);
    }
    if (current->dir) return Next::browse;

    (void)open_item(previous, current);
    return current->dir ? Next::browse : Next::back;
}

} // namespace

void interactive_setup() {
    // Every drawing operation ends in one flush; line buffering would add more.
    static char out_buf[1 << 16];
    setvbuf(stdout, out_buf, _IOFBF, sizeof out_buf);
    term_setup();
    hold_fatal_messages(true);
    show_status = show_status_line;
    set_resize_hook(on_resize);
    set_suspend_hooks(term_restore, resume);
    static DriverCommands commands;
    provide_page_commands(&commands);
    set_progress_hook(show_fetch_progress);
    set_crossing_hook([](const char* question) { return ask_yes("%s", question); });
    set_key_watch(STDIN_FILENO, take_fetch_keys, catch_up_fetch_progress);
}

void navigate(Item* root) {
    Item* current = root;
    Item* previous = nullptr;
    // A command on the page, or a new search, may release what they point
    // into.
    Held held_current(current);
    Held held_previous(previous);
    for (;;) {
        Next next = Next::back;
        auto type = static_cast<unsigned char>(effective_type(*current));
        switch (type) {
        case 0:
            // A line without fields has no host, port or selector, and its
            // NUL type would cut the message short: all four print empty.
            show_status("Couldn't get %s:%s/%.*s%s", current->host ? current->host : "",
                        current->port ? current->port : "", current->type ? 1 : 0, &current->type,
                        current->selector ? current->selector : "");
            break;
        case '1':
        case '+':
            if (open_item(previous, current) && current->dir) next = Next::browse;
            break;
        case '0':
        case 'h':
            if (open_item(previous, current)) page_text(current->raw.get());
            break;
        case '7':
            next = search(current, previous);
            break;
        default:
            open_item(previous, current);
        }

        if (next == Next::back) {
            if (!previous) finish_run();
            current = previous;
        }
        for (;;) {
            // The pages tolm makes itself are no pages visited.
            if (is_history_page(current))
                refresh_history_page();
            else if (!is_bookmarks_page(current))
                note_shown(current);
            draw_page(current);
            Item* chosen = browse_page(current);
            if (!chosen) finish_run();
            // An entry of the history page is the page it names, shown
            // again as it was left: no request, no search prompt.
            Item* named = page_named_by(chosen);
            if (chosen == current || named == current) continue;
            previous = current;
            current = named ? named : chosen;
            if (!named) break;
        }
    }
}
