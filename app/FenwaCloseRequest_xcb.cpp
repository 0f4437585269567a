// SPDX-License-Identifier: GPL-3.0-or-later
// X11: the close button makes the window manager send WM_DELETE_WINDOW in a
// WM_PROTOCOLS client message to the window, which reaches Qt's native event
// filters before Qt drops it for a blocked window.
#include "FenwaCloseRequest.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QPointer>
#include <QWidget>
#include <QWindow>
#include <cstdlib>
#include <cstring>
#include <xcb/xcb.h>

namespace {

// Atoms are the server's: any connection to it may ask for them.
xcb_atom_t atomNamed(xcb_connection_t *c, const char *name)
{
    const xcb_intern_atom_cookie_t cookie = xcb_intern_atom(c, 0, uint16_t(std::strlen(name)), name);
    xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(c, cookie, nullptr);
    const xcb_atom_t atom = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
    free(reply);
    return atom;
}

class CloseRequestFilter : public QObject, public QAbstractNativeEventFilter
{
public:
    CloseRequestFilter(QWidget *window, std::function<void()> onRequest, xcb_atom_t protocols, xcb_atom_t deleteWindow)
        : QObject(window), window(window), onRequest(std::move(onRequest)), protocols(protocols),
          deleteWindow(deleteWindow)
    {
        QCoreApplication::instance()->installNativeEventFilter(this);
    }
    ~CloseRequestFilter() override { QCoreApplication::instance()->removeNativeEventFilter(this); }

    bool nativeEventFilter(const QByteArray &type, void *message, long *) override
    {
        if (type != "xcb_generic_event_t" || window.isNull())
            return false;
        const auto *event = static_cast<const xcb_generic_event_t *>(message);
        if ((event->response_type & 0x7f) != XCB_CLIENT_MESSAGE)
            return false;
        const auto *m = static_cast<const xcb_client_message_event_t *>(message);
        QWindow *modal = QGuiApplication::modalWindow();
        if (m->format != 32 || m->type != protocols || m->data.data32[0] != deleteWindow ||
            m->window != xcb_window_t(window->winId()) || modal == nullptr || modal == window->windowHandle())
            return false;
        // Qt drops it after this filter: what the operator meant is handled
        // once the event is over.
        QMetaObject::invokeMethod(window, onRequest, Qt::QueuedConnection);
        return false;
    }

private:
    QPointer<QWidget> window;
    std::function<void()> onRequest;
    const xcb_atom_t protocols;
    const xcb_atom_t deleteWindow;
};

} // namespace

void watchBlockedCloseRequests(QWidget *window, std::function<void()> onRequest)
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    xcb_connection_t *c = xcb_connect(nullptr, nullptr);
    if (xcb_connection_has_error(c) == 0) {
        const xcb_atom_t protocols = atomNamed(c, "WM_PROTOCOLS");
        const xcb_atom_t deleteWindow = atomNamed(c, "WM_DELETE_WINDOW");
        if (protocols != XCB_ATOM_NONE && deleteWindow != XCB_ATOM_NONE)
            new CloseRequestFilter(window, std::move(onRequest), protocols, deleteWindow);
    }
    xcb_disconnect(c);
}
