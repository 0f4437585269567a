// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <functional>

class QWidget;

// The window system's close button on a window that a modal dialog blocks:
// Qt drops that request, so an operator who wants to leave in the middle of
// a batch would be ignored without a word. This hands it to the window
// instead: onRequest runs (queued, on the interface thread) when the close
// button of window is pressed while a modal dialog blocks it. Where the
// platform does not tell (offscreen, or a window system this does not know),
// nothing happens and the request stays dropped.
//
// Threads: interface thread only; the watch ends with window.
void watchBlockedCloseRequests(QWidget *window, std::function<void()> onRequest);
