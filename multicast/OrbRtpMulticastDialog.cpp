// SPDX-License-Identifier: GPL-3.0-or-later
#include "OrbRtpMulticastDialog.h"

#include "OrbCoreAudioSelectWidget.h"
#include "OrbFileListWidget.h"
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/OrbTranslate.h"
#include "OrbUtils/rtp/RTPMulticast.h"
#include "OrbUtils/rtp/RTPPulseAudioReader.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>

#include <arpa/inet.h>
#include <cstring>
#include <ifaddrs.h>
#include <net/if.h>

namespace {
OrbRtpMulticastDialog *current = nullptr;

// Interfaces that can carry multicast now, in the system's order.
QStringList multicastInterfaces()
{
    QStringList names;
    ifaddrs *list = nullptr;
    if (getifaddrs(&list) != 0)
        return names;
    for (ifaddrs *a = list; a; a = a->ifa_next) {
        const unsigned flags = a->ifa_flags;
        const QString name = QString::fromLocal8Bit(a->ifa_name);
        if ((flags & IFF_UP) && (flags & IFF_MULTICAST) && !(flags & IFF_LOOPBACK) && !names.contains(name))
            names << name;
    }
    freeifaddrs(list);
    return names;
}
} // namespace

OrbRtpMulticastDialog::OrbRtpMulticastDialog()
    : OrbDialog(nullptr), title(new QLabel(this)), addressLabel(new QLabel(this)), address(new QLineEdit(this)),
      interfaceLabel(new QLabel(this)), interfaces(new QComboBox(this)), tab(new QTabWidget(this)),
      sources(new OrbCoreAudioSelectWidget), files(new OrbFileListWidget), start(new QPushButton(this)),
      stop(new QPushButton(this)), status(new QLabel(this)), notice(new OrbToast(this)), sendCheck(new QTimer(this))
{
    current = this;
    setWindowTitle(translate("RTP Multicast"));
    // A window of its own beside the main window, streaming for as long as
    // the operator likes.
    setWindowFlags(windowFlags() | Qt::WindowMinMaxButtonsHint);
    title->setText(translate("RTP Multicast"));
    title->setAlignment(Qt::AlignCenter);
    QFont big = title->font();
    big.setPointSizeF(big.pointSizeF() * 1.3);
    big.setBold(true);
    title->setFont(big);
    addressLabel->setText(translate("RTP address"));
    address->setPlaceholderText(translate("eg. 239.255.0.0:6000"));
    interfaceLabel->setText(translate("Network interface"));
    start->setText(translate("Start"));
    stop->setText(translate("Stop"));
    status->setAlignment(Qt::AlignCenter);
    status->setWordWrap(true);
    status->setStyleSheet(QStringLiteral("color: #c0392b;"));
    tab->addTab(files, translate("Audio Medias"));
    tab->addTab(sources, translate("Audio Source"));
    setMinimumSize(420, 600);
    resize(420, 600);

    OrbConfigure configure;
    const QString server = configure.rtpServer();
    if (!server.isEmpty())
        address->setText(server);
    interfaces->addItem(translate("Automatic"), QString());
    const QString savedInterface = configure.rtpInterface();
    for (const QString &name : multicastInterfaces()) {
        interfaces->addItem(name, name);
        if (name == savedInterface)
            interfaces->setCurrentIndex(interfaces->count() - 1);
    }
    sources->setDevices(getAudioDevices(), configure.deviceId());
    files->setFiles(configure.rtpFileList());
    const int sourceIndex = configure.rtpSourceIndex();
    if (sourceIndex == FilesTab || sourceIndex == SourceTab)
        tab->setCurrentIndex(sourceIndex);

    connect(start, &QPushButton::clicked, this, &OrbRtpMulticastDialog::onClickStartButton);
    connect(stop, &QPushButton::clicked, this, &OrbRtpMulticastDialog::onClickStopButton);
    connect(files, &OrbFileListWidget::doubleClicked, this, &OrbRtpMulticastDialog::onDoubleClickFile);
    connect(this, &QDialog::rejected, this, &QObject::deleteLater);
    connect(this, &OrbRtpMulticastDialog::stopAsync, this, &OrbRtpMulticastDialog::onStop, Qt::QueuedConnection);
    connect(this, &OrbRtpMulticastDialog::updateFilePlayingAysnc, this, &OrbRtpMulticastDialog::onUpdateFilePlaying,
            Qt::QueuedConnection);
    connect(
        this, &OrbRtpMulticastDialog::fileFailedAsync, this,
        [this](const QString &file) {
            notice->showText(this, translate("Cannot play %1").arg(OrbFileListWidget::fileName(file)),
                             OrbToast::Top | OrbToast::HCenter, 2000);
        },
        Qt::QueuedConnection);
    connect(sendCheck, &QTimer::timeout, this, &OrbRtpMulticastDialog::checkSending);
    // A headset plugged in after the dialog opened shows up when the
    // operator comes back to the sources; the choice made stays.
    connect(tab, &QTabWidget::currentChanged, this, [this](int index) {
        if (index == SourceTab && !multicast)
            sources->setDevices(getAudioDevices(), sources->selectedDevice().id);
    });
    setIdle(true);
}

OrbRtpMulticastDialog::~OrbRtpMulticastDialog()
{
    stopRun();
    if (current == this)
        current = nullptr;
}

OrbRtpMulticastDialog *OrbRtpMulticastDialog::instance()
{
    return current;
}

void OrbRtpMulticastDialog::closeInstance()
{
    if (current)
        current->reject();
}

bool OrbRtpMulticastDialog::parseServer(const QString &text, QString *host, int *port)
{
    const QStringList parts = text.split(QLatin1Char(':'));
    if (parts.size() != 2)
        return false;
    bool ok = false;
    const int number = parts.at(1).toInt(&ok, 10);
    in_addr parsed;
    // Dotted IPv4 only: the session never looks a name up.
    if (!ok || number <= 0 || number > 65535 || inet_pton(AF_INET, parts.at(0).toLatin1().constData(), &parsed) != 1)
        return false;
    *host = parts.at(0);
    *port = number;
    return true;
}

void OrbRtpMulticastDialog::showNotice(const char *text)
{
    notice->showText(this, translate(text), OrbToast::Top | OrbToast::HCenter, 2000);
}

void OrbRtpMulticastDialog::onClickStartButton(bool)
{
    if (multicast)
        return;
    QString host;
    int port = 0;
    if (!parseServer(address->text().trimmed(), &host, &port)) {
        showNotice("Please input correct rtp server");
        return;
    }
    const int sourceTab = tab->currentIndex();
    const AudioDeviceInfo device = sources->selectedDevice();
    RTPAudioReader *source = nullptr;
    if (sourceTab == FilesTab) {
        if (files->files().isEmpty()) {
            showNotice("Please add file");
            return;
        }
        fileSource = new RTPFileAudioReader();
        fileSource->setObserver(this);
        fileSource->setFiles(files->files());
        source = fileSource;
    } else {
        if (device.id.isEmpty()) {
            showNotice("Please select audio source");
            return;
        }
        auto *capture = new RTPPulseAudioReader();
        capture->setDevice(device);
        source = capture;
    }
    multicast = std::make_unique<RTPMulticast>();
    multicast->setReader(source);
    multicast->setInterface(interfaces->currentData().toString());
    if (multicast->start(host, port) < 0) {
        showNotice("Start RTP Multicast failed");
        stopRun();
        return;
    }
    // A play list that fails to open comes back through stopAsync; a capture
    // source that fails has nobody to say so but this.
    if (sourceTab == SourceTab && multicast->localPort() < 0) {
        showNotice("Cannot open the audio source");
        stopRun();
        return;
    }
    OrbConfigure configure;
    configure.setRtpServer(address->text().trimmed());
    if (sourceTab == FilesTab)
        configure.setRtpFileList(files->files());
    else
        configure.setDeviceId(device.id);
    configure.setRtpSourceIndex(sourceTab);
    configure.setRtpInterface(interfaces->currentData().toString());
    status->clear();
    sendCheck->start(200);
    setIdle(false);
}

// A stream that cannot go on stops here, and says why where it stays in
// sight (a toast is gone before anyone looks).
void OrbRtpMulticastDialog::checkSending()
{
    if (!multicast)
        return;
    QString why;
    switch (multicast->failure()) {
    case RTPMulticast::SourceGone:
        why = translate("The audio source is gone: streaming stopped");
        break;
    case RTPMulticast::SendRefused:
        why = translate("Cannot send to the group (%1): streaming stopped. Check the network interface.")
                  .arg(QString::fromLocal8Bit(std::strerror(multicast->lastSendError())));
        break;
    case RTPMulticast::NoFailure:
        showShortfall();
        return;
    }
    ORB_LOG("multicast to %s stopped: %s\n", qPrintable(address->text().trimmed()), qPrintable(why));
    onStop();
    status->setText(why);
}

// A capture source that cannot keep real time streams on, with gaps; the
// line says so for the rest of the run.
void OrbRtpMulticastDialog::showShortfall()
{
    const RTPMulticast::Shortfall shortfall = multicast->shortfall();
    QStringList lines;
    if (shortfall.episodes > 0)
        lines << translate("The audio source falls behind real time: %1 s of its audio came late, so the terminals hear gaps")
                     .arg(shortfall.lateMs / 1000.0, 0, 'f', 1);
    if (shortfall.droppedMs > 0)
        lines << translate("The audio source delivers more audio than real time: %1 s of it dropped")
                     .arg(shortfall.droppedMs / 1000.0, 0, 'f', 1);
    if (!lines.isEmpty())
        status->setText(lines.join(QLatin1Char('\n')));
}

void OrbRtpMulticastDialog::stopRun()
{
    sendCheck->stop();
    fileSource = nullptr;
    if (multicast) {
        multicast->stop();
        multicast.reset();
    }
}

void OrbRtpMulticastDialog::setIdle(bool idle)
{
    address->setEnabled(idle);
    interfaces->setEnabled(idle);
    files->setEditable(idle);
    sources->setEnabled(idle);
    start->setEnabled(idle);
    stop->setEnabled(!idle);
    if (idle)
        files->setPlaying(-1);
}

void OrbRtpMulticastDialog::onClickStopButton(bool)
{
    onStop();
    status->clear();
}

void OrbRtpMulticastDialog::onStop()
{
    stopRun();
    setIdle(true);
}

void OrbRtpMulticastDialog::onDoubleClickFile(int position)
{
    if (fileSource)
        fileSource->openFile(position);
}

void OrbRtpMulticastDialog::onUpdateFilePlaying(int position, QString)
{
    if (multicast)
        files->setPlaying(position);
}

void OrbRtpMulticastDialog::onFileOpened(RTPFileAudioReader *, int32_t index, const QString &path)
{
    emit updateFilePlayingAysnc(index, path);
}

void OrbRtpMulticastDialog::onFileOpenFailed(RTPFileAudioReader *, int32_t, const QString &path)
{
    emit fileFailedAsync(path);
    emit stopAsync();
}

void OrbRtpMulticastDialog::resizeEvent(QResizeEvent *event)
{
    OrbDialog::resizeEvent(event);
    const int w = width();
    const int h = height();
    title->setGeometry((w - 300) / 2, 15, 300, 30);
    addressLabel->setGeometry(10, 55, 120, 22);
    address->setGeometry(140, 55, w - 160, 22);
    interfaceLabel->setGeometry(10, 85, 120, 22);
    interfaces->setGeometry(140, 85, w - 160, 22);
    tab->setGeometry(10, 120, w - 20, h - 215);
    const int q = w / 2;
    const int x = (q - 150) / 2;
    start->setGeometry(x, h - 80, 150, 30);
    stop->setGeometry(x + q, h - 80, 150, 30);
    status->setGeometry(10, h - 45, w - 20, 40);
}

void OrbRtpMulticastDialog::closeEvent(QCloseEvent *event)
{
    stopRun();
    OrbDialog::closeEvent(event);
}

void OrbRtpMulticastDialog::reject()
{
    stopRun();
    OrbDialog::reject();
}
