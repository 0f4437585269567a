// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSipSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>

namespace {
// The fields of an account, in the order of their rows.
QString SipSettings::*const kFields[5] = {&SipSettings::account, &SipSettings::password, &SipSettings::displayName,
                                          &SipSettings::serverHost, &SipSettings::serverPort};
} // namespace

FenwaSipSettingWidget::FenwaSipSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaReadSettingWidget(parent, sdk, model)
{
    setMinimumSize(920, 270);
    const QString names[5] = {translate("User Name"), translate("Password"), translate("Display Name"),
                              translate("Server Host"), translate("Server Port")};
    for (int a = 0; a < 2; ++a) {
        titles[a] = new QLabel(QStringLiteral("%1 %2").arg(translate("Sip Account")).arg(a + 1), this);
        for (int f = 0; f < 5; ++f) {
            labels[5 * a + f] = new QLabel(names[f], this);
            addField();
        }
        showPasswords[a] = maskWithShowToggle(fields().at(5 * a + 1));
    }
    FenwaReadSettingWidget::showDevice(nullptr);
}

SipSettings FenwaSipSettingWidget::account(int a) const
{
    SipSettings sip;
    for (int f = 0; f < 5; ++f)
        sip.*kFields[f] = fields().at(5 * a + f)->text();
    return sip;
}

void FenwaSipSettingWidget::showAccount(int a, const SipSettings &sip)
{
    for (int f = 0; f < 5; ++f)
        fields().at(5 * a + f)->setText(sip.*kFields[f]);
}

std::unique_ptr<FenwaSettingDialog> FenwaSipSettingWidget::makeRead()
{
    return std::make_unique<FenwaSipSettingReadDialog>(window(), sdk);
}

void FenwaSipSettingWidget::takeRead(FenwaSettingDialog *read)
{
    auto *r = static_cast<FenwaSipSettingReadDialog *>(read);
    showAccount(0, r->sip[0]);
    showAccount(1, r->sip[1]);
}

QString FenwaSipSettingWidget::setAllQuestion(const QString &from, int count) const
{
    return from.isEmpty() ? translate("Write the SIP accounts shown on this page to %1 terminal?",
                                      "Write the SIP accounts shown on this page to %1 terminals?", count)
                                .arg(count)
                          : translate("Write the SIP accounts read from %1 to %2 terminal?",
                                      "Write the SIP accounts read from %1 to %2 terminals?", count)
                                .arg(from)
                                .arg(count);
}

std::unique_ptr<FenwaSettingDialog> FenwaSipSettingWidget::makeWrite(QString *notice)
{
    const SipSettings first = account(0), second = account(1);
    if (!FenwaTerminal::sipValue(first, second, notice))
        return nullptr;
    return std::make_unique<FenwaSipSettingDialog>(window(), sdk, first, second);
}

void FenwaSipSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaReadSettingWidget::resizeEvent(event);
    for (int a = 0; a < 2; ++a) {
        const int x = a ? 460 : 10;
        titles[a]->setGeometry(x, 40, 200, 20);
        for (int f = 0; f < 5; ++f) {
            labels[5 * a + f]->setGeometry(x, 70 + 30 * f, 120, 20);
            fields().at(5 * a + f)->setGeometry(x + 130, 70 + 30 * f, 220, 20);
        }
        showPasswords[a]->setGeometry(x + 360, 100, 90, 20);
    }
    placeButtons(230);
}

FenwaSipSettingReadDialog::FenwaSipSettingReadDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaSettingDialog(parent, sdk, translate("Reading SIP accounts"))
{
}

FenwaRequest FenwaSipSettingReadDialog::requestFor(int)
{
    return FenwaRequest::getSipSettings();
}

void FenwaSipSettingReadDialog::replied(int, int, const FenwaReply &reply)
{
    FenwaRequest::readSip(reply, &sip[0], &sip[1]);
}

FenwaSipSettingDialog::FenwaSipSettingDialog(QWidget *parent, FenwaSDK *sdk, const SipSettings &first,
                                             const SipSettings &second)
    : FenwaSettingDialog(parent, sdk, translate("Setting SIP accounts")), sip0(first), sip1(second)
{
}

FenwaRequest FenwaSipSettingDialog::requestFor(int)
{
    return FenwaRequest::setSipSettings(sip0, sip1);
}

void FenwaSipSettingDialog::acceptedBy(int i)
{
    FenwaTerminal::sipAccepted(devices().at(i), sip0, sip1);
}
