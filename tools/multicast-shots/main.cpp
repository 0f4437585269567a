// SPDX-License-Identifier: GPL-3.0-or-later
// multicast-shots OUTDIR FILE...: pictures of the multicast dialog for the
// documentation. Shows the dialog with FILE... as its play list, starts the
// stream to the saved group, grabs the "Audio Medias" tab with the first file
// playing, stops, and grabs the "Audio Source" tab. Run by
// scripts/multicast-shots.sh, which gives it a display, a namespace and a
// sound server of its own.
#include "OrbUtils/OrbConfigure.h"
#include "multicast/OrbRtpMulticastDialog.h"

#include <QApplication>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <cstdio>

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() < 3) {
        std::fprintf(stderr, "usage: multicast-shots OUTDIR FILE...\n");
        return 2;
    }
    const QString out = args.at(1);
    {
        OrbConfigure configure;
        configure.setRtpServer(QStringLiteral("239.255.0.1:6000"));
        configure.setRtpFileList(args.mid(2));
        configure.setRtpSourceIndex(OrbRtpMulticastDialog::FilesTab);
        configure.setDeviceId(QStringLiteral("hall.monitor"));
    }
    auto *dialog = new OrbRtpMulticastDialog();
    dialog->resize(460, 620);
    dialog->show();
    int status = 1;
    QTimer::singleShot(1500, [dialog] { dialog->startButton()->click(); });
    QTimer::singleShot(3500, [&] {
        if (dialog->isStreaming() && dialog->grab().save(out + QStringLiteral("/multicast-files.png")))
            status = 0;
        dialog->stopButton()->click();
        dialog->tabs()->setCurrentIndex(OrbRtpMulticastDialog::SourceTab);
    });
    QTimer::singleShot(4500, [&] {
        if (!dialog->grab().save(out + QStringLiteral("/multicast-source.png")))
            status = 1;
        OrbRtpMulticastDialog::closeInstance();
        app.quit();
    });
    app.exec();
    return status;
}
