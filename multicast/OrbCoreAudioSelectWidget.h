// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/CoreAudio.h"

#include <QFrame>

class QButtonGroup;
class QVBoxLayout;

// One radio button per capture source (microphone icon for inputs, speaker
// icon for an output's sound) and a last one, "None". Interface thread only.
class OrbCoreAudioSelectWidget : public QFrame
{
    Q_OBJECT
public:
    explicit OrbCoreAudioSelectWidget(QWidget *parent = nullptr);

    // Rebuilds the buttons; the device whose id equals savedId exactly is
    // checked (the last one when ids repeat), else "None".
    void setDevices(const QList<AudioDeviceInfo> &devices, const QString &savedId);
    // The checked device; an empty record for "None".
    AudioDeviceInfo selectedDevice() const;
    int selectedIndex() const { return selected; }

public slots:
    void onButtonClicked(int index);

private:
    QVBoxLayout *layout;
    QButtonGroup *group = nullptr;
    QList<AudioDeviceInfo> devices;
    int selected = -1;
};
