// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaResources.h"

#include <QtGlobal>

static void registerImages()
{
    Q_INIT_RESOURCE(fenwa);
}

void initFenwaResources()
{
    static const bool done = (registerImages(), true);
    (void)done;
}
