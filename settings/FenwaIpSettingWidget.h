// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "FenwaSettingDialog.h"
#include "FenwaSettingWidget.h"
#include "link/FenwaAddressProbe.h"
#include "link/FenwaTerminal.h"

class QComboBox;
class QLineEdit;

// The page of the "IP address", "Netmask" and "Gateway" columns: DHCP, or a
// static address with gateway, netmask and two DNS servers. "Set All" hands
// each terminal its own address inside the typed subnet. A static address
// is first checked against this PC, the table and the segment (an address
// probe); "Set" refuses one that is held, "Set All" steps past them and the
// report lists each.
class FenwaIpSettingWidget : public FenwaSettingWidget
{
    Q_OBJECT
public:
    FenwaIpSettingWidget(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model);

    void showDevice(FenwaDevice *device) override;

public slots:
    void onComboBoxIndexChanged(int index);
    void onClickSetButton(bool checked);
    void onClickSetAllButton(bool checked);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    std::unique_ptr<FenwaSettingDialog> makeBatch(const QList<FenwaDevice *> &devices, QString *notice);

    QLabel *promptLabel;
    QComboBox *modeBox;
    QLabel *labels[5];
    QLineEdit *edits[5]; // ip, gateway, netmask, dns1, dns2
    QPushButton *setButton;
    QPushButton *setAllButton;
};

// Sends SetIp to each terminal: DHCP, or its own static configuration.
class FenwaIpSettingDialog : public FenwaSettingDialog
{
    Q_OBJECT
public:
    FenwaIpSettingDialog(QWidget *parent, FenwaSDK *sdk);
    // No configurations: every terminal is switched to DHCP.
    void setConfigs(const QList<FenwaTerminal::IpConfig> &configs) { this->configs = configs; }

protected:
    int sendTo(int i, QString *detail) override;
    void acceptedBy(int i) override;

private:
    QList<FenwaTerminal::IpConfig> configs;
};

// "Checking addresses...": the address probe of a static "Set" or "Set All"
// and the values it leaves, worked out on the dialog's job thread. Closing
// the dialog cancels the probe, and nothing is sent.
class FenwaAddressCheckDialog : public OrbProgressDialog
{
    Q_OBJECT
public:
    FenwaAddressCheckDialog(QWidget *parent, FenwaSDK *sdk, const FenwaTerminal::IpConfig &typed,
                            const QStringList &targetMacs, const QList<FenwaTerminal::AddressHolder> &held);
    ~FenwaAddressCheckDialog() override;

    // Read after exec() has returned accepted: the values, or nothing with
    // the notice; the addresses stepped over.
    const QList<FenwaTerminal::IpConfig> &values() const { return configs; }
    QString notice() const { return why; }
    const QList<FenwaTerminal::SkippedAddress> &skipped() const { return passed; }

    void run() override;
    void interrupt() override;

private:
    FenwaAddressProbe probe;
    const FenwaTerminal::IpConfig typed;
    const QStringList targetMacs;
    const QList<FenwaTerminal::AddressHolder> held;
    QList<FenwaTerminal::IpConfig> configs;
    QList<FenwaTerminal::SkippedAddress> passed;
    QString why;
};
