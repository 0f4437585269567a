// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbToast.h"

#include <QLabel>
#include <QTimer>

OrbToastView::OrbToastView(QWidget *parent, int spacingX, int spacingY)
    : OrbWidget(parent), label(new QLabel(this)), spacingX(spacingX), spacingY(spacingY)
{
}

void OrbToastView::setText(const QString &text, unsigned textRgb)
{
    label->setStyleSheet(QStringLiteral("QLabel{color:#%1};").arg(textRgb, 0, 16));
    label->setText(text);
    label->adjustSize();
    label->move(spacingX, spacingY);
    resize(label->width() + 2 * spacingX, label->height() + 2 * spacingY);
}

QString OrbToastView::text() const
{
    return label->text();
}

OrbToast::OrbToast(QObject *parent) : QObject(parent) {}

OrbToast::~OrbToast()
{
    hideToast();
}

void OrbToast::showText(QWidget *widget, const QString &text, int position, int durationMs)
{
    hideToast();
    if (widget == nullptr)
        return;
    auto *view = new OrbToastView(widget, spacingX, spacingY);
    view->setBackgroundColor(0x000000, 32);
    view->setBorder(1, 5, 0x000000, 0);
    view->setBackgroundColor(background);
    view->setText(text, textRgb);

    const int w = widget->width(), h = widget->height();
    const int vw = view->width(), vh = view->height();
    int x = (w - vw) / 2;
    if (position & Left)
        x = marginX;
    else if (position & Right)
        x = w - marginX - vw;
    int y = h - marginY - vh;
    if (position & Top)
        y = marginY;
    else if (position & VCenter)
        y = (h - vh) / 2;
    view->move(x, y);
    view->show();
    view->raise();
    current = view;

    timer = new QTimer(this);
    timer->setSingleShot(true);
    connect(timer, &QTimer::timeout, this, &OrbToast::_invokeTimer, Qt::QueuedConnection);
    timer->start(durationMs);
}

void OrbToast::hideToast()
{
    if (timer) {
        timer->stop();
        timer->deleteLater();
        timer = nullptr;
    }
    // The widget may have gone first and taken the view with it.
    if (OrbToastView *view = current.data()) {
        view->setGeometry(0, 0, 0, 0);
        view->hide();
        delete view;
    }
    current.clear();
}

void OrbToast::_invokeTimer()
{
    // A queued timeout from a timer that a newer notice already replaced
    // must not take the newer notice down.
    if (sender() != timer)
        return;
    hideToast();
}
