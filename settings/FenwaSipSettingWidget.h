// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The page of the "Sip Settings" column: a terminal's two SIP accounts,
// read when the terminal is shown and written to it ("Set") or to the
// target terminals ("Set All").
#include "FenwaReadSettingWidget.h"
#include "link/FenwaDevice.h"

class QCheckBox;
class QLabel;

class FenwaSipSettingWidget : public FenwaReadSettingWidget
{
    Q_OBJECT
public:
    FenwaSipSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

protected:
    std::unique_ptr<FenwaSettingDialog> makeRead() override;
    void takeRead(FenwaSettingDialog *read) override;
    std::unique_ptr<FenwaSettingDialog> makeWrite(QString *notice) override;
    QString setAllQuestion(const QString &from, int count) const override;
    void resizeEvent(QResizeEvent *event) override;

private:
    // The five fields of account a (0 or 1) as a record, and back.
    SipSettings account(int a) const;
    void showAccount(int a, const SipSettings &sip);

    QLabel *titles[2];
    QLabel *labels[10];
    QCheckBox *showPasswords[2];
};

// GetSipSettings of one terminal, into the dialog's two records.
class FenwaSipSettingReadDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaSipSettingReadDialog(QWidget *parent, FenwaSDK *sdk);
    SipSettings sip[2];

protected:
    FenwaRequest requestFor(int i) override;
    void replied(int i, int step, const FenwaReply &reply) override;
};

// SetSipSettings with both accounts; an accepted write shows in the
// table's "Sip Settings" column.
class FenwaSipSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaSipSettingDialog(QWidget *parent, FenwaSDK *sdk, const SipSettings &first, const SipSettings &second);

protected:
    FenwaRequest requestFor(int i) override;
    void acceptedBy(int i) override;

private:
    const SipSettings sip0, sip1;
};
