// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

// The page of the "Volume" column: microphone and speaker volume, automatic
// muting, and the test sound (also run from the table's play icon).
#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"
#include "link/FenwaTerminal.h"

class QCheckBox;
class QPushButton;
class QSlider;

class FenwaAudioSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    FenwaAudioSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

    void showDevice(FenwaDevice *device) override;

public slots:
    void onClickPlayAudioButton(bool checked);
    void onMicrophoneSliderValueChanged(int value);
    void onAudioSliderValueChanged(int value);
    void onClickSetButton(bool checked);
    void onClickSetAllButton(bool checked);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<FenwaSettingDialog> makeBatch(QString *notice);

    QPushButton *playButton;
    QLabel *micLabel;
    QSlider *micSlider;
    QLabel *outLabel;
    QSlider *outSlider;
    QLabel *muteLabel;
    QCheckBox *muteBox;
    QPushButton *setButton;
    QPushButton *setAllButton;
};

// SetDeviceVolume per terminal, the same three values for each.
class FenwaVolumeSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaVolumeSettingDialog(QWidget *parent, FenwaSDK *sdk, const FenwaTerminal::Volume &volume);

protected:
    FenwaRequest requestFor(int i) override;
    void acceptedBy(int i) override;

private:
    const FenwaTerminal::Volume volume;
};

// PlayVolume: the terminal plays its test sound.
class FenwaPlayVolumeDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaPlayVolumeDialog(QWidget *parent, FenwaSDK *sdk);

protected:
    FenwaRequest requestFor(int i) override;
    bool changesTerminals() const override { return false; } // a sound, no setting
};
