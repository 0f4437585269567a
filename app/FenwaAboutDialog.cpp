// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaAboutDialog.h"

#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbTranslate.h"

#include <QComboBox>
#include <QLabel>

#include <algorithm>

namespace {
QLabel *caption(QWidget *parent, const QString &text)
{
    auto *label = new QLabel(QStringLiteral("%1 : ").arg(text), parent);
    label->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    return label;
}

QLabel *value(QWidget *parent, const QString &text)
{
    auto *label = new QLabel(text, parent);
    label->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    return label;
}
} // namespace

FenwaAboutDialog::FenwaAboutDialog(QWidget *parent)
    : OrbDialog(parent), versionCaption(caption(this, translate("System Version"))),
      versionValue(value(this, QStringLiteral(FENWA_VERSION))),
      dateCaption(caption(this, translate("Build Date"))), dateValue(value(this, QStringLiteral(FENWA_BUILD_DATE))),
      languageCaption(caption(this, translate("Language"))), languageComboBox(new QComboBox(this)),
      note(new QLabel(translate("Language settings will take effect after restart"), this))
{
    note->setAlignment(Qt::AlignCenter);
    note->setWordWrap(true);
    note->hide();
    setWindowTitle(translate("Settings"));
    languageComboBox->addItem(translate("English"));
    languageComboBox->addItem(translate("Simple Chinese"));
    const bool chinese = OrbConfigure().language().compare(QLatin1String("cn"), Qt::CaseInsensitive) == 0;
    languageComboBox->setCurrentIndex(chinese ? 1 : 0);
    // Connected only now, so that showing the stored choice saves nothing.
    connect(languageComboBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            &FenwaAboutDialog::onLanguageComboBoxIndexChanged);
    resize(400, 250);
}

void FenwaAboutDialog::onLanguageComboBoxIndexChanged(int index)
{
    OrbConfigure().setLanguage(index == 1 ? QStringLiteral("cn") : QStringLiteral("en"));
    note->show();
}

void FenwaAboutDialog::resizeEvent(QResizeEvent *event)
{
    OrbDialog::resizeEvent(event);
    const int half = width() / 2;
    versionCaption->setGeometry(0, 30, half, 30);
    versionValue->setGeometry(half, 30, half, 30);
    dateCaption->setGeometry(0, 70, half, 30);
    dateValue->setGeometry(half, 70, half, 30);
    languageCaption->setGeometry(0, 110, half, 30);
    languageComboBox->setGeometry(half, 112, std::max(120, languageComboBox->sizeHint().width()), 26);
    note->setGeometry(20, 160, width() - 40, 60);
}
