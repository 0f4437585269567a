// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbNetworkDialog.h"

#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/QPcapAdapterList.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>

OrbNetworkDialog::OrbNetworkDialog(QWidget *parent)
    : OrbDialog(parent), label(new QLabel(this)), comboBox(new QComboBox(this)), okButton(new QPushButton(this))
{
    setWindowTitle(translate("Network"));
    label->setText(translate("Please select network"));
    label->setAlignment(Qt::AlignCenter);
    okButton->setText(translate("OK"));
    resize(500, 200);
    if (parent && parent->width() >= 1 && parent->height() >= 1)
        move((parent->width() - 500) / 2, (parent->height() - 200) / 2);
    connect(okButton, &QPushButton::clicked, this, &OrbNetworkDialog::onClickOkButton);
    connect(comboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &OrbNetworkDialog::onComoBoxIndexChanged);
}

OrbNetworkDialog::~OrbNetworkDialog() = default;

QString OrbNetworkDialog::itemText(const QPcapAdapter &adapter)
{
    char address[16];
    formatIpv4(adapter.address, address);
    return QStringLiteral("%1 %2").arg(QString::fromUtf8(adapter.description), QLatin1String(address));
}

void OrbNetworkDialog::setAdapters(QPcapAdapterList *list)
{
    if (list != adapters.get())
        adapters.reset(list);
    comboBox->clear();
    if (adapters == nullptr)
        return;
    const QByteArray remembered = OrbConfigure().network().toUtf8();
    const QPcapAdapter *preferred = findAdapter(adapters.get(), remembered.isEmpty() ? nullptr : remembered.constData());
    int current = 0;
    for (int i = 0; i < adapters->count(); ++i) {
        comboBox->addItem(itemText(*adapters->at(i)));
        if (adapters->at(i) == preferred)
            current = i;
    }
    comboBox->setCurrentIndex(adapters->count() > 0 ? current : -1);
}

const QPcapAdapter *OrbNetworkDialog::selectedAdapter() const
{
    return adapters ? adapters->at(comboBox->currentIndex()) : nullptr;
}

void OrbNetworkDialog::onClickOkButton(bool)
{
    if (const QPcapAdapter *adapter = selectedAdapter())
        OrbConfigure().setNetwork(QString::fromUtf8(adapter->name));
    accept();
}

void OrbNetworkDialog::onComoBoxIndexChanged(int)
{
    // The choice counts only on OK.
}

void OrbNetworkDialog::resizeEvent(QResizeEvent *event)
{
    OrbDialog::resizeEvent(event);
    const int w = width(), h = height();
    label->setGeometry(0, 0, w, 40);
    comboBox->setGeometry(10, (h - 160) / 2 + 40, w - 20, 30);
    okButton->setGeometry((w - 60) / 2, h - 60, 60, 40);
}
