#include "items/menu.h"

#include <cstring>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "driver/process/state.h"
#include "items/item.h"

namespace {

// The TABs and newlines of a text, in order, found in one pass over it:
// sixteen bytes at a time where SSE2 is there (every x86-64), byte by byte
// elsewhere and for the last few bytes. Reads nothing at or past end.
class Marks {
  public:
    Marks(char* from, const char* end) : scan_(from), end_(end) {}

    // The next TAB or newline; there must be one before end.
    char* next() {
        while (mask_ == 0) {
#if defined(__SSE2__)
            if (end_ - scan_ >= 16) {
                const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(scan_));
                const __m128i hits = _mm_or_si128(_mm_cmpeq_epi8(bytes, _mm_set1_epi8('\t')),
                                                  _mm_cmpeq_epi8(bytes, _mm_set1_epi8('\n')));
                mask_ = static_cast<unsigned>(_mm_movemask_epi8(hits));
                chunk_ = scan_;
                scan_ += 16;
                continue;
            }
#endif
            char* p = scan_++;
            if (*p == '\t' || *p == '\n') return p;
        }
        const auto bit = static_cast<unsigned>(__builtin_ctz(mask_));
        mask_ &= mask_ - 1;
        return chunk_ + bit;
    }

  private:
    char* scan_;            // the first byte not looked at yet
    const char* end_;       // one past the last newline
    char* chunk_ = nullptr; // the sixteen bytes mask_ stands for
    unsigned mask_ = 0;     // one bit per TAB or newline in them not handed out yet
};

// The port field, from p to the line's end nl: it ends at a TAB or a CR,
// overwritten with NUL, or at nl. A few bytes, so a byte loop.
const char* port_field(char* p, const char* nl) {
    char* start = p;
    for (; p != nl; p++) {
        if (*p == '\t' || *p == '\r') {
            *p = '\0';
            break;
        }
    }
    return start;
}

} // namespace

int parse_menu(Item* item) {
    char* text = item->raw.get();
    // One pass: strchr stops at a newline or at the NUL that ends the text,
    // so the text's length is never needed. The split reads up to the last
    // newline only: what follows it is no line.
    uint64_t count = 0;
    const char* last = nullptr;
    for (const char* p = text; (p = strchr(p, '\n')); p++) {
        count++;
        last = p;
    }
    if (count == 0) {
        show_status("Couldn't parse dir item");
        return 0;
    }

    auto dir = std::make_unique<Dir>();
    // One allocation for the whole array.
    dir->items = ItemArray(count);
    dir->count = count;

    char* line = text;
    Marks marks(text, last + 1);
    // The type a '+' line mirrors: that of the nearest earlier line that is
    // not itself a '+' line, carried forward instead of searched for.
    char last_other = 0;
    bool have_other = false;
    for (uint64_t j = 0; j < count; j++) {
        Item& it = dir->items.add();
        // The first three TABs after the type character, and the newline.
        // A line is split into fields when it holds three TABs, a TAB as
        // its type character counting. The bytes the split overwrites lie
        // in this line, before its newline: none is looked at again.
        char* tabs[3];
        int found = 0;
        int needed = *line == '\t' ? 2 : 3;
        char* nl;
        while (*(nl = marks.next()) != '\n') {
            if (nl != line && found < 3) tabs[found++] = nl;
        }
        if (found < needed) {
            it.display = line;
        } else {
            it.type = *line;
            it.display = line + 1;
            it.selector = tabs[0] + 1;
            it.host = tabs[1] + 1;
            it.port = found == 3 ? port_field(tabs[2] + 1, nl) : nl;
            for (int k = 0; k < found; k++)
                *tabs[k] = '\0';
        }
        *nl = '\0';
        line = nl + 1;
        if (it.type == '+') {
            if (have_other) it.mirror_type = last_other;
        } else {
            last_other = it.type;
            have_other = true;
        }
    }
    item->dir = std::move(dir);
    return item->type;
}
