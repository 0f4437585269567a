// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/OrbDialog.h"

#include <QString>

class QLabel;
class QPushButton;

// Start-up steps of the workbench, in the order main() runs them.

// Opens this run's log file (appDir/log, or the per-user data directory's
// log/ when appDir is not writable). Returns the file's path, empty when it
// could not be opened (lines then go to the debug channel only).
QString openRunLog(const QString &appDir);

// "cn.txt" when the stored language is "cn" in any case, else "en.txt".
QString languageFileFor(const QString &stored);

// Makes sure a language is stored ("en" on the first start) and loads its
// table from appDir/language, or the installed copy.
void loadInterfaceLanguage(const QString &appDir);

// Asks to grant packet capture to executable when this process may not
// capture. "Ok" runs the system's elevation prompt (pkexec setcap) and
// tells the operator to restart; "Cancel" goes on. Returns true when
// capture is permitted already.
bool offerCapturePermission(const QString &executable);

// The question asked when capture is not permitted: a message over "Ok"
// and "Cancel".
class OrbCapturePermissionDialog : public OrbDialog
{
    Q_OBJECT
public:
    explicit OrbCapturePermissionDialog(QWidget *parent = nullptr);
    void setMessage(const QString &message);
    QString message() const;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *label;
    QPushButton *okButton;
    QPushButton *cancelButton;
};
