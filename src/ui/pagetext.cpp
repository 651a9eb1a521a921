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

PagerFilter::PagerFilter() : single_byte_(MB_CUR_MAX == 1) {}

void PagerFilter::feed(const char* data, size_t len, std::string& out) {
    const char* end = data + len;
    for (const char* p = data; p < end;) {
        if (state_ != State::ground || npend_ > 0) {
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
                if (shown(wc))
                    emit(p, n, out);
                else
                    drop();
                p += n;
                continue;
            }
        }
        step(static_cast<unsigned char>(*p++), out);
    }
}

void PagerFilter::finish(std::string& out) {
    out.append(tail_, ntail_).append(pend_, npend_);
    ntail_ = npend_ = 0;
    state_ = State::ground;
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
        if (b == bel) state_ = State::ground;
        if (b == esc) state_ = State::esc;
        break;
    case State::str:
        // ST is ESC '\', an escape sequence of its own that is dropped too.
        if (b == esc) state_ = State::esc;
        break;
    }
}

void PagerFilter::ground(unsigned char b, std::string& out) {
    if (npend_ > 0 || b >= 0x80) {
        decode(b, out);
    } else if (b == esc) {
        state_ = State::esc;
    } else if (plain(b)) {
        emit(reinterpret_cast<const char*>(&b), 1, out);
    } else {
        drop();
    }
}

void PagerFilter::escape(unsigned char b, std::string& out) {
    // A control (ESC among them) or a byte beyond ASCII breaks the sequence
    // off and counts as text again.
    if (b < 0x20 || b >= 0x7F) {
        drop();
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
        drop();
        if (opens && b == ']') state_ = State::osc;
        if (opens && strchr("PX^_", b)) state_ = State::str;
    }
}

void PagerFilter::csi(unsigned char b, std::string& out) {
    if (b >= 0x40 && b < 0x7F) {
        if (sgr_ && b == 'm') {
            params_.insert(0, "\x1b[") += 'm';
            emit(params_.data(), params_.size(), out);
        }
        drop();
        state_ = State::ground;
    } else if (b >= 0x20 && b < 0x40) {
        sgr_ = sgr_ && ((b >= '0' && b <= '9') || b == ';') && params_.size() < max_sgr;
        if (sgr_) params_ += static_cast<char>(b);
    } else {
        drop();
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
        if (shown(wc))
            emit(pend_, npend_, out);
        else
            drop();
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
    if (single_byte_ && first >= 0x80 && first <= 0x9F)
        drop();
    else
        emit_raw(static_cast<char>(first), out);
    for (size_t i = 0; i < nrest; i++)
        step(static_cast<unsigned char>(rest[i]), out);
}

void PagerFilter::emit(const char* bytes, size_t n, std::string& out) {
    if (n == 0) return;
    out.append(tail_, ntail_).append(bytes, n);
    ntail_ = 0;
}

// Undecodable bytes that could still begin a character are held: were the
// next thing dropped, the bytes on either side of the gap could join into a
// character the filter never saw (C2 and 9B into CSI). drop() drops them.
void PagerFilter::emit_raw(char c, std::string& out) {
    tail_[ntail_++] = c;
    while (ntail_ > 0) {
        mbstate_t state{};
        size_t n = mbrtowc(nullptr, tail_, ntail_, &state);
        if (n == static_cast<size_t>(-2) && ntail_ < sizeof tail_) return;
        out += tail_[0];
        memmove(tail_, tail_ + 1, --ntail_);
    }
}
