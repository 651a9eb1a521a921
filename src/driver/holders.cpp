#include "driver/holders.h"

#include <algorithm>
#include <cstdint>
#include <functional>
#include <utility>
#include <vector>

#include "driver/process/state.h"
#include "items/item.h"
#include "ui/keys.h"
#include "ui/page.h"

namespace {

// Made on first use, so that a Held made during static initialisation
// finds it, and never destroyed: the exit clean-up, which runs after the
// destructors of statics made after it was registered, still lets go of
// the Held it releases.
std::vector<Item**>& held_slots() {
    static auto* slots = new std::vector<Item**>;
    return *slots;
}

// The pages shown, oldest first, and a count of the changes.
std::vector<Item*> shown;
uint64_t shown_version = 0;

// Every pointer that may point into a menu from outside it but the
// history.
template <typename F> void each_holder(F&& f) {
    f(displayed_page());
    f(help_item.parent);
    for (Item** slot : held_slots())
        f(*slot);
}

// The item arrays of the menus under a page, as address ranges: whether a
// pointer lies under the page is then a search among them, not a walk of
// the whole tree for each holder.
class MenusUnder {
  public:
    explicit MenusUnder(const Item& page) {
        collect(page);
        std::sort(ranges_.begin(), ranges_.end(),
                  [](const Range& a, const Range& b) { return less(a.first, b.first); });
    }
    bool contain(const Item* item) const {
        if (!item) return false;
        auto after =
            std::upper_bound(ranges_.begin(), ranges_.end(), item,
                             [](const Item* i, const Range& r) { return less(i, r.first); });
        return after != ranges_.begin() && less(item, std::prev(after)->second);
    }

  private:
    using Range = std::pair<const Item*, const Item*>;
    // Pointers into different arrays are ordered only through std::less.
    static bool less(const Item* a, const Item* b) { return std::less<const Item*>()(a, b); }
    void collect(const Item& page) {
        if (!page.dir || page.dir->count == 0) return;
        const Dir& dir = *page.dir;
        ranges_.emplace_back(&dir.items[0], &dir.items[dir.count - 1] + 1);
        for (uint64_t i = 0; i < dir.count; i++)
            collect(dir.items[i]);
    }
    std::vector<Range> ranges_;
};

#if !defined(NDEBUG) || defined(TOLM_CHECK_HOLDERS)
// Asked the slow way, through the items' own walk of the tree: a heir
// inside the menu, or a holder the search above missed, ends the run here
// rather than in a use of freed items later.
void check_nothing_points_into(const Item* page, bool page_too) {
    each_holder([&](Item*& holder) {
        if (inside(holder, page) || (page_too && holder == page))
            die("a holder still points into a released menu");
    });
    for (const Item* p : shown)
        if (inside(p, page)) die("the history still holds a page of a released menu");
}
#else
void check_nothing_points_into(const Item*, bool) {}
#endif

// Before page's menu goes: what points into it (and, with page_too, at
// page) goes to heir, and its pages leave the history.
void let_go_of(const Item* page, Item* heir, bool page_too) {
    const MenusUnder menus(*page);
    each_holder([&](Item*& holder) {
        if (menus.contain(holder) || (page_too && holder == page)) holder = heir;
    });
    if (std::erase_if(shown, [&](const Item* p) { return menus.contain(p); })) shown_version++;
    check_nothing_points_into(page, page_too);
}

void release(Item* page, Item* heir, bool page_too) {
    let_go_of(page, heir, page_too);
    // Without its menu the page is nothing to show again.
    if (std::erase(shown, page)) shown_version++;
    release_item(page);
}

} // namespace

Held::Held(Item*& slot) : slot_(&slot) {
    held_slots().push_back(slot_);
}

Held::~Held() {
    auto& slots = held_slots();
    slots.erase(std::find(slots.begin(), slots.end(), slot_));
}

void release_menu(Item* page, Item* heir) {
    release(page, heir, false);
}

void release_page(Item* page, Item* heir) {
    release(page, heir, true);
}

void replace_menu(Item* page, Item* fresh, Item* heir) {
    uint64_t top = page->dir ? page->dir->top : 0;
    uint64_t cursor = page->dir ? page->dir->cursor : 0;
    let_go_of(page, heir, false);
    CText extra = std::move(fresh->extra);
    release_item(page);
    page->raw = std::move(fresh->raw);
    page->dir = std::move(fresh->dir);
    page->extra = std::move(extra);
    // Where the new response came from decides what its lines may reach.
    page->origin = fresh->origin;
    keep_place(*page->dir, top, cursor);
}

void note_shown(Item* page) {
    if (!shown.empty() && shown.back() == page) return;
    std::erase(shown, page);
    shown.push_back(page);
    shown_version++;
}

const std::vector<Item*>& pages_shown() {
    return shown;
}

uint64_t history_version() {
    return shown_version;
}
