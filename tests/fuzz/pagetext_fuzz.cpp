// libFuzzer target: the pager's filter on arbitrary texts, fed in chunks
// that the input's first byte chooses.
//
// Whatever the chunks, the output is the same, holds no escape but a
// colour and no control, C1 or hidden character, and is the text with
// bytes taken out, then a reset when a colour passed; a text without any
// of those passes unchanged.
#include <algorithm>
#include <clocale>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>

#include "ui/fitted.h"
#include "ui/pagetext.h"

namespace {

void require(bool ok, const char* what, size_t at) {
    if (ok) return;
    fprintf(stderr, "pagetext_fuzz: %s (output byte %zu)\n", what, at);
    abort();
}

// The text fed whole (seed 0) or in chunks of 1 to 16 bytes that seed draws.
std::string filtered(const std::string& text, unsigned seed) {
    PagerFilter filter;
    std::string out;
    for (size_t pos = 0; pos < text.size();) {
        size_t n = text.size() - pos;
        if (seed != 0) {
            seed = seed * 1103515245u + 12345u;
            n = std::min<size_t>(n, 1 + (seed >> 16) % 16);
        }
        filter.feed(text.data() + pos, n, out);
        pos += n;
    }
    filter.finish(out);
    return out;
}

// Where an ESC is followed by anything but ESC [ digits and ';' then m, or
// npos.
size_t bad_escape(const std::string& out) {
    for (size_t at = out.find('\x1b'); at != std::string::npos; at = out.find('\x1b', at + 1)) {
        size_t end = out.find_first_not_of("0123456789;", at + 2);
        if (out.compare(at, 2, "\x1b[") != 0 || end == std::string::npos || out[end] != 'm')
            return at;
    }
    return std::string::npos;
}

// A character the filter must drop: ESC (but in a colour) included.
bool dropped(wchar_t wc) {
    if (wc == '\t' || wc == '\n' || wc == '\r' || wc == '\b') return false;
    return wc < 0x20 || wc == 0x7f || (wc >= 0x80 && wc <= 0x9f) || hidden_char(wc);
}

// Decodes s as a terminal would, an undecodable byte skipped: calls
// check(wc, at) for each character; returns false if any byte was skipped.
template <class Check> bool each_char(const std::string& s, Check check) {
    bool valid = true;
    for (size_t at = 0; at < s.size();) {
        wchar_t wc = 0;
        mbstate_t state{};
        size_t n = mbrtowc(&wc, s.data() + at, s.size() - at, &state);
        if (n == 0) n = 1; // NUL
        if (n > s.size() - at) {
            valid = false;
            at++;
            continue;
        }
        check(wc, at);
        at += n;
    }
    return valid;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    if (!setlocale(LC_CTYPE, "C.UTF-8")) abort();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const std::string text(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string out = filtered(text, 0);
    require(filtered(text, data[0] + 1u) == out, "the chunks change the output", 0);

    size_t esc = bad_escape(out);
    require(esc == std::string::npos, "an escape that is no colour", esc);
    each_char(out, [](wchar_t wc, size_t at) {
        require(wc == 0x1b || !dropped(wc), "a control, C1 or hidden character", at);
    });
    // A text that passed a colour ends with a reset of its own.
    const std::string reset = "\x1b[m";
    std::string body = out;
    if (body.find('\x1b') != std::string::npos) {
        require(body.ends_with(reset), "a colour passed without a reset at the end", out.size());
        body.resize(body.size() - reset.size());
    }
    size_t i = 0;
    for (char c : text)
        if (i < body.size() && body[i] == c) i++;
    require(i == body.size(), "output that is not the text with bytes taken out", i);

    bool drops = false;
    bool valid = each_char(text, [&drops](wchar_t wc, size_t) { drops = drops || dropped(wc); });
    require(!valid || drops || out == text, "plain text changed", 0);
    return 0;
}
