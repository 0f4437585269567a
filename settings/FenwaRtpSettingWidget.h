// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The page of the "Rtp Settings" column: a terminal's ten RTP channels, each
// shown and typed as "address:port", read when the terminal is shown and
// written to it ("Set") or to the target terminals ("Set All").
#include "FenwaReadSettingWidget.h"
#include "link/FenwaDevice.h"

class QLabel;

class FenwaRtpSettingWidget : public FenwaReadSettingWidget
{
    Q_OBJECT
public:
    FenwaRtpSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

protected:
    std::unique_ptr<FenwaSettingDialog> makeRead() override;
    void takeRead(FenwaSettingDialog *read) override;
    std::unique_ptr<FenwaSettingDialog> makeWrite(QString *notice) override;
    QString setAllQuestion(const QString &from, int count) const override;
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *numbers[FENWA_RTP_CHANNELS];
};

// GetRtpSettings of one terminal, into the dialog's ten channels.
class FenwaRtpSettingReadDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaRtpSettingReadDialog(QWidget *parent, FenwaSDK *sdk);
    RtpSettings channels[FENWA_RTP_CHANNELS];

protected:
    FenwaRequest requestFor(int i) override;
    void replied(int i, int step, const FenwaReply &reply) override;
};

// SetRtpSettings with the channels; an accepted write shows in the table's
// "Rtp Settings" column.
class FenwaRtpSettingWriteDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaRtpSettingWriteDialog(QWidget *parent, FenwaSDK *sdk, const QList<RtpSettings> &channels);

protected:
    FenwaRequest requestFor(int i) override;
    void acceptedBy(int i) override;

private:
    const QVector<RtpSettings> channels;
};
