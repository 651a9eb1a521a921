// What tolm's batch listing of a menu must be, computed independently of
// the program from the menu bytes a server sends.
#pragma once

#include <string>

namespace tolmtest {

// The four-character label of an item type.
inline std::string expected_tag(unsigned char type) {
    switch (type) {
    case '0':
        return "Txt+";
    case '1':
        return "Dir+";
    case '2':
        return "CSO|";
    case '3':
        return "Err|";
    case '4':
        return "Mac+";
    case '5':
        return "DOS+";
    case '6':
        return "UUE+";
    case '7':
        return "Ind+";
    case '8':
        return "Tln|";
    case '9':
        return "Bin+";
    case '+':
        return "Mir+";
    case 'I':
        return "Img+";
    case 'T':
        return "IBM|";
    case 'g':
        return "GIF+";
    case 'h':
        return "URL+";
    case 'i':
        return "   |";
    }
    return (type >= '0' && type <= 'Z') ? "!  |" : " ? +";
}

// How the page draws an item on a menu row.
inline std::string row_of(char type, const std::string& display) {
    return expected_tag(static_cast<unsigned char>(type)) + " " + display;
}

// The listing of a menu response: the text up to the end-of-response line
// when it ends with one, or up to the first NUL; one line per complete
// line: the tag and the display text, or " ? +" and the whole line (CR
// included) when the line has fewer than three TABs.
inline std::string expected_listing(std::string menu) {
    menu = menu.substr(0, menu.find('\0'));
    if (menu == ".\r\n") return {};
    if (menu.size() >= 5 && menu.compare(menu.size() - 5, 5, "\r\n.\r\n") == 0)
        menu.resize(menu.size() - 3);
    std::string out;
    size_t start = 0;
    for (size_t nl; (nl = menu.find('\n', start)) != std::string::npos; start = nl + 1) {
        std::string line = menu.substr(start, nl - start);
        size_t tabs = 0;
        for (char c : line)
            tabs += c == '\t';
        if (tabs < 3) {
            out += " ? +" + line + "\n";
        } else {
            std::string display = line.substr(1, line.find('\t', 1) - 1);
            out += expected_tag(static_cast<unsigned char>(line[0])) + display + "\n";
        }
    }
    return out;
}

} // namespace tolmtest
