// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The page of the "Version" column: a firmware file pushed to the current
// terminal ("Set") or to the target terminals ("Set All") through their web
// side, several terminals at once.
#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"
#include "link/FenwaFirmware.h"

#include <QElapsedTimer>

class QLineEdit;
class QPushButton;
class QSpinBox;

class FenwaVersionSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    FenwaVersionSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

    void showDevice(FenwaDevice *device) override;
    QLineEdit *pathEdit() const { return path; }
    QSpinBox *parallelBox() const { return parallel; }

public slots:
    void onClickFirmwareButton(bool checked);
    void onClickSetButton(bool checked);
    void onClickSetAllButton(bool checked);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<FenwaSettingDialog> makeBatch(QString *notice);
    // After terminals took a new firmware: they restart, and only a new
    // search shows what they report.

    QLabel *prompt;
    QLineEdit *path;
    QPushButton *selectButton;
    QLabel *parallelLabel;
    QSpinBox *parallel;
    QPushButton *setButton;
    QPushButton *setAllButton;
};

// Per terminal: log in to its web side, upload the file; several terminals
// at once, each with a session of its own (FenwaFirmware::upgradeAll). The
// dialog names every terminal under way with the bytes it has been sent;
// closing it aborts every upload under way, and a terminal whose upload was
// cut short is "unknown: may have changed".
class FenwaVersionSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaVersionSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &path, int parallel);

protected:
    FenwaRequest requestFor(int i) override;
    void runJobs() override;
    // The terminals that took the file (or may have) restart with it.
    bool restartsTerminals(FenwaReturnWait::Kind *kind) const override
    {
        *kind = FenwaReturnWait::Firmware;
        return true;
    }
    bool restarted(int i) const override { return results().at(i).accepted || results().at(i).unknown; }

private:
    const QString path;
    const int parallel;
};
