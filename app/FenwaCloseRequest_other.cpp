// SPDX-License-Identifier: GPL-3.0-or-later
// Built where the X11 protocol library is missing: the request stays dropped.
#include "FenwaCloseRequest.h"

void watchBlockedCloseRequests(QWidget *, std::function<void()>) {}
