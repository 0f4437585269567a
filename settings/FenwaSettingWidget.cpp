// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSettingWidget.h"

#include "FenwaSettingDialog.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "table/FenwaDeviceModel.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {
// The whole text where it fits, else its start and "…" with the whole text
// in the tooltip: a long name must not push into the next control.
void showElided(QLabel *label, const QString &text)
{
    const QString shown = label->fontMetrics().elidedText(text, Qt::ElideRight, label->width());
    label->setText(shown);
    label->setToolTip(shown == text ? QString() : text);
}
} // namespace

FenwaSettingWidget::FenwaSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : OrbWidget(parent), sdk(sdk), model(model), currentLabel(new QLabel(this)), targetLabel(new QLabel(this))
{
    targetLabel->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    // Ticks, a filter and a new search all change what "Set All" means.
    connect(model, &QAbstractItemModel::modelReset, this, &FenwaSettingWidget::showTargets);
    connect(model, &QAbstractItemModel::layoutChanged, this, &FenwaSettingWidget::showTargets);
    connect(model, &QAbstractItemModel::dataChanged, this, &FenwaSettingWidget::showTargets);
    connect(model, &FenwaDeviceModel::terminalsChanged, this, &FenwaSettingWidget::onTerminalsChanged);
    showTargets();
}

FenwaSettingWidget::~FenwaSettingWidget()
{
    if (current)
        current->release();
}

void FenwaSettingWidget::setDevice(FenwaDevice *device)
{
    if (device)
        device->addRef();
    if (current)
        current->release();
    current = device;
    showDevice(device);
}

void FenwaSettingWidget::showDevice(FenwaDevice *device)
{
    currentText = device ? QStringLiteral("%1 %2-%3").arg(translate("Current Device"), device->name, device->uid)
                         : QString();
    showElided(currentLabel, currentText);
}

void FenwaSettingWidget::onTerminalsChanged(const QList<FenwaDevice *> &devices)
{
    // Only the page in the panel: a hidden page shows its terminal afresh
    // when its column is clicked.
    if (!isHidden() && current && devices.contains(current))
        followTerminal();
}

void FenwaSettingWidget::followTerminal()
{
    showDevice(current);
}

QList<FenwaDevice *> FenwaSettingWidget::targetDevices() const
{
    const QList<FenwaDevice *> checked = model->checkedDevices();
    return checked.isEmpty() ? model->shownDevices() : checked;
}

QString FenwaSettingWidget::targetText() const
{
    const int shown = model->shownDevices().size(), hidden = model->allDevices().size() - shown;
    const int ticked = model->checkedDevices().size();
    QString text = ticked > 0 ? translate("Set All: the %1 ticked row shown", "Set All: the %1 ticked rows shown", ticked)
                                    .arg(ticked)
                              : translate("Set All: every row shown (%1)").arg(shown);
    if (hidden > 0)
        text += QStringLiteral("; ")
              + translate("%1 row hidden by the filter", "%1 rows hidden by the filter", hidden).arg(hidden);
    return text;
}

void FenwaSettingWidget::showTargets()
{
    showElided(targetLabel, targetText());
}

void FenwaSettingWidget::showToast(const QString &text)
{
    if (toast == nullptr)
        toast = new OrbToast(this);
    toast->showText(this, text, OrbToast::Top | OrbToast::HCenter, 2000);
}

int FenwaSettingWidget::runSet(const BatchFactory &make)
{
    // A terminal a later search dropped from the table is not set.
    if (current == nullptr || !model->allDevices().contains(current))
        return -1;
    return runBatch({current}, make, false);
}

int FenwaSettingWidget::runSetAll(const BatchFactory &make)
{
    const QList<FenwaDevice *> targets = targetDevices();
    if (targets.isEmpty()) {
        showToast(translate("No terminal in the table: search first"));
        return -1;
    }
    return runBatch(targets, make, true);
}

int FenwaSettingWidget::runBatch(const QList<FenwaDevice *> &devices, const BatchFactory &make, bool setAll)
{
    QString notice;
    std::unique_ptr<FenwaSettingDialog> dialog = make(devices, &notice);
    if (!dialog) {
        if (!notice.isEmpty())
            showToast(notice);
        return -1;
    }
    dialog->setDevices(devices);
    // When the current terminal took the change, the page shows (or reads)
    // it again; otherwise the fields keep what was typed, so that a "Set
    // All" that failed somewhere can be run again as it is.
    dialog->runBatch(model, this, setAll);
    return dialog->acceptedCount();
}

bool FenwaSettingWidget::confirm(const QString &question, const QString &action)
{
    QMessageBox box(QMessageBox::Question, translate("Please confirm"), question, QMessageBox::NoButton, window());
    QPushButton *yes = box.addButton(action, QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(translate("Cancel"), QMessageBox::RejectRole));
    box.exec();
    return box.clickedButton() == yes;
}

QCheckBox *FenwaSettingWidget::maskWithShowToggle(QLineEdit *edit)
{
    edit->setEchoMode(QLineEdit::Password);
    auto *show = new QCheckBox(translate("Show"), this);
    connect(show, &QCheckBox::toggled, edit,
            [edit](bool on) { edit->setEchoMode(on ? QLineEdit::Normal : QLineEdit::Password); });
    return show;
}

void FenwaSettingWidget::resizeEvent(QResizeEvent *event)
{
    OrbWidget::resizeEvent(event);
    // Which terminal is current on the left, what "Set All" reaches on the
    // right of the same line: no page's controls sit there.
    currentLabel->setGeometry(10, 10, width() / 2 - 10, 20);
    targetLabel->setGeometry(width() / 2, 10, width() / 2 - 10, 20);
    showElided(currentLabel, currentText);
    showTargets();
}
