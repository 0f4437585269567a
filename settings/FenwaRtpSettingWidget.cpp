// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaRtpSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"

#include <QLabel>
#include <QLineEdit>

FenwaRtpSettingWidget::FenwaRtpSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaReadSettingWidget(parent, sdk, model)
{
    setMinimumSize(630, 270);
    for (int i = 0; i < FENWA_RTP_CHANNELS; ++i) {
        numbers[i] = new QLabel(QString::number(i + 1), this);
        addField()->setPlaceholderText(QStringLiteral("239.0.0.1:6000"));
    }
    FenwaReadSettingWidget::showDevice(nullptr);
}

std::unique_ptr<FenwaSettingDialog> FenwaRtpSettingWidget::makeRead()
{
    return std::make_unique<FenwaRtpSettingReadDialog>(window(), sdk);
}

void FenwaRtpSettingWidget::takeRead(FenwaSettingDialog *read)
{
    auto *r = static_cast<FenwaRtpSettingReadDialog *>(read);
    for (int i = 0; i < FENWA_RTP_CHANNELS; ++i)
        fields().at(i)->setText(FenwaTerminal::rtpChannelText(r->channels[i]));
}

QString FenwaRtpSettingWidget::setAllQuestion(const QString &from, int count) const
{
    return from.isEmpty() ? translate("Write the RTP channels shown on this page to %1 terminal?",
                                      "Write the RTP channels shown on this page to %1 terminals?", count)
                                .arg(count)
                          : translate("Write the RTP channels read from %1 to %2 terminal?",
                                      "Write the RTP channels read from %1 to %2 terminals?", count)
                                .arg(from)
                                .arg(count);
}

std::unique_ptr<FenwaSettingDialog> FenwaRtpSettingWidget::makeWrite(QString *notice)
{
    QStringList texts;
    for (const QLineEdit *e : fields())
        texts << e->text();
    const QList<RtpSettings> channels = FenwaTerminal::rtpValues(texts, notice);
    if (channels.isEmpty())
        return nullptr;
    return std::make_unique<FenwaRtpSettingWriteDialog>(window(), sdk, channels);
}

void FenwaRtpSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaReadSettingWidget::resizeEvent(event);
    for (int i = 0; i < FENWA_RTP_CHANNELS; ++i) {
        const int x = i < 5 ? 10 : 360, y = 40 + 30 * (i % 5);
        numbers[i]->setGeometry(x, y, 30, 20);
        fields().at(i)->setGeometry(x + 40, y, 220, 20);
    }
    placeButtons(230);
}

FenwaRtpSettingReadDialog::FenwaRtpSettingReadDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaSettingDialog(parent, sdk, translate("Reading RTP channels"))
{
}

FenwaRequest FenwaRtpSettingReadDialog::requestFor(int)
{
    return FenwaRequest::getRtpSettings();
}

void FenwaRtpSettingReadDialog::replied(int, int, const FenwaReply &reply)
{
    FenwaRequest::readRtp(reply, channels, FENWA_RTP_CHANNELS);
}

FenwaRtpSettingWriteDialog::FenwaRtpSettingWriteDialog(QWidget *parent, FenwaSDK *sdk,
                                                       const QList<RtpSettings> &channels)
    : FenwaSettingDialog(parent, sdk, translate("Setting RTP channels")), channels(channels.toVector())
{
}

FenwaRequest FenwaRtpSettingWriteDialog::requestFor(int)
{
    return FenwaRequest::setRtpSettings(channels);
}

void FenwaRtpSettingWriteDialog::acceptedBy(int i)
{
    FenwaTerminal::rtpAccepted(devices().at(i), channels.toList());
}
