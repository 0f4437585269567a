// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

// Shows path selected in the desktop's file manager; where none answers on
// the session bus, opens the folder that holds it. Returns at once.
void showInFileManager(const QString &path);
