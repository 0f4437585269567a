// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The page of the "System" column: the terminal's web account (the password
// goes out only as its MD5 digest), factory reset and reboot.
#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"
#include "link/FenwaTerminal.h"

class QLineEdit;
class QPushButton;

class FenwaTestSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    FenwaTestSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

    void showDevice(FenwaDevice *device) override;

public slots:
    void onClickLoginSetButton(bool checked);
    void onClickLoginSetAllButton(bool checked);
    void onClickRestoreSetButton(bool checked);
    void onClickRestoreSetAllButton(bool checked);
    void onClickRebootSetButton(bool checked);
    void onClickRebootSetAllButton(bool checked);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<FenwaSettingDialog> makeLogin(QString *notice);
    std::unique_ptr<FenwaSettingDialog> makeRestore(const QList<FenwaDevice *> &devices, const QString &action);

    QLabel *accountLabel;
    QLabel *passwordLabel;
    QLineEdit *accountEdit;
    QLineEdit *passwordEdit;
    QCheckBox *showPassword;
    QPushButton *buttons[6];
};

// SetAccountPassword per terminal with the account and the digest.
class FenwaLoginSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaLoginSettingDialog(QWidget *parent, FenwaSDK *sdk, const FenwaTerminal::Account &account);

protected:
    FenwaRequest requestFor(int i) override;
    void acceptedBy(int i) override;

private:
    const FenwaTerminal::Account account;
};

// ResetDefault per terminal.
class FenwaRestoreSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaRestoreSettingDialog(QWidget *parent, FenwaSDK *sdk);

protected:
    FenwaRequest requestFor(int i) override;
    bool restartsTerminals(FenwaReturnWait::Kind *kind) const override
    {
        *kind = FenwaReturnWait::Restart;
        return true;
    }
};

// reboot per terminal.
class FenwaRebootSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaRebootSettingDialog(QWidget *parent, FenwaSDK *sdk);

protected:
    FenwaRequest requestFor(int i) override;
    bool restartsTerminals(FenwaReturnWait::Kind *kind) const override
    {
        *kind = FenwaReturnWait::Restart;
        return true;
    }
};
