#include "actions/open.h"

#include <cstring>

#include "actions/save.h"
#include "driver/state.h"
#include "items/item.h"
#include "items/menu.h"
#include "transport/transport.h"

int open_item(Item* opener, Item* item) {
    if (item->raw) return item->type;
    if (!item->parent) item->parent = opener ? opener : item;

    auto type = static_cast<unsigned char>(effective_type(*item));
    switch (type) {
    case 'h':
        if (item->selector && strncmp(item->selector, "URL:", 4) == 0) return link_item(item);
        [[fallthrough]];
    case '0':
        return receive_response(item) ? item->type : 0;
    case '1':
    case '7':
        if (!receive_response(item)) return 0;
        return parse_menu(item) ? item->type : 0;
    case '8':
    case 'T':
        return remote_login_item(item);
    case 'i':
        return 0;
    case '4':
    case '5':
    case '6':
    case '9':
        return save_item(item);
    }
    if (type == 'I' || type == 'g' || type < '0' || type > 'Z') return save_and_plumb_item(item);
    show_status("Type %c (%s) not supported", type, type_tag(type));
    return 0;
}
