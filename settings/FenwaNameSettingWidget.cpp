// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaNameSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "link/FenwaTerminal.h"
#include "table/FenwaDeviceModel.h"

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

FenwaTextSettingWidget::FenwaTextSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model,
                                               const QString &prompt)
    : FenwaSettingWidget(parent, sdk, model), promptLabel(new QLabel(prompt, this)), edit(new QLineEdit(this)),
      setButton(new QPushButton(translate("Set"), this)), setAllButton(new QPushButton(translate("Set All"), this))
{
    setMinimumSize(520, 190);
    connect(setButton, &QPushButton::clicked, this, &FenwaTextSettingWidget::onClickSetButton);
    connect(setAllButton, &QPushButton::clicked, this, &FenwaTextSettingWidget::onClickSetAllButton);
}

void FenwaTextSettingWidget::showDevice(FenwaDevice *device)
{
    FenwaSettingWidget::showDevice(device);
    edit->setText(device ? fieldOf(device) : QString());
}

void FenwaTextSettingWidget::onClickSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &d, QString *n) { return makeBatch(d, edit->text(), n); });
}

void FenwaTextSettingWidget::onClickSetAllButton(bool)
{
    runSetAll([this](const QList<FenwaDevice *> &d, QString *n) { return makeBatch(d, edit->text(), n); });
}

void FenwaTextSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaSettingWidget::resizeEvent(event);
    promptLabel->setGeometry(10, 40, 200, 20);
    edit->setGeometry(220, 40, 200, 20); // room for a whole MAC text
    setButton->setGeometry(100, 150, 100, 30);
    setAllButton->setGeometry(400, 150, 100, 30);
}

FenwaNameSettingWidget::FenwaNameSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaTextSettingWidget(parent, sdk, model, translate("Please input device name"))
{
    showDevice(nullptr);
}

QString FenwaNameSettingWidget::fieldOf(const FenwaDevice *device) const
{
    return device->name;
}

std::unique_ptr<FenwaSettingDialog> FenwaNameSettingWidget::makeBatch(const QList<FenwaDevice *> &devices,
                                                                      const QString &typed, QString *notice)
{
    return FenwaNameSettingDialog::make(window(), sdk, typed, devices.size(), notice);
}

FenwaMacSettingWidget::FenwaMacSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaTextSettingWidget(parent, sdk, model, translate("Please input device mac"))
{
    showDevice(nullptr);
}

QString FenwaMacSettingWidget::fieldOf(const FenwaDevice *device) const
{
    return device->macText;
}

std::unique_ptr<FenwaSettingDialog> FenwaMacSettingWidget::makeBatch(const QList<FenwaDevice *> &devices,
                                                                     const QString &typed, QString *notice)
{
    return FenwaMacSettingDialog::make(window(), sdk, typed, devices, model->allDevices(), notice);
}

FenwaTextSettingDialog::FenwaTextSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &title,
                                               Command command, WriteBack writeBack)
    : FenwaSettingDialog(parent, sdk, title), command(command), writeBack(writeBack)
{
}

int FenwaTextSettingDialog::sendTo(int i, QString *)
{
    return (sdk->*command)(devices().at(i), texts.at(i));
}

void FenwaTextSettingDialog::acceptedBy(int i)
{
    writeBack(devices().at(i), texts.at(i));
}

FenwaNameSettingDialog::FenwaNameSettingDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaTextSettingDialog(parent, sdk, translate("Setting names"), &FenwaSDK::setName,
                             FenwaTerminal::nameAccepted)
{
}

std::unique_ptr<FenwaSettingDialog> FenwaNameSettingDialog::make(QWidget *parent, FenwaSDK *sdk,
                                                                 const QString &typed, int count, QString *notice)
{
    const QStringList names = FenwaTerminal::nameValues(typed, count, notice);
    if (names.isEmpty())
        return nullptr;
    auto dialog = std::make_unique<FenwaNameSettingDialog>(parent, sdk);
    dialog->setTexts(names);
    return dialog;
}

FenwaMacSettingDialog::FenwaMacSettingDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaTextSettingDialog(parent, sdk, translate("Setting MAC addresses"), &FenwaSDK::setMac,
                             FenwaTerminal::macAccepted)
{
}

std::unique_ptr<FenwaSettingDialog> FenwaMacSettingDialog::make(QWidget *parent, FenwaSDK *sdk,
                                                                const QString &typed,
                                                                const QList<FenwaDevice *> &targets,
                                                                const QList<FenwaDevice *> &table, QString *notice)
{
    const QStringList macs = FenwaTerminal::macValues(typed, targets, table, notice);
    if (macs.isEmpty())
        return nullptr;
    auto dialog = std::make_unique<FenwaMacSettingDialog>(parent, sdk);
    dialog->setTexts(macs);
    return dialog;
}
