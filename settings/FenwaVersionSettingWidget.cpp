// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaVersionSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMap>
#include <QPushButton>
#include <QSpinBox>

FenwaVersionSettingWidget::FenwaVersionSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaSettingWidget(parent, sdk, model), prompt(new QLabel(translate("Please select firmware file"), this)),
      path(new QLineEdit(this)), selectButton(new QPushButton(translate("Select"), this)),
      parallelLabel(new QLabel(translate("Uploads at once"), this)), parallel(new QSpinBox(this)),
      setButton(new QPushButton(translate("Set"), this)), setAllButton(new QPushButton(translate("Set All"), this))
{
    setMinimumSize(650, 190);
    parallel->setRange(1, FenwaFirmware::MOST_PARALLEL);
    parallel->setValue(FenwaFirmware::DEFAULT_PARALLEL);
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
    return std::make_unique<FenwaVersionSettingDialog>(window(), sdk, path->text(), parallel->value());
}

void FenwaVersionSettingWidget::onClickSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &, QString *n) { return makeBatch(n); });
}

void FenwaVersionSettingWidget::onClickSetAllButton(bool)
{
    // The result box offers to wait for the terminals that took the file.
    runSetAll([this](const QList<FenwaDevice *> &d, QString *n) -> std::unique_ptr<FenwaSettingDialog> {
        std::unique_ptr<FenwaSettingDialog> batch = makeBatch(n);
        // The file as the operator knows it: its name (which carries the
        // version where its maker put one there; the file itself names
        // none) and its size.
        const QFileInfo file(path->text());
        if (batch && d.size() > 1
            && !confirm(translate("Upgrade the firmware of %1 terminals with %2 (%3)? Each restarts once it has the file.")
                            .arg(d.size())
                            .arg(file.fileName(), QLocale().formattedDataSize(file.size())),
                        translate("Upgrade")))
            return nullptr;
        return batch;
    });
}

void FenwaVersionSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaSettingWidget::resizeEvent(event);
    prompt->setGeometry(10, 40, 230, 20);
    path->setGeometry(250, 40, 300, 20);
    selectButton->setGeometry(560, 40, 80, 20);
    parallelLabel->setGeometry(10, 80, 230, 20);
    parallel->setGeometry(250, 78, 70, 24);
    setButton->setGeometry(100, 150, 100, 30);
    setAllButton->setGeometry(400, 150, 100, 30);
}

FenwaVersionSettingDialog::FenwaVersionSettingDialog(QWidget *parent, FenwaSDK *sdk, const QString &path,
                                                     int parallel)
    : FenwaSettingDialog(parent, sdk, translate("Upgrading firmware")), path(path), parallel(parallel)
{
    // A line per upload under way under the count, each with its bytes.
    resize(600, 70 + 20 * parallel + buttonRowHeight);
}

FenwaRequest FenwaVersionSettingDialog::requestFor(int)
{
    return FenwaRequest(); // the web side, not the link
}

void FenwaVersionSettingDialog::runJobs()
{
    QVector<FenwaFirmware::Target> targets;
    QVector<int> of; // the dialog's index of each target
    int done = 0;
    for (int i = 0; i < devices().size(); ++i) {
        FenwaFirmware::Target target;
        FenwaBatchResult &r = outcomes()[i];
        if (FenwaFirmware::targetOf(devices().at(i), &target, &r.detail)) {
            targets.append(target);
            of.append(i);
        } else {
            r.reached = true;
            ++done;
        }
    }
    // The terminals under way and their bytes (total -1: logging in); the
    // callbacks come one at a time.
    QMap<int, QPair<qint64, qint64>> under;
    const QLocale locale;
    float partial = 0; // the share of the uploads under way that is sent
    const auto lines = [&] {
        QStringList text;
        partial = 0;
        for (auto it = under.cbegin(); it != under.cend(); ++it) {
            const qint64 sent = it.value().first, total = it.value().second;
            if (total > 0)
                partial += float(sent) / float(total);
            text << QStringLiteral("%1 - %2").arg(outcomes().at(it.key()).label,
                                                 total < 0 ? translate("logging in")
                                                           : translate("%1 of %2 sent")
                                                                 .arg(locale.formattedDataSize(sent),
                                                                      locale.formattedDataSize(total)));
        }
        return text.join(QLatin1Char('\n'));
    };
    reportDone(done);
    FenwaFirmware::upgradeAll(
        targets, path, FenwaFirmware::Limits(), parallel, [this] { return isStopped(); },
        [&](int k, qint64 sent, qint64 total) {
            under[of.at(k)] = qMakePair(sent, total);
            const QString text = lines();
            reportDone(done, text, partial);
        },
        [&](int k, const FenwaFirmware::Outcome &o) {
            under.remove(of.at(k));
            FenwaBatchResult &r = outcomes()[of.at(k)];
            r.reached = true;
            r.accepted = o.ok();
            // An upload cut short may still have reached the terminal whole.
            r.unknown = o.stopped && o.loggedIn;
            r.detail = r.unknown ? translate("unknown: may have changed") : FenwaFirmware::describe(o);
            const QString text = lines();
            reportDone(++done, text, partial);
        });
}
