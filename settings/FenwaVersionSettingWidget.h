// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The page of the "Version" column: a firmware file pushed to the current
// terminal ("Set") or to the target terminals ("Set All") through their web
// side, one terminal after the other.
#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"
#include "link/FenwaFirmware.h"

#include <QElapsedTimer>

class QLineEdit;
class QPushButton;

class FenwaVersionSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    FenwaVersionSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

    void showDevice(FenwaDevice *device) override;
    QLineEdit *pathEdit() const { return path; }

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
    void offerSearch(int uploaded, int count);

    QLabel *prompt;
    QLineEdit *path;
    QPushButton *selectButton;
    QPushButton *setButton;
    QPushButton *setAllButton;
};

// Per terminal: log in to its web side, upload the file. The bar follows the
// bytes sent within the batch's "i of N"; closing the dialog aborts the
// request under way.
class FenwaVersionSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaVersionSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &path);

protected:
    int sendTo(int i, QString *detail) override;

private:
    const QString path;
    QElapsedTimer sinceReport; // job thread only
};
