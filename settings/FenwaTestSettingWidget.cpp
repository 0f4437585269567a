// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaTestSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QtDebug>
#include <algorithm>

FenwaTestSettingWidget::FenwaTestSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaSettingWidget(parent, sdk, model), accountLabel(new QLabel(translate("Account"), this)),
      passwordLabel(new QLabel(translate("Password"), this)), accountEdit(new QLineEdit(this)),
      passwordEdit(new QLineEdit(this)), showPassword(maskWithShowToggle(passwordEdit))
{
    setMinimumSize(560, 240);
    const QString texts[6] = {translate("Set"),     translate("Set All"),    translate("Restore"),
                              translate("Restore all"), translate("Reboot"), translate("Reboot all")};
    void (FenwaTestSettingWidget::*handlers[6])(bool) = {
        &FenwaTestSettingWidget::onClickLoginSetButton,   &FenwaTestSettingWidget::onClickLoginSetAllButton,
        &FenwaTestSettingWidget::onClickRestoreSetButton, &FenwaTestSettingWidget::onClickRestoreSetAllButton,
        &FenwaTestSettingWidget::onClickRebootSetButton,  &FenwaTestSettingWidget::onClickRebootSetAllButton};
    for (int i = 0; i < 6; ++i) {
        buttons[i] = new QPushButton(texts[i], this);
        connect(buttons[i], &QPushButton::clicked, this, handlers[i]);
    }
    showDevice(nullptr);
}

void FenwaTestSettingWidget::showDevice(FenwaDevice *device)
{
    FenwaSettingWidget::showDevice(device);
    accountEdit->setText(device ? device->account() : QString());
    passwordEdit->clear();
}

std::unique_ptr<FenwaSettingDialog> FenwaTestSettingWidget::makeLogin(QString *notice)
{
    FenwaTerminal::Account account;
    if (!FenwaTerminal::accountValue(accountEdit->text(), passwordEdit->text(), &account, notice))
        return nullptr;
    // The typed password stays out of every log; the digest is what travels.
    qDebug("%s, %s", qPrintable(account.account), qPrintable(account.digest));
    return std::make_unique<FenwaLoginSettingDialog>(window(), sdk, account);
}

void FenwaTestSettingWidget::onClickLoginSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &, QString *n) { return makeLogin(n); });
}

void FenwaTestSettingWidget::onClickLoginSetAllButton(bool)
{
    runSetAll([this](const QList<FenwaDevice *> &, QString *n) { return makeLogin(n); });
}

std::unique_ptr<FenwaSettingDialog> FenwaTestSettingWidget::makeRestore(const QList<FenwaDevice *> &devices,
                                                                        const QString &action)
{
    // A factory reset wipes accounts and settings, so even one terminal is
    // named and asked about first.
    const QString question = devices.size() == 1
        ? translate("Restore the factory settings of %1?").arg(FenwaTerminal::terminalLabel(devices.first()))
        : translate("Restore the factory settings of %1 terminals?").arg(devices.size());
    if (!confirm(question, action))
        return nullptr;
    return std::make_unique<FenwaRestoreSettingDialog>(window(), sdk);
}

void FenwaTestSettingWidget::onClickRestoreSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &d, QString *) { return makeRestore(d, translate("Restore")); });
}

void FenwaTestSettingWidget::onClickRestoreSetAllButton(bool)
{
    runSetAll([this](const QList<FenwaDevice *> &d, QString *) { return makeRestore(d, translate("Restore all")); });
}

void FenwaTestSettingWidget::onClickRebootSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &, QString *) {
        return std::make_unique<FenwaRebootSettingDialog>(window(), sdk);
    });
}

void FenwaTestSettingWidget::onClickRebootSetAllButton(bool)
{
    runSetAll([this](const QList<FenwaDevice *> &d, QString *) -> std::unique_ptr<FenwaSettingDialog> {
        if (d.size() > 1 && !confirm(translate("Reboot %1 terminals?").arg(d.size()), translate("Reboot all")))
            return nullptr;
        return std::make_unique<FenwaRebootSettingDialog>(window(), sdk);
    });
}

void FenwaTestSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaSettingWidget::resizeEvent(event);
    const int w0 = accountLabel->sizeHint().width(), w1 = passwordLabel->sizeHint().width();
    const int lw = std::max(w0, w1) > 0 ? std::max(w0, w1) : 60;
    accountLabel->setGeometry(10, 40, lw, 20);
    accountEdit->setGeometry(10 + lw + 10, 40, 150, 20);
    passwordLabel->setGeometry(10, 80, lw, 20);
    passwordEdit->setGeometry(10 + lw + 10, 80, 150, 20);
    showPassword->setGeometry(10 + lw + 170, 80, 100, 20);
    for (int i = 0; i < 6; ++i)
        buttons[i]->setGeometry(i % 2 ? 390 : 90, 120 + 40 * (i / 2), 120, 30);
}

FenwaLoginSettingDialog::FenwaLoginSettingDialog(QWidget *parent, FenwaSDK *sdk,
                                                 const FenwaTerminal::Account &account)
    : FenwaSettingDialog(parent, sdk, translate("Setting the account")), account(account)
{
}

int FenwaLoginSettingDialog::sendTo(int i, QString *)
{
    return sdk->setAccountPassword(devices().at(i), account.account, account.digest);
}

void FenwaLoginSettingDialog::acceptedBy(int i)
{
    FenwaTerminal::accountAccepted(devices().at(i), account);
}

FenwaRestoreSettingDialog::FenwaRestoreSettingDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaSettingDialog(parent, sdk, translate("Restoring factory settings"))
{
}

int FenwaRestoreSettingDialog::sendTo(int i, QString *)
{
    return sdk->resetDefault(devices().at(i));
}

FenwaRebootSettingDialog::FenwaRebootSettingDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaSettingDialog(parent, sdk, translate("Rebooting"))
{
}

int FenwaRebootSettingDialog::sendTo(int i, QString *)
{
    return sdk->reboot(devices().at(i));
}
