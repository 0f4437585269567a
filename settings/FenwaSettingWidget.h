// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbWidget.h"

#include <QList>
#include <functional>
#include <memory>

class FenwaDevice;
class FenwaDeviceModel;
class FenwaSDK;
class FenwaSettingDialog;
class OrbToast;
class QCheckBox;
class QLabel;
class QLineEdit;

// The base of every settings page in the main window's panel. A page adds
// its fields and, per button, a factory that checks them and builds the
// batch dialog with one value per terminal; "Set" (the current terminal)
// and "Set All" (the ticked rows the table's filter shows, or every row it
// shows when none of them is ticked), the batch itself and what follows it
// exist here and in FenwaSettingDialog once. The page's last line says
// what "Set All" would reach.
//
// Each page places its controls at fixed points and says, as its minimum
// size, how far they reach: the main window's panel scrolls to them when the
// window is small.
//
// Threads: interface thread only. The page holds a reference to its current
// terminal, so a search that empties the table cannot leave it dangling.
class FenwaSettingWidget : public OrbWidget
{
    Q_OBJECT
public:
    // parent: the main window, which owns the page for its whole life.
    FenwaSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);
    ~FenwaSettingWidget() override;

    void setDevice(FenwaDevice *device);
    FenwaDevice *currentDevice() const { return current; }
    // The ticked rows shown, in table order, or every row shown when none
    // of them is ticked.
    QList<FenwaDevice *> targetDevices() const;
    // What "Set All" would reach, as the page says it.
    QString targetText() const;
    // A notice on the page for 2000 ms.
    void showToast(const QString &text);
    // Whether ticking a row makes it the page's current terminal. Pages that
    // show what they read from a terminal say no: ticking chooses where
    // those values go, and must not replace them.
    virtual bool followsTicks() const { return true; }

public slots:
    // Fills the fields from device (or empties them). The base shows which
    // terminal is current; pages add their fields.
    virtual void showDevice(FenwaDevice *device);

protected:
    // Builds the batch for devices, or returns nullptr: with *notice set when
    // a check failed (the page shows it), empty when the operator declined.
    using BatchFactory = std::function<std::unique_ptr<FenwaSettingDialog>(const QList<FenwaDevice *> &devices,
                                                                           QString *notice)>;
    // Both return how many terminals accepted, or -1 when no batch ran.
    int runSet(const BatchFactory &make);
    int runSetAll(const BatchFactory &make);
    // Asks before a batch that resets or reboots several terminals.
    bool confirm(const QString &question, const QString &action);
    // The current terminal may hold other values than the page shows (a
    // batch wrote to it): the base shows it again from its record; pages
    // whose fields were read from the terminal read it again.
    virtual void followTerminal();
    // Hides what edit holds behind dots and adds a "Show" box (the page
    // places it) that shows it while ticked.
    QCheckBox *maskWithShowToggle(QLineEdit *edit);

    void resizeEvent(QResizeEvent *event) override;

    FenwaSDK *sdk;
    FenwaDeviceModel *model;
    QLabel *currentLabel;

private:
    void showTargets();
    void onTerminalsChanged(const QList<FenwaDevice *> &devices);

    int runBatch(const QList<FenwaDevice *> &devices, const BatchFactory &make, bool setAll);

    FenwaDevice *current = nullptr;
    QString currentText; // the current-terminal line, before eliding
    OrbToast *toast = nullptr;
    QLabel *targetLabel;
};
