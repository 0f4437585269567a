// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaVersionSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"

#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QPushButton>

FenwaVersionSettingWidget::FenwaVersionSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaSettingWidget(parent, sdk, model), prompt(new QLabel(translate("Please select firmware file"), this)),
      path(new QLineEdit(this)), selectButton(new QPushButton(translate("Select"), this)),
      setButton(new QPushButton(translate("Set"), this)), setAllButton(new QPushButton(translate("Set All"), this))
{
    setMinimumSize(650, 190);
    connect(selectButton, &QPushButton::clicked, this, &FenwaVersionSettingWidget::onClickFirmwareButton);
    connect(setButton, &QPushButton::clicked, this, &FenwaVersionSettingWidget::onClickSetButton);
    connect(setAllButton, &QPushButton::clicked, this, &FenwaVersionSettingWidget::onClickSetAllButton);
    showDevice(nullptr);
}

void FenwaVersionSettingWidget::showDevice(FenwaDevice *device)
{
    FenwaSettingWidget::showDevice(device); // the file stays for the next terminal
}

void FenwaVersionSettingWidget::onClickFirmwareButton(bool)
{
    const QStringList chosen = QFileDialog::getOpenFileNames(window(), translate("Select File"));
    if (!chosen.isEmpty())
        path->setText(chosen.first());
}

std::unique_ptr<FenwaSettingDialog> FenwaVersionSettingWidget::makeBatch(QString *notice)
{
    if (!FenwaFirmware::fileValue(path->text(), notice))
        return nullptr;
    return std::make_unique<FenwaVersionSettingDialog>(window(), sdk, path->text());
}

void FenwaVersionSettingWidget::onClickSetButton(bool)
{
    offerSearch(runSet([this](const QList<FenwaDevice *> &, QString *n) { return makeBatch(n); }), 1);
}

void FenwaVersionSettingWidget::onClickSetAllButton(bool)
{
    const int count = targetDevices().size();
    offerSearch(runSetAll([this](const QList<FenwaDevice *> &d, QString *n) -> std::unique_ptr<FenwaSettingDialog> {
                    std::unique_ptr<FenwaSettingDialog> batch = makeBatch(n);
                    if (batch && d.size() > 1
                        && !confirm(translate("Upgrade the firmware of %1 terminals? Each restarts once it has the file.")
                                        .arg(d.size()),
                                    translate("Upgrade")))
                        return nullptr;
                    return batch;
                }),
                count);
}

void FenwaVersionSettingWidget::offerSearch(int uploaded, int count)
{
    if (uploaded <= 0)
        return;
    if (confirm(translate("%1 of %2 terminals took the firmware and restart with it. Search again once they are back?")
                    .arg(uploaded)
                    .arg(count),
                translate("Search again")))
        emit searchRequested();
}

void FenwaVersionSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaSettingWidget::resizeEvent(event);
    prompt->setGeometry(10, 40, 230, 20);
    path->setGeometry(250, 40, 300, 20);
    selectButton->setGeometry(560, 40, 80, 20);
    setButton->setGeometry(100, 150, 100, 30);
    setAllButton->setGeometry(400, 150, 100, 30);
}

FenwaVersionSettingDialog::FenwaVersionSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &path)
    : FenwaSettingDialog(parent, sdk, translate("Upgrading firmware")), path(path)
{
    resize(600, 60); // room for the bytes sent behind the terminal's name
}

int FenwaVersionSettingDialog::sendTo(int i, QString *detail)
{
    FenwaFirmware::Target target;
    if (!FenwaFirmware::targetOf(devices().at(i), &target, detail))
        return -1;
    reportStep(i, 0.0f, translate("logging in"));
    sinceReport.start();
    auto progress = [this, i](qint64 sent, qint64 total) {
        // The bar and the text are redrawn a few times a second, not per
        // packet.
        if (sent < total && sinceReport.elapsed() < 100)
            return;
        sinceReport.restart();
        const QLocale locale;
        reportStep(i, total > 0 ? float(sent) / float(total) : 0.0f,
                   translate("%1 of %2 sent").arg(locale.formattedDataSize(sent), locale.formattedDataSize(total)));
    };
    const FenwaFirmware::Outcome outcome =
        FenwaFirmware::upgrade(target, path, FenwaFirmware::Limits(), [this] { return isStopped(); }, progress);
    *detail = FenwaFirmware::describe(outcome);
    return outcome.ok() ? 0 : -1;
}
