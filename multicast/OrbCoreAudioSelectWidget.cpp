// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbCoreAudioSelectWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "resources/FenwaResources.h"

#include <QButtonGroup>
#include <QLabel>
#include <QRadioButton>
#include <QVBoxLayout>

OrbCoreAudioSelectWidget::OrbCoreAudioSelectWidget(QWidget *parent) : QFrame(parent), layout(new QVBoxLayout(this))
{
    initFenwaResources();
}

void OrbCoreAudioSelectWidget::setDevices(const QList<AudioDeviceInfo> &list, const QString &savedId)
{
    devices = list;
    while (QLayoutItem *item = layout->takeAt(0)) {
        if (QWidget *widget = item->widget()) {
            widget->hide();
            widget->deleteLater();
        }
        delete item;
    }
    delete group;
    group = new QButtonGroup(this);
    layout->addWidget(new QLabel(translate("Please select audio source"), this));
    selected = -1;
    for (int i = 0; i < devices.size(); ++i) {
        const AudioDeviceInfo &device = devices.at(i);
        auto *button = new QRadioButton(device.name, this);
        button->setToolTip(device.id);
        button->setIcon(QIcon(device.kind == AudioDeviceInfo::Loopback ? QStringLiteral(":/resources/audio.png")
                                                                        : QStringLiteral(":/resources/microphone.png")));
        if (device.id == savedId) {
            button->setChecked(true);
            selected = i;
        }
        group->addButton(button, i);
        layout->addWidget(button);
    }
    auto *none = new QRadioButton(translate("None"), this);
    none->setIcon(QIcon(QStringLiteral(":/resources/unavailable.png")));
    group->addButton(none, int(devices.size()));
    layout->addWidget(none);
    if (selected < 0) {
        none->setChecked(true);
        selected = int(devices.size());
    }
    layout->addStretch(1);
    connect(group, &QButtonGroup::idClicked, this, &OrbCoreAudioSelectWidget::onButtonClicked);
}

AudioDeviceInfo OrbCoreAudioSelectWidget::selectedDevice() const
{
    return selected >= 0 && selected < devices.size() ? devices.at(selected) : AudioDeviceInfo();
}

void OrbCoreAudioSelectWidget::onButtonClicked(int index)
{
    selected = index;
}
