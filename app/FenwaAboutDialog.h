// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"

class QComboBox;
class QLabel;

// The small settings panel: version, build date and the interface language.
// A language change is stored at once and takes effect at the next start,
// which a line under the language row then says (covering nothing).
class FenwaAboutDialog : public OrbDialog
{
    Q_OBJECT
public:
    explicit FenwaAboutDialog(QWidget *parent = nullptr);

    QComboBox *languageBox() const { return languageComboBox; }
    QLabel *restartNote() const { return note; }

public slots:
    void onLanguageComboBoxIndexChanged(int index);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *versionCaption;
    QLabel *versionValue;
    QLabel *dateCaption;
    QLabel *dateValue;
    QLabel *languageCaption;
    QComboBox *languageComboBox;
    QLabel *note;
};
