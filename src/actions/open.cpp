#include "actions/open.h"

#include "actions/save.h"
#include "driver/process/alloc.h"
#include "driver/process/state.h"
#include "items/item.h"
#include "items/menu.h"
#include "transport/transport.h"

int open_item(Item* opener, Item* item) {
    if (item->raw) return item->type;
    if (!item->parent) item->parent = opener ? opener : item;

    // An action of its own (saving, plumbing) leaves no response: 0.
    auto type = static_cast<unsigned char>(effective_type(*item));
    switch (type) {
    case 'h':
        if (link_url(item->selector)) {
            link_item(item);
            break;
        }
        [[fallthrough]];
    case '0':
        return receive_response(item) ? item->type : 0;
    case '1':
    case '7': {
        MenuArriving menu(sizeof(Item));
        if (!receive_response(item)) return 0;
        return parse_menu(item) ? item->type : 0;
    }
    case '8':
    case 'T':
        remote_login_item(item);
        break;
    case 'i':
        break;
    case '4':
    case '5':
    case '6':
    case '9':
        save_item(item);
        break;
    default:
        if (type == 'I' || type == 'g' || type < '0' || type > 'Z')
            save_and_plumb_item(item);
        else
            show_status("Type %c (%s) not supported", type, type_tag(type));
    }
    return 0;
}
