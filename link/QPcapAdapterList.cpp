// SPDX-License-Identifier: GPL-3.0-or-later
#include "QPcapAdapterList.h"

#include <cstdio>
#include <cstring>

const QPcapAdapter *QPcapAdapterList::at(int index) const
{
    if (index < 0 || index >= count())
        return nullptr;
    return &items[static_cast<size_t>(index)];
}

const QPcapAdapter *findAdapter(const QPcapAdapterList *list, const char *remembered)
{
    if (list == nullptr || list->count() == 0)
        return nullptr;
    if (remembered && remembered[0]) {
        for (int i = 0; i < list->count(); ++i)
            if (std::strcmp(list->at(i)->name, remembered) == 0)
                return list->at(i);
    }
    for (int i = 0; i < list->count(); ++i) {
        const uint8_t *a = list->at(i)->address;
        if (a[0] == 192 && a[1] == 168 && a[2] <= 30)
            return list->at(i);
    }
    for (int i = 0; i < list->count(); ++i) {
        const uint8_t *a = list->at(i)->address;
        if (a[0] == 192 && a[1] == 168)
            return list->at(i);
    }
    return list->at(0);
}

void formatIpv4(const uint8_t *address, char out[16])
{
    std::snprintf(out, 16, "%d.%d.%d.%d", address[0], address[1], address[2], address[3]);
}
