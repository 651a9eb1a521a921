#include "ui/pagetext.h"

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "ui/fitted.h"

namespace {

constexpr unsigned char esc = 0x1B;
constexpr unsigned char bel = 0x07;
// Longer parameters are no colour a pager needs: the sequence is dropped.
constexpr size_t max_sgr = 64;

// Printable ASCII and the controls a pager lays text out with.
bool plain(unsigned char b) {
    return (b >= 0x20 && b < 0x7F) || b == '\t' || b == '\n' || b == '\r' || b == '\b';
}

bool decoded(size_t n) {
    return n != 0 && n != static_cast<size_t>(-1) && n != static_cast<size_t>(-2);
}

bool shown(wchar_t wc) {
    return !(wc >= 0x80 && wc <= 0x9F) && !hidden_char(wc);
}

} // namespace

PagerFilter::PagerFilter() : eight_bit_(!utf8_locale()) {}

void PagerFilter::feed(const char* data, size_t len, std::string& out) {
    const char* end = data + len;
    for (const char* p = data; p < end;) {
        // Outside UTF-8 a character's bytes may be C1 controls: byte by byte.
        if (state_ != State::ground || npend_ > 0 || eight_bit_) {
            step(static_cast<unsigned char>(*p++), out);
            continue;
        }
        // Most of a text goes out in runs: plain ASCII, whole characters.
        const char* run = p;
        while (run < end && plain(static_cast<unsigned char>(*run)))
            run++;
        emit(p, static_cast<size_t>(run - p), out);
        p = run;
        if (p == end) break;
        if (static_cast<unsigned char>(*p) >= 0x80) {
            wchar_t wc = 0;
            mbstate_t state{};
            size_t n = mbrtowc(&wc, p, static_cast<size_t>(end - p), &state);
            if (decoded(n)) {
                if (shown(wc)) emit(p, n, out);
                p += n;
                continue;
            }
        }
        step(static_cast<unsigned char>(*p++), out);
    }
}

void PagerFilter::finish(std::string& out) {
    for (size_t i = 0; i < npend_; i++)
        put(pend_[i], out);
    out.append(tail_, ntail_);
    // Without it a text that ends concealed or black on black leaves
    // tolm's page and the shell after it so.
    if (coloured_) out += "\x1b[m";
    ntail_ = npend_ = 0;
    state_ = State::ground;
    coloured_ = false;
}

void PagerFilter::step(unsigned char b, std::string& out) {
    switch (state_) {
    case State::ground:
        ground(b, out);
        break;
    case State::esc:
    case State::esc_inter:
        escape(b, out);
        break;
    case State::csi:
        csi(b, out);
        break;
    case State::osc:
    case State::str:
        // ST is ESC '\', an escape sequence of its own that is dropped too.
        if (b == esc) state_ = State::esc;
        if (b == bel && state_ == State::osc) state_ = State::ground;
        // An opener never closed would take the whole rest of the text.
        if (b == '\n') {
            state_ = State::ground;
            put('\n', out);
        }
        break;
    }
}

void PagerFilter::ground(unsigned char b, std::string& out) {
    if (eight_bit_ && b >= 0x80 && b <= 0x9F) return;
    if (npend_ > 0 || b >= 0x80) {
        decode(b, out);
    } else if (b == esc) {
        state_ = State::esc;
    } else if (plain(b)) {
        put(static_cast<char>(b), out);
    }
}

void PagerFilter::escape(unsigned char b, std::string& out) {
    // A control (ESC among them) or a byte beyond ASCII breaks the sequence
    // off and counts as text again.
    if (b < 0x20 || b >= 0x7F) {
        state_ = State::ground;
        ground(b, out);
    } else if (b < 0x30) {
        state_ = State::esc_inter; // as in ESC ( B
    } else {
        // A final byte, unless right after ESC it opens a longer sequence.
        bool opens = state_ == State::esc;
        state_ = State::ground;
        if (opens && b == '[') {
            state_ = State::csi;
            sgr_ = true;
            params_.clear();
            return;
        }
        if (opens && b == ']') state_ = State::osc;
        if (opens && strchr("PX^_", b)) state_ = State::str;
    }
}

void PagerFilter::csi(unsigned char b, std::string& out) {
    if (b >= 0x40 && b < 0x7F) {
        if (sgr_ && b == 'm') {
            params_.insert(0, "\x1b[") += 'm';
            emit(params_.data(), params_.size(), out);
            coloured_ = true;
        }
        state_ = State::ground;
    } else if (b >= 0x20 && b < 0x40) {
        sgr_ = sgr_ && ((b >= '0' && b <= '9') || b == ';') && params_.size() < max_sgr;
        if (sgr_) params_ += static_cast<char>(b);
    } else {
        state_ = State::ground;
        ground(b, out);
    }
}

// One more byte of a character beyond ASCII, decoded afresh with those
// before it: the bytes of a character cut between two chunks wait here.
void PagerFilter::decode(unsigned char b, std::string& out) {
    pend_[npend_++] = static_cast<char>(b);
    wchar_t wc = 0;
    mbstate_t state{};
    size_t n = mbrtowc(&wc, pend_, npend_, &state);
    if (n == static_cast<size_t>(-2) && npend_ < sizeof pend_) return;
    if (decoded(n)) {
        if (shown(wc)) emit(pend_, npend_, out);
        npend_ = 0;
        return;
    }
    // Undecodable: the first byte goes out as it is and the bytes after it
    // are read again.
    char rest[sizeof pend_];
    size_t nrest = npend_ - 1;
    memcpy(rest, pend_ + 1, nrest);
    auto first = static_cast<unsigned char>(pend_[0]);
    npend_ = 0;
    put(static_cast<char>(first), out);
    for (size_t i = 0; i < nrest; i++)
        step(static_cast<unsigned char>(rest[i]), out);
}

// Whatever goes out goes through put() while the output's last bytes may
// still begin a character: the output is decoded as the terminal will.
void PagerFilter::emit(const char* bytes, size_t n, std::string& out) {
    for (; n > 0 && ntail_ > 0; n--)
        put(*bytes++, out);
    out.append(bytes, n);
}

// Dropping the bytes between two undecodable ones can join them into a
// character the text never held (C2, ESC [ 2 J, then 9B: a C1 CSI). So the
// bytes that may still begin a character are held, and a byte that would
// complete one the filter drops is dropped itself. Not those held: an
// earlier byte would begin a character again.
void PagerFilter::put(char c, std::string& out) {
    tail_[ntail_++] = c;
    while (ntail_ > 0) {
        wchar_t wc = 0;
        mbstate_t state{};
        size_t n = mbrtowc(&wc, tail_, ntail_, &state);
        if (n == static_cast<size_t>(-2) && ntail_ < sizeof tail_) return;
        if (!decoded(n)) {
            n = 1;
        } else if (wc >= 0x80 && !shown(wc)) {
            ntail_--;
            return;
        }
        out.append(tail_, n);
        ntail_ -= n;
        memmove(tail_, tail_ + n, ntail_);
    }
}
