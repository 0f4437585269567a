// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaAudioSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSlider>

namespace {
const char kSliderStyle[] =
    "QSlider::handle:horizontal{width:12px;background-color:rgb(128,89,207);margin:-5px 0px -5px 0px;"
    "border-radius:6px;}QSlider::groove:horizontal{height:2px;background-color:rgb(128,89,207);}"
    "QSlider::add-page:horizontal{background-color:rgb(128,89,207);}QSlider::sub-page:horizontal{background-color:"
    "rgb(128,89,207);}";
} // namespace

FenwaAudioSettingWidget::FenwaAudioSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaSettingWidget(parent, sdk, model), playButton(new QPushButton(translate("Audio test"), this)),
      micLabel(new QLabel(this)), micSlider(new QSlider(Qt::Horizontal, this)), outLabel(new QLabel(this)),
      outSlider(new QSlider(Qt::Horizontal, this)),
      muteLabel(new QLabel(QStringLiteral("%1 : ").arg(translate("Auto Mutex")), this)), muteBox(new QCheckBox(this)),
      setButton(new QPushButton(translate("Set"), this)), setAllButton(new QPushButton(translate("Set All"), this))
{
    setMinimumSize(520, 240);
    for (QSlider *slider : {micSlider, outSlider}) {
        slider->setRange(0, 100);
        slider->setStyleSheet(QLatin1String(kSliderStyle));
    }
    connect(playButton, &QPushButton::clicked, this, &FenwaAudioSettingWidget::onClickPlayAudioButton);
    connect(micSlider, &QSlider::valueChanged, this, &FenwaAudioSettingWidget::onMicrophoneSliderValueChanged);
    connect(outSlider, &QSlider::valueChanged, this, &FenwaAudioSettingWidget::onAudioSliderValueChanged);
    connect(setButton, &QPushButton::clicked, this, &FenwaAudioSettingWidget::onClickSetButton);
    connect(setAllButton, &QPushButton::clicked, this, &FenwaAudioSettingWidget::onClickSetAllButton);
    showDevice(nullptr);
}

void FenwaAudioSettingWidget::showDevice(FenwaDevice *device)
{
    FenwaSettingWidget::showDevice(device);
    micSlider->setValue(device ? device->extraInt(QStringLiteral("micVolume")) : 0);
    outSlider->setValue(device ? device->extraInt(QStringLiteral("outVolume")) : 0);
    // valueChanged does not fire for an unchanged value: write the labels.
    onMicrophoneSliderValueChanged(micSlider->value());
    onAudioSliderValueChanged(outSlider->value());
    if (device)
        muteBox->setChecked(device->autoMute() != 0);
}

void FenwaAudioSettingWidget::onMicrophoneSliderValueChanged(int value)
{
    micLabel->setText(QStringLiteral("%1 : %2").arg(translate("Input Volume")).arg(value));
}

void FenwaAudioSettingWidget::onAudioSliderValueChanged(int value)
{
    outLabel->setText(QStringLiteral("%1 : %2").arg(translate("Output Volume")).arg(value));
}

std::unique_ptr<FenwaSettingDialog> FenwaAudioSettingWidget::makeBatch(QString *notice)
{
    const FenwaTerminal::Volume volume{micSlider->value(), outSlider->value(), muteBox->isChecked() ? 1 : 0};
    if (!FenwaTerminal::volumeValue(volume, notice))
        return nullptr;
    return std::make_unique<FenwaVolumeSettingDialog>(window(), sdk, volume);
}

void FenwaAudioSettingWidget::onClickSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &, QString *n) { return makeBatch(n); });
}

void FenwaAudioSettingWidget::onClickSetAllButton(bool)
{
    runSetAll([this](const QList<FenwaDevice *> &, QString *n) { return makeBatch(n); });
}

void FenwaAudioSettingWidget::onClickPlayAudioButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &, QString *) {
        return std::make_unique<FenwaPlayVolumeDialog>(window(), sdk);
    });
}

void FenwaAudioSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaSettingWidget::resizeEvent(event);
    playButton->setGeometry(10, 40, 120, 30);
    micLabel->setGeometry(10, 80, 150, 30);
    micSlider->setGeometry(160, 80, 200, 30);
    outLabel->setGeometry(10, 120, 150, 30);
    outSlider->setGeometry(160, 120, 200, 30);
    muteLabel->setGeometry(10, 160, 150, 30);
    muteBox->setGeometry(160, 160, 30, 30);
    // A little below the check box row, which would otherwise touch them.
    setButton->setGeometry(100, 200, 100, 30);
    setAllButton->setGeometry(400, 200, 100, 30);
}

FenwaVolumeSettingDialog::FenwaVolumeSettingDialog(QWidget *parent, FenwaSDK *sdk,
                                                   const FenwaTerminal::Volume &volume)
    : FenwaSettingDialog(parent, sdk, translate("Setting volumes")), volume(volume)
{
}

int FenwaVolumeSettingDialog::sendTo(int i, QString *)
{
    return sdk->setDeviceVolume(devices().at(i), volume.mic, volume.out, volume.autoMute);
}

void FenwaVolumeSettingDialog::acceptedBy(int i)
{
    FenwaTerminal::volumeAccepted(devices().at(i), volume);
}

FenwaPlayVolumeDialog::FenwaPlayVolumeDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaSettingDialog(parent, sdk, translate("Playing the test sound"))
{
}

int FenwaPlayVolumeDialog::sendTo(int i, QString *)
{
    return sdk->playVolume(devices().at(i));
}
