// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "OrbUtils/widgets/OrbDialog.h"

#include <QString>

class QLabel;
class QLineEdit;
class QPushButton;

// Start-up steps of the workbench, in the order main() runs them.

// Before the application object: the windows scale with the desktop (a
// 150% or 200% desktop, Xft.dpi or QT_FONT_DPI 144 to 192, gets its pixel
// geometry scaled by 1.5 or 2, exactly, so that text set in the desktop's
// font fits the boxes made for it), and images are drawn from their larger
// pixmaps.
void scaleWithTheDesktop();
// The interface font: the desktop's family at 9 points.
void useInterfaceFont();

// Opens this run's log file in the per-user data directory's log/, readable
// by its owner only. Returns the file's path, empty when it could not be
// opened (lines then go to the debug channel only).
QString openRunLog();

// "cn.txt" when the stored language is "cn" in any case, else "en.txt".
QString languageFileFor(const QString &stored);

// Makes sure a language is stored ("en" on the first start) and loads its
// table from appDir/language, or the installed copy; Chinese also loads
// Qt's own Chinese texts.
void loadInterfaceLanguage(const QString &appDir);

// Tells the operator, when this program can capture neither itself nor
// through the capture helper, why and what to do: an installed program asks
// to join the helper's group (then log in again); a build-tree program shows
// the command that grants its helper the capability, and offers to run it
// through the system's password prompt (pkexec) only when the helper is a
// root-owned file this user cannot change. The workbench itself never gets
// a capability. Returns true when capture can work (now).
bool offerCapturePermission();

// Debug lines (the link's "send" and "recv" lines among them) and log lines
// go to the log file only; with verbose they are also echoed on standard
// error. Warnings always are.
void echoDebugLines(bool verbose);

// Ends the program when it is asked to (SIGTERM, SIGINT, SIGHUP) at any
// point of its run: every event loop is left, a dialog's (the permission
// notice's, a batch's) included, and any dialog opened after that returns at
// once; every window is closed as its close button does (a running job
// stops, a stream ends with its BYE, the link and the capture helper close),
// so the log is complete. A second signal ends the process at once.
void closeWindowsOnStopSignals();
// True once a stop signal has been taken: start-up goes no further.
bool stopSignalled();

// The notice shown when capture cannot work: a message, the command that
// mends it (selectable, in a fixed-width font), "Grant" when offered, "Ok".
// Grant accepts the dialog; Ok rejects it.
class OrbCapturePermissionDialog : public OrbDialog
{
    Q_OBJECT
public:
    explicit OrbCapturePermissionDialog(QWidget *parent = nullptr);
    void setMessage(const QString &message);
    QString message() const;
    void setCommand(const QString &command);
    QString command() const;
    void setGrantOffered(bool offered);

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    QLabel *label;
    QLineEdit *commandLine;
    QPushButton *grantButton;
    QPushButton *okButton;
};
