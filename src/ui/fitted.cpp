#include "ui/fitted.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <langinfo.h>

bool utf8_locale() {
    const char* set = nl_langinfo(CODESET);
    return strcmp(set, "UTF-8") == 0 || strcmp(set, "utf8") == 0;
}

bool hidden_char(wchar_t wc) {
    if (wcwidth(wc) < 0) return true;
    // Format characters print as nothing yet reorder or hide the text
    // around them: bidi controls, zero-width characters, tags. The joiners
    // U+200C and U+200D stay: Persian and Indic words and emoji sequences
    // are spelt with them.
    auto c = static_cast<char32_t>(wc);
    return (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069) || c == 0x200E ||
           c == 0x200F || c == 0x061C || c == 0x200B || c == 0x2060 || c == 0xFEFF ||
           (c >= 0xE0000 && c <= 0xE007F);
}

size_t print_fitted(const char* text, size_t limit) {
    static const char replacement[] = "\xEF\xBF\xBD";
    static const char ellipsis[] = "\xE2\x80\xA6";
    if (limit == 0 || !*text) return 0;
    size_t len = strlen(text);
    size_t pos = 0;
    size_t used = 0;
    const bool eight_bit = !utf8_locale();
    auto c1 = [&](size_t at) {
        auto b = static_cast<unsigned char>(text[at]);
        return eight_bit && b >= 0x80 && b <= 0x9F;
    };
    while (pos < len) {
        // KOI8-R and CP1252 make letters of these bytes, yet an 8-bit
        // terminal obeys them as controls (0x9B is CSI).
        if (c1(pos)) {
            pos++;
            continue;
        }
        size_t avail = std::min<size_t>(len - pos, 4);
        for (size_t i = 1; i < avail; i++)
            if (c1(pos + i)) avail = i;
        wchar_t wc;
        int n = mbtowc(&wc, text + pos, avail);
        const char* bytes = text + pos;
        size_t nbytes;
        size_t consumed;
        int width;
        if (n < 0) {
            mbtowc(nullptr, nullptr, 0);
            bytes = replacement;
            nbytes = 3;
            consumed = 1;
            width = 1;
        } else {
            // mbtowc gives 0 only for the NUL, which strlen has excluded.
            consumed = nbytes = n > 0 ? static_cast<size_t>(n) : 1;
            if (hidden_char(wc)) {
                // Control characters never reach the terminal: this is what
                // keeps a server's text from becoming escape sequences.
                pos += consumed;
                continue;
            }
            width = wcwidth(wc);
        }
        size_t next = used + static_cast<size_t>(width);
        if (next > limit || (next == limit && pos + consumed < len)) {
            fwrite(ellipsis, 1, 3, stdout);
            return used + 1;
        }
        fwrite(bytes, 1, nbytes, stdout);
        used = next;
        pos += consumed;
    }
    return used;
}
