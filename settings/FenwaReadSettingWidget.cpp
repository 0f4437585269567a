// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaReadSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"

#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

FenwaReadSettingWidget::FenwaReadSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaSettingWidget(parent, sdk, model), setButton(new QPushButton(translate("Set"), this)),
      readButton(new QPushButton(translate("Read"), this)), setAllButton(new QPushButton(translate("Set All"), this))
{
    connect(setButton, &QPushButton::clicked, this, &FenwaReadSettingWidget::onClickSetButton);
    connect(readButton, &QPushButton::clicked, this, &FenwaReadSettingWidget::onClickReadButton);
    connect(setAllButton, &QPushButton::clicked, this, &FenwaReadSettingWidget::onClickSetAllButton);
}

QLineEdit *FenwaReadSettingWidget::addField()
{
    auto *edit = new QLineEdit(this);
    connect(edit, &QLineEdit::textEdited, this, [this] { edited = true; });
    edits << edit;
    return edit;
}

void FenwaReadSettingWidget::showDevice(FenwaDevice *device)
{
    FenwaSettingWidget::showDevice(device);
    if (device == nullptr) {
        for (QLineEdit *e : edits)
            e->clear();
        fromRead = edited = false;
        return;
    }
    if (edited) {
        showToast(translate("Your typed values are kept: press Read to load this terminal's settings"));
        return;
    }
    read(device);
}

QStringList FenwaReadSettingWidget::texts() const
{
    QStringList out;
    for (const QLineEdit *e : edits)
        out << e->text();
    return out;
}

void FenwaReadSettingWidget::onClickReadButton(bool)
{
    if (currentDevice()) {
        edited = false;
        read(currentDevice());
    }
}

void FenwaReadSettingWidget::read(FenwaDevice *device)
{
    if (reading) // a further click while the modal read runs
        return;
    reading = true;
    std::unique_ptr<FenwaSettingDialog> dialog = makeRead();
    dialog->setDevices({device});
    QString why;
    fromRead = dialog->runRead(&why);
    reading = false;
    edited = false;
    if (fromRead) {
        takeRead(dialog.get());
        readFrom = device->name;
        readTexts = texts();
        return;
    }
    // Another terminal's values, or empty ones, must not look like this
    // terminal's: one "Set" would write them over its settings.
    for (QLineEdit *e : edits)
        e->clear();
    showToast(translate("Nothing was read from %1 (%2): fill every field to write anyway, or press Read")
                  .arg(device->name, why));
}

std::unique_ptr<FenwaSettingDialog> FenwaReadSettingWidget::checkedWrite(QString *notice)
{
    const bool allFilled =
        std::none_of(edits.cbegin(), edits.cend(), [](const QLineEdit *e) { return e->text().trimmed().isEmpty(); });
    if (!fromRead && !allFilled) {
        *notice = translate("Nothing was read from this terminal: press Read, or fill every field");
        return nullptr;
    }
    return makeWrite(notice);
}

void FenwaReadSettingWidget::followTerminal()
{
    FenwaDevice *device = currentDevice();
    if (edited && !writing) {
        // Not what the terminal holds, nor what it held when it was read.
        readFrom.clear();
        readTexts.clear();
        FenwaSettingWidget::showDevice(device);
        showToast(translate("%1 has changed; your typed values are kept: press Read to load its settings")
                      .arg(device->name));
        return;
    }
    edited = false;
    read(device);
}

void FenwaReadSettingWidget::onClickSetButton(bool)
{
    writing = true;
    const int accepted = runSet([this](const QList<FenwaDevice *> &, QString *n) { return checkedWrite(n); });
    writing = false;
    if (accepted >= 0)
        edited = false;
}

void FenwaReadSettingWidget::onClickSetAllButton(bool)
{
    const auto make = [this](const QList<FenwaDevice *> &targets, QString *n) {
        std::unique_ptr<FenwaSettingDialog> write = checkedWrite(n);
        // Typed over, or pasted in: no longer what was read.
        const bool asRead = fromRead && texts() == readTexts;
        if (write && !confirm(setAllQuestion(asRead ? readFrom : QString(), targets.size()), translate("Set All")))
            return std::unique_ptr<FenwaSettingDialog>();
        return write;
    };
    writing = true;
    const int accepted = runSetAll(make);
    writing = false;
    if (accepted >= 0)
        edited = false;
}

void FenwaReadSettingWidget::placeButtons(int y)
{
    setButton->setGeometry(100, y, 100, 30);
    readButton->setGeometry(250, y, 100, 30);
    setAllButton->setGeometry(400, y, 100, 30);
}
