#include "ui/keys.h"

#include <array>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <strings.h>
#include <type_traits>

#include "driver/process/ctext.h"
#include "items/item.h"
#include "items/uri.h"
#include "ui/fitted.h"
#include "ui/keydecode.h"
#include "ui/page.h"
#include "ui/pagecommands.h"
#include "ui/status.h"
#include "ui/term.h"

struct Browse {
    Item* page;
    int64_t step; // the page step, taken once per run
    CText pattern;
};

struct Outcome {
    bool leave; // false: read the next key on the page
    Item* next; // with leave: the item to open, nullptr to quit
};

namespace {

constexpr Outcome stay{false, nullptr};

constexpr Outcome leave_for(Item* next) {
    return {true, next};
}

Item& highlighted(const Browse& b) {
    const Dir& dir = *b.page->dir;
    return dir.items[dir.cursor];
}

// Jumps to the first item past the highlight, toward direction, that hit
// accepts (the highlighted item itself never); nothing happens without one.
template <typename Hit> void jump_to_first(Item* page, Direction direction, Hit hit) {
    const Dir& dir = *page->dir;
    const bool forward = direction == Direction::forward;
    for (uint64_t i = dir.cursor; forward ? i + 1 < dir.count : i > 0;) {
        i = forward ? i + 1 : i - 1;
        if (hit(dir.items[i])) {
            jump_to(page, static_cast<int64_t>(i), Jump::exact);
            return;
        }
    }
}

// Only information lines are no links: a line without a type is one.
void jump_to_link(Item* page, Direction direction) {
    jump_to_first(page, direction, [](const Item& item) { return item.type != 'i'; });
}

// Writes line_buf on the status row, where it stays until the status bar
// is drawn again; no key is awaited.
void show_line_buf() {
    put_status_text(line_buf);
    fflush(stdout);
}

// Bytes folded to lower case in the current locale, as strcasecmp folds
// them, once per search rather than once per byte.
struct CaseFold {
    std::array<unsigned char, 256> lower;
    CaseFold() {
        for (int b = 0; b < 256; b++)
            lower[static_cast<size_t>(b)] = static_cast<unsigned char>(tolower(b));
    }
};

// Whether text holds pattern, ignoring case: strcasestr is outside POSIX.
bool contains_folded(const char* text, const char* pattern, const CaseFold& fold) {
    const auto* t = reinterpret_cast<const unsigned char*>(text);
    const auto* p = reinterpret_cast<const unsigned char*>(pattern);
    if (!*p) return true;
    for (; *t; t++) {
        if (fold.lower[*t] != fold.lower[*p]) continue;
        size_t i = 1;
        while (p[i] && fold.lower[t[i]] == fold.lower[p[i]])
            i++;
        if (!p[i]) return true;
    }
    return false;
}

void search_page(const char* pattern, Item* page, Direction direction) {
    if (!pattern || !page->dir) return;
    const CaseFold fold;
    jump_to_first(page, direction, [&](const Item& item) {
        return item.display && contains_folded(item.display, pattern, fold);
    });
}

void show_uri(const Item& item) {
    if (item.type == 0 || item.type == 'i') return;
    format_item_uri(item, line_buf, line_buf_size);
    show_line_buf();
}

// What the commands do, in the order of the table below.

Outcome line_down(Browse& b) {
    move_cursor(b.page, Direction::forward);
    return stay;
}

Outcome next_link(Browse& b) {
    jump_to_link(b.page, Direction::forward);
    return stay;
}

Outcome line_up(Browse& b) {
    move_cursor(b.page, Direction::backward);
    return stay;
}

Outcome prev_link(Browse& b) {
    jump_to_link(b.page, Direction::backward);
    return stay;
}

Outcome page_down(Browse& b) {
    jump_to(b.page, static_cast<int64_t>(b.page->dir->top) + b.step, Jump::paging);
    return stay;
}

Outcome page_up(Browse& b) {
    jump_to(b.page, static_cast<int64_t>(b.page->dir->top) - b.step, Jump::paging);
    return stay;
}

Outcome go_home(Browse& b) {
    jump_to(b.page, 0, Jump::paging);
    return stay;
}

Outcome go_end(Browse& b) {
    jump_to(b.page, static_cast<int64_t>(b.page->dir->count), Jump::paging);
    return stay;
}

Outcome open_highlighted(Browse& b) {
    return leave_for(&highlighted(b));
}

Outcome go_back(Browse& b) {
    return leave_for(b.page->parent);
}

Outcome search(Browse& b) {
    b.pattern.reset(prompt_line("Search for: "));
    if (b.pattern && !*b.pattern) b.pattern.reset();
    search_page(b.pattern.get(), b.page, Direction::forward);
    return stay;
}

Outcome search_next(Browse& b) {
    search_page(b.pattern.get(), b.page, Direction::forward);
    return stay;
}

Outcome search_prev(Browse& b) {
    search_page(b.pattern.get(), b.page, Direction::backward);
    return stay;
}

Outcome page_uri(Browse& b) {
    show_uri(*b.page);
    return stay;
}

Outcome item_uri(Browse& b) {
    show_uri(highlighted(b));
    return stay;
}

// The commands above the page view: the driver provides them.
PageCommands* above = nullptr;

// A command above the page view, as a table entry: ask<&PageCommands::reload>.
template <auto command> Outcome ask(Browse& b) {
    if (!above) return stay;
    if constexpr (std::is_void_v<decltype((above->*command)(*b.page))>) {
        (above->*command)(*b.page);
        return stay;
    } else {
        Item* next = (above->*command)(*b.page);
        return next ? leave_for(next) : stay;
    }
}

Outcome show_help(Browse& b) {
    help_item.parent = b.page;
    return leave_for(&help_item);
}

Outcome nothing(Browse&) {
    return stay;
}

Outcome quit(Browse&) {
    return leave_for(nullptr);
}

constexpr auto manual = Named::in_manual_only;

constexpr KeyBinding bindings[] = {
    {Command::down,
     {{"\x1b[B", "Down"}, {"j", "'j'"}},
     "move one line down.",
     HelpPart::first,
     line_down},
    {Command::next_link, {{"J", "'J'"}}, "move to next link.", HelpPart::first, next_link},
    {Command::up, {{"\x1b[A", "Up"}, {"k", "'k'"}}, "move one line up.", HelpPart::first, line_up},
    {Command::prev_link, {{"K", "'K'"}}, "move to previous link.", HelpPart::first, prev_link},
    {Command::page_down,
     {{"\x1b[6~", "PgDown"}, {" ", "' '"}},
     "move one page down.",
     HelpPart::first,
     page_down},
    {Command::page_up,
     {{"\x1b[5~", "PgUp"}, {"b", "'b'"}},
     "move one page up.",
     HelpPart::first,
     page_up},
    {Command::home,
     {{"\x1b[H", "Home"},
      {"g", "'g'"},
      {"\x1b[1~", "ESC [ 1 ~", manual},
      {"\x1b[7~", "ESC [ 7 ~", manual}},
     "move to top of the page.",
     HelpPart::first,
     go_home},
    {Command::end,
     {{"\x1b[4~", "End"}, {"G", "'G'"}, {"\x1b[8~", "ESC [ 8 ~", manual}},
     "move to end of the page.",
     HelpPart::first,
     go_end},
    {Command::open,
     {{"\x1b[C", "Right"}, {"l", "'l'"}, {"\n", "Enter", manual}},
     "view highlighted item.",
     HelpPart::first,
     open_highlighted},
    {Command::back,
     {{"\x1b[D", "Left"}, {"h", "'h'"}},
     "view previous item.",
     HelpPart::first,
     go_back},
    {Command::search, {{"/", "'/'"}}, "search current page.", HelpPart::first, search},
    {Command::search_next, {{"n", "'n'"}}, "search string forward.", HelpPart::first, search_next},
    {Command::search_prev, {{"N", "'N'"}}, "search string backward.", HelpPart::first, search_prev},
    {Command::page_uri, {{"U", "'U'"}}, "print page URI.", HelpPart::first, page_uri},
    {Command::item_uri, {{"u", "'u'"}}, "print item URI.", HelpPart::first, item_uri},
    {Command::yank_page,
     {{"Y", "'Y'"}},
     "yank page URI to external program.",
     HelpPart::first,
     ask<&PageCommands::yank_page>},
    {Command::yank_item,
     {{"y", "'y'"}},
     "yank item URI to external program.",
     HelpPart::first,
     ask<&PageCommands::yank_item>},
    {Command::help, {{"?", "'?'"}}, "show this help.", HelpPart::first, show_help},
    {Command::quit,
     {{"\x04", "^D"},
      {"q", "'q'"},
      {"\x1b\x1b", "ESC ESC", manual},
      {"\x1b[\x1b", "ESC [ ESC", manual}},
     "exit tolm.",
     HelpPart::first,
     quit},
    {Command::go_to_url,
     {{"o", "'o'"}},
     "go to a URL.",
     HelpPart::appended,
     ask<&PageCommands::go_to_url>},
    {Command::reload,
     {{"r", "'r'"}},
     "reload current page.",
     HelpPart::appended,
     ask<&PageCommands::reload>},
    {Command::bookmark_item,
     {{"a", "'a'"}},
     "bookmark highlighted item.",
     HelpPart::appended,
     ask<&PageCommands::bookmark_item>},
    {Command::bookmark_page,
     {{"m", "'m'"}},
     "bookmark current page.",
     HelpPart::appended,
     ask<&PageCommands::bookmark_page>},
    {Command::bookmarks,
     {{"v", "'v'"}},
     "show bookmarks.",
     HelpPart::appended,
     ask<&PageCommands::show_bookmarks>},
    {Command::remove_bookmark,
     {{"d", "'d'"}},
     "remove highlighted bookmark (bookmarks page).",
     HelpPart::appended,
     ask<&PageCommands::remove_bookmark>},
    {Command::history,
     {{"\x7f", "Backspace"}, {"\x08", "^H", manual}},
     "show the pages visited.",
     HelpPart::appended,
     ask<&PageCommands::show_history>},
    {Command::save_item,
     {{"s", "'s'"}},
     "save highlighted item to a file.",
     HelpPart::appended,
     ask<&PageCommands::save_item>},
    {Command::cancel_fetch,
     {{"z", "'z'"}, {"\x07", "^G"}},
     "cancel a fetch in progress.",
     HelpPart::appended,
     nothing},
};

// The decoder's assumptions about the keys, checked while compiling.
constexpr bool keys_decodable() {
    std::string_view all[std::size(bindings) * max_keys];
    size_t n = 0;
    for (const KeyBinding& b : bindings) {
        for (const Key& k : b.keys) {
            if (!k.bytes) continue;
            std::string_view key(k.bytes);
            if (key.empty() || key.size() > max_key_length) return false;
            // ESC alone starts a sequence; "ESC O" is read as "ESC [".
            if (key == "\x1b" || (key[0] == '\x1b' && key[1] == 'O')) return false;
            if (key.size() > 1 && key[0] != '\x1b') return false;
            all[n++] = key;
        }
    }
    // The decoder ends a sequence it does not know at the first byte that
    // continues no key and reads the rest as keys: a modified cursor key
    // (ESC [ 1 ; 5 A) or a console's function key (ESC [ [ A) leaves its
    // final letter behind. The commands of the appended part must not
    // run from such a letter.
    for (const KeyBinding& b : bindings)
        for (const Key& k : b.keys)
            if (b.part == HelpPart::appended && k.bytes &&
                std::string_view("ABCDFHPQRS~u").find(k.bytes[0]) != std::string_view::npos)
                return false;
    // A key that began another would end the sequence before it.
    for (size_t i = 0; i < n; i++)
        for (size_t j = 0; j < n; j++)
            if (i != j && all[j].starts_with(all[i])) return false;
    return true;
}
static_assert(keys_decodable(),
              "a key is too long, bound twice, the start of another or a sequence's end");

// Writes the help page up to and including part last into out (nullptr
// only counts) and returns its length.
constexpr size_t write_help(char* out, HelpPart last = HelpPart::appended) {
    size_t n = 0;
    auto put = [&](std::string_view text) {
        for (char c : text) {
            if (out) out[n] = c;
            n++;
        }
    };
    put("Commands:\n");
    for (HelpPart part : {HelpPart::first, HelpPart::appended}) {
        if (part == HelpPart::appended && last == HelpPart::first) break;
        bool first_line = true;
        for (const KeyBinding& b : bindings) {
            if (b.part != part) continue;
            if (part == HelpPart::appended && first_line) put("\n");
            first_line = false;
            const char* separator = "";
            for (const Key& k : b.keys) {
                if (!k.bytes || k.named != Named::in_help) continue;
                put(separator);
                put(k.name);
                separator = ", ";
            }
            put(": ");
            put(b.help);
            put("\n");
        }
    }
    return n;
}

// The text the help page has always had: a new command goes into the
// appended part.
static_assert(write_help(nullptr, HelpPart::first) == 565,
              "the first part of the help page changed");

constexpr auto help_text = [] {
    std::array<char, write_help(nullptr) + 1> text{};
    write_help(text.data());
    return text;
}();

} // namespace

const std::span<const KeyBinding> key_table{bindings};

// Outside the item tree: never released before the end of the run, when
// its own copy of the text goes with it.
Item help_item = [] {
    Item item;
    item.type = '0';
    item.raw.reset(strdup(help_text.data()));
    return item;
}();

void provide_page_commands(PageCommands* commands) {
    above = commands;
}

Item* browse_page(Item* page) {
    if (!page || !page->dir) return nullptr;
    // A step of no line would page nowhere.
    Browse run{page, last_menu_row() > 0 ? last_menu_row() : 1, nullptr};
    KeyDecoder keys{key_table};
    for (;;) {
        int c = read_key();
        // End of input or a read error on the terminal: nothing more will
        // come, so quitting is the only move that does not spin.
        if (c < 0) return nullptr;
        const KeyBinding* key = keys.feed(static_cast<unsigned char>(c));
        if (!key) continue;
        Outcome outcome = key->run(run);
        if (outcome.leave) return outcome.next;
    }
}
