// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbWidget.h"

#include <QObject>
#include <QPointer>

class QLabel;
class QTimer;

// The painted box a toast shows: a label inside a rounded rectangle.
class OrbToastView : public OrbWidget
{
    Q_OBJECT
public:
    OrbToastView(QWidget *parent, int spacingX, int spacingY);
    void setText(const QString &text, unsigned textRgb);
    QString text() const;

private:
    QLabel *label;
    int spacingX;
    int spacingY;
};

// A short notice drawn over a widget, for input checks that fail. One toast
// shows one notice at a time: a new one replaces the old at once.
class OrbToast : public QObject
{
    Q_OBJECT
public:
    // Position flags of showText, combined with |. Without a horizontal flag
    // the notice is centred horizontally; without a vertical one it sits at
    // the bottom.
    enum Position { Top = 1, VCenter = 4, Left = 8, Right = 16, HCenter = 32 };

    explicit OrbToast(QObject *parent = nullptr);
    ~OrbToast() override;

    void showText(QWidget *widget, const QString &text, int position, int durationMs);
    void hideToast();

    // The notice on screen, or nullptr.
    OrbToastView *view() const { return current.data(); }

private slots:
    void _invokeTimer();

private:
    QPointer<OrbToastView> current;
    QTimer *timer = nullptr;
    const int marginX = 10;
    const int marginY = 10;
    const int spacingX = 10;
    const int spacingY = 5;
    const QColor background{0, 0, 0, 128};
    const unsigned textRgb = 0xffffff;
};
