// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaIpSettingWidget.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "table/FenwaDeviceModel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <algorithm>

namespace {
enum { Dhcp, Static };
} // namespace

FenwaIpSettingWidget::FenwaIpSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model)
    : FenwaSettingWidget(parent, sdk, model), promptLabel(new QLabel(translate("Please select IP mode"), this)),
      modeBox(new QComboBox(this)), setButton(new QPushButton(translate("Set"), this)),
      setAllButton(new QPushButton(translate("Set All"), this))
{
    setMinimumSize(730, 190);
    modeBox->addItem(translate("DHCP"));
    modeBox->addItem(translate("Static"));
    const QString titles[5] = {translate("IP address"), translate("Gateway"), translate("Netmask"), translate("Dns1"),
                               translate("Dns2")};
    for (int i = 0; i < 5; ++i) {
        labels[i] = new QLabel(titles[i], this);
        edits[i] = new QLineEdit(this);
    }
    edits[4]->setPlaceholderText(translate("optional"));
    connect(modeBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &FenwaIpSettingWidget::onComboBoxIndexChanged);
    connect(setButton, &QPushButton::clicked, this, &FenwaIpSettingWidget::onClickSetButton);
    connect(setAllButton, &QPushButton::clicked, this, &FenwaIpSettingWidget::onClickSetAllButton);
    showDevice(nullptr);
}

void FenwaIpSettingWidget::showDevice(FenwaDevice *device)
{
    FenwaSettingWidget::showDevice(device);
    const QString values[5] = {device ? device->ip : QString(), device ? device->gateway : QString(),
                               device ? device->netmask : QString(), device ? device->dns1 : QString(),
                               device ? device->dns2 : QString()};
    for (int i = 0; i < 5; ++i)
        edits[i]->setText(values[i]);
    const bool dhcp = device && device->ipMode.compare(QLatin1String("DHCP"), Qt::CaseInsensitive) == 0;
    modeBox->setCurrentIndex(dhcp ? Dhcp : Static);
    onComboBoxIndexChanged(modeBox->currentIndex());
}

void FenwaIpSettingWidget::onComboBoxIndexChanged(int index)
{
    for (int i = 0; i < 5; ++i) {
        labels[i]->setEnabled(index == Static);
        edits[i]->setEnabled(index == Static);
    }
}

std::unique_ptr<FenwaSettingDialog> FenwaIpSettingWidget::makeBatch(const QList<FenwaDevice *> &devices,
                                                                    QString *notice)
{
    QList<FenwaTerminal::IpConfig> configs;
    QStringList note;
    if (modeBox->currentIndex() == Static) {
        const FenwaTerminal::IpConfig typed{edits[0]->text(), edits[1]->text(), edits[2]->text(), edits[3]->text(),
                                            edits[4]->text()};
        // A typing mistake needs no probe.
        if (FenwaTerminal::staticIpValues(typed, devices.size(), notice).isEmpty())
            return nullptr;
        QStringList macs;
        for (const FenwaDevice *d : devices)
            macs << FenwaTerminal::linkMacText(d);
        FenwaAddressCheckDialog check(window(), sdk, typed, macs,
                                      FenwaTerminal::addressHolders(model->allDevices(),
                                                                    thisPcAddresses(sdk->currentAdapter())));
        check.moveToCenter(window());
        check.startJob();
        if (check.exec() != QDialog::Accepted) {
            *notice = translate("The address check was stopped; nothing was sent");
            return nullptr;
        }
        configs = check.values();
        if (configs.isEmpty()) {
            *notice = check.notice();
            return nullptr;
        }
        if (!check.skipped().isEmpty())
            note << translate("Addresses skipped:");
        for (const FenwaTerminal::SkippedAddress &s : check.skipped())
            note << QStringLiteral("%1: %2").arg(s.ip, s.why);
    }
    auto dialog = std::make_unique<FenwaIpSettingDialog>(window(), sdk);
    dialog->setConfigs(configs);
    dialog->setNote(note);
    return dialog;
}

void FenwaIpSettingWidget::onClickSetButton(bool)
{
    runSet([this](const QList<FenwaDevice *> &d, QString *n) { return makeBatch(d, n); });
}

void FenwaIpSettingWidget::onClickSetAllButton(bool)
{
    runSetAll([this](const QList<FenwaDevice *> &d, QString *n) { return makeBatch(d, n); });
}

void FenwaIpSettingWidget::resizeEvent(QResizeEvent *event)
{
    FenwaSettingWidget::resizeEvent(event);
    promptLabel->setGeometry(10, 40, 200, 20);
    modeBox->setGeometry(220, 40, std::max(100, modeBox->sizeHint().width()), 20);
    // Three to a row, as label and field: IP, gateway, netmask; DNS 1, DNS 2.
    // A field holds 255.255.255.255 whole.
    for (int i = 0; i < 5; ++i) {
        const int x = 10 + 240 * (i % 3), y = 70 + 30 * (i / 3);
        labels[i]->setGeometry(x, y, 100, 20);
        edits[i]->setGeometry(x + 110, y, 120, 20);
    }
    setButton->setGeometry(100, 150, 100, 30);
    setAllButton->setGeometry(400, 150, 100, 30);
}

FenwaIpSettingDialog::FenwaIpSettingDialog(QWidget *parent, FenwaSDK *sdk)
    : FenwaSettingDialog(parent, sdk, translate("Setting IP addresses"))
{
}

FenwaRequest FenwaIpSettingDialog::requestFor(int i)
{
    if (configs.isEmpty())
        return FenwaRequest::setIpDhcp();
    const FenwaTerminal::IpConfig &c = configs.at(i);
    return FenwaRequest::setIpStatic(c.ip, c.gateway, c.netmask, c.dns1, c.dns2);
}

void FenwaIpSettingDialog::acceptedBy(int i)
{
    if (configs.isEmpty())
        FenwaTerminal::dhcpAccepted(devices().at(i));
    else
        FenwaTerminal::staticIpAccepted(devices().at(i), configs.at(i));
}

FenwaAddressCheckDialog::FenwaAddressCheckDialog(QWidget *parent, FenwaSDK *sdk, const FenwaTerminal::IpConfig &typed,
                                                 const QStringList &targetMacs,
                                                 const QList<FenwaTerminal::AddressHolder> &held)
    : OrbProgressDialog(parent), probe(sdk), typed(typed), targetMacs(targetMacs), held(held)
{
    setWindowTitle(translate("Setting IP addresses"));
    setMessage(translate("Checking addresses…"));
}

FenwaAddressCheckDialog::~FenwaAddressCheckDialog()
{
    stopJob(); // the job reads and writes the lists
}

void FenwaAddressCheckDialog::run()
{
    configs = probedStaticIpValues(&probe, typed, targetMacs, held, &passed, &why);
    finish();
}

void FenwaAddressCheckDialog::interrupt()
{
    probe.cancel();
}
