// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaStartup.h"

#include "OrbUtils/OrbAlertDialog.h"
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbFileUtils.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/CapturePermission.h"

#include <QDateTime>
#include <QFile>
#include <QLabel>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QtDebug>

QString openRunLog(const QString &appDir)
{
    const QString path =
        OrbFileUtils::logFileName(OrbFileUtils::logDirectory(appDir), QDateTime::currentDateTime());
    return openLogFile(QFile::encodeName(path)) == 0 ? path : QString();
}

QString languageFileFor(const QString &stored)
{
    return stored.compare(QLatin1String("cn"), Qt::CaseInsensitive) == 0 ? QStringLiteral("cn.txt")
                                                                          : QStringLiteral("en.txt");
}

void loadInterfaceLanguage(const QString &appDir)
{
    OrbConfigure store;
    store.ensureLanguage();
    setLanguageDirectory(OrbFileUtils::languageDirectory(appDir, QStringLiteral(FENWA_LANGUAGE_INSTALL_DIR)));
    const QString file = languageFileFor(store.language());
    loadLanguage(file);
    qDebug() << (file == QLatin1String("cn.txt") ? "install cn language" : "install en language");
}

OrbCapturePermissionDialog::OrbCapturePermissionDialog(QWidget *parent)
    : OrbDialog(parent), label(new QLabel(this)), okButton(new QPushButton(translate("Ok"), this)),
      cancelButton(new QPushButton(translate("Cancel"), this))
{
    setWindowTitle(translate("Packet capture"));
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    connect(okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    // Wider than a plain notice: the question names what will happen.
    resize(440, 130);
}

void OrbCapturePermissionDialog::setMessage(const QString &message)
{
    label->setText(message);
}

QString OrbCapturePermissionDialog::message() const
{
    return label->text();
}

void OrbCapturePermissionDialog::resizeEvent(QResizeEvent *event)
{
    OrbDialog::resizeEvent(event);
    const int buttonWidth = std::max(100, std::max(okButton->sizeHint().width(), cancelButton->sizeHint().width()));
    const int gap = 20;
    const int rowTop = height() - 40;
    label->setGeometry(10, 5, width() - 20, rowTop - 10);
    const int left = (width() - 2 * buttonWidth - gap) / 2;
    okButton->setGeometry(left, rowTop, buttonWidth, 30);
    cancelButton->setGeometry(left + buttonWidth + gap, rowTop, buttonWidth, 30);
}

bool offerCapturePermission(const QString &executable)
{
    if (isCapturePermitted())
        return true;
    qDebug().noquote() << capturePermissionHint(executable);
    OrbCapturePermissionDialog dialog;
    dialog.setMessage(
        translate("This program may not capture network packets yet. Grant it the permission now? Your password will be asked."));
    if (dialog.exec() != QDialog::Accepted)
        return false;

    const QString pkexec = QStandardPaths::findExecutable(QStringLiteral("pkexec"));
    const QString setcap = QStandardPaths::findExecutable(QStringLiteral("setcap"), {QStringLiteral("/usr/sbin"),
                                                                                    QStringLiteral("/sbin")});
    int code = -2;
    if (!pkexec.isEmpty() && !setcap.isEmpty())
        code = QProcess::execute(pkexec, {setcap, QStringLiteral("cap_net_raw,cap_net_admin=eip"), executable});
    qDebug().noquote() << pkexec << setcap << "run" << code;

    OrbAlertDialog alert;
    alert.resize(420, 120);
    alert.setWindowTitle(translate("Packet capture"));
    if (code == 0)
        alert.setText(translate("The capture permission was granted. Please restart the program."));
    else
        alert.setText(translate("The capture permission could not be granted. Ask an administrator to grant it.") +
                      QStringLiteral("\n\n") + capturePermissionHint(executable));
    alert.exec();
    return false;
}
