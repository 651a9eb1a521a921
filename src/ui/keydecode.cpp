#include "ui/keydecode.h"

namespace {

constexpr unsigned char esc = 27;

Command plain_key(unsigned char c) {
    switch (c) {
    case 4:
    case 'q':
        return Command::quit;
    case '\n':
    case 'l':
        return Command::open;
    case 'h':
        return Command::back;
    case '?':
        return Command::help;
    case 'j':
        return Command::down;
    case 'k':
        return Command::up;
    case ' ':
        return Command::page_down;
    case 'b':
        return Command::page_up;
    case 'g':
        return Command::home;
    case 'G':
        return Command::end;
    case 'J':
        return Command::next_link;
    case 'K':
        return Command::prev_link;
    case '/':
        return Command::search;
    case 'n':
        return Command::search_next;
    case 'N':
        return Command::search_prev;
    case 'U':
        return Command::page_uri;
    case 'u':
        return Command::item_uri;
    case 'Y':
        return Command::yank_page;
    case 'y':
        return Command::yank_item;
    }
    return Command::none;
}

Command tilde_key(unsigned char digit) {
    switch (digit) {
    case '1':
    case '7':
        return Command::home;
    case '4':
    case '8':
        return Command::end;
    case '5':
        return Command::page_up;
    case '6':
        return Command::page_down;
    }
    return Command::none;
}

} // namespace

Command KeyDecoder::feed(unsigned char c) {
    int state = state_;
    state_ = 0;
    switch (state) {
    case 0:
        if (c == esc) {
            state_ = 1;
            return Command::none;
        }
        return plain_key(c);
    case 1:
        if (c == esc) return Command::quit;
        if (c == '[' || c == 'O') state_ = 2;
        return Command::none;
    case 2:
        switch (c) {
        case 'A':
            return Command::up;
        case 'B':
            return Command::down;
        case 'C':
            return Command::open;
        case 'D':
            return Command::back;
        case 'H':
            return Command::home;
        case esc:
            return Command::quit;
        case '1':
        case '4':
        case '5':
        case '6':
        case '7':
        case '8':
            digit_ = c;
            state_ = 3;
            return Command::none;
        }
        return Command::none;
    default:
        return c == '~' ? tilde_key(digit_) : Command::none;
    }
}
