// SPDX-License-Identifier: GPL-3.0-or-later
// The multicast dialog offscreen. The process first moves into a network
// namespace of its own (lo only, multicast routed to lo), so the streams it
// starts never leave it; without one the streaming cases skip.
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "RtpTestSupport.h"
#include "multicast/OrbCoreAudioSelectWidget.h"
#include "multicast/OrbFileListWidget.h"
#include "multicast/OrbRtpMulticastDialog.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

namespace {
QString toastText(OrbRtpMulticastDialog &dialog)
{
    return dialog.toast()->view() ? dialog.toast()->view()->text() : QString();
}

QStringList rowNames(OrbFileListWidget *list)
{
    QStringList names;
    for (int i = 0; i < list->files().size(); ++i)
        names << list->itemWidget(i)->name();
    return names;
}
} // namespace

class MulticastDialogTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanup();
    void addressIsCheckedBeforeAnythingStarts();
    void savedStateComesBack();
    void savedDeviceIsPreselected();
    void addTopAndDeleteKeepTheirOrder();
    void durationsReadInTheBackground();
    void startAndStopSwitchTheControls();
    void startThatCannotReadItsInputEndsIdle();
    void aStreamWithoutARouteLeavesThePlayingStateAndSaysWhy();
    void aCaptureThatFallsBehindSaysSoAndStreamsOn();

private:
    const QString song = testAudio().oneSecond, notAudio = testAudio().notAudio;
};

void MulticastDialogTest::initTestCase()
{
    QVERIFY2(!song.isEmpty(), "ffmpeg with libmp3lame is needed to make test audio");
}

void MulticastDialogTest::cleanup()
{
    QFile::remove(OrbConfigure::filePath());
}

void MulticastDialogTest::addressIsCheckedBeforeAnythingStarts()
{
    for (const char *text : {"239.255.0.0:6000", "239.255.0.0", "239.255.0.0:", ":6000", "239.255.0.0:abc", "a:b:c",
                             "239.255.0.0:0", "239.255.0.0:71536", "example.org:6000"}) {
        const bool taken = text == QLatin1String("239.255.0.0:6000");
        QString host;
        int port = 0;
        QVERIFY2(OrbRtpMulticastDialog::parseServer(QLatin1String(text), &host, &port) == taken, text);
        QCOMPARE(host + QLatin1Char(':') + QString::number(port), taken ? QLatin1String(text) : QLatin1String(":0"));
        // Through the dialog: a bad address is refused first, a good one with an
        // empty play list next; neither starts anything nor saves anything.
        OrbRtpMulticastDialog dialog;
        dialog.tabs()->setCurrentIndex(OrbRtpMulticastDialog::FilesTab);
        dialog.addressField()->setText(QLatin1String(text));
        dialog.startButton()->click();
        QCOMPARE(toastText(dialog), taken ? QStringLiteral("Please add file") : QStringLiteral("Please input correct rtp server"));
        QVERIFY(!dialog.isStreaming());
        QVERIFY(OrbConfigure().rtpServer().isEmpty());
    }
}

void MulticastDialogTest::savedStateComesBack()
{
    {
        OrbConfigure configure;
        configure.setRtpServer(QStringLiteral("239.1.2.3:5004"));
        configure.setRtpFileList({song, testAudio().missing, notAudio});
        configure.setRtpSourceIndex(OrbRtpMulticastDialog::SourceTab);
    }
    OrbRtpMulticastDialog dialog;
    QCOMPARE(dialog.addressField()->text(), QStringLiteral("239.1.2.3:5004"));
    QCOMPARE(dialog.tabs()->currentIndex(), int(OrbRtpMulticastDialog::SourceTab));
    QCOMPARE(dialog.fileList()->files(), QStringList({song, notAudio}));
    // No sound server here: only "None", which Start refuses.
    dialog.startButton()->click();
    QCOMPARE(toastText(dialog), QStringLiteral("Please select audio source"));
}

void MulticastDialogTest::savedDeviceIsPreselected()
{
    const QList<AudioDeviceInfo> devices{{QStringLiteral("mic"), QStringLiteral("Microphone"), 0},
                                         {QStringLiteral("hw.monitor"), QStringLiteral("Speakers"), 1},
                                         {QStringLiteral("hw.monitor"), QStringLiteral("Speakers again"), 1}};
    // An input; a repeated id: the last; gone, or its case differs: None.
    const QPair<const char *, int> cases[] = {{"mic", 0}, {"hw.monitor", 2}, {"usb.monitor", 3}, {"MIC", 3}};
    for (const auto &c : cases) {
        OrbCoreAudioSelectWidget selector;
        selector.setDevices(devices, QLatin1String(c.first));
        QVERIFY2(selector.selectedIndex() == c.second, c.first);
        QCOMPARE(selector.selectedDevice().id, c.second < 3 ? devices.at(c.second).id : QString());
    }
}

void MulticastDialogTest::addTopAndDeleteKeepTheirOrder()
{
    OrbFileListWidget list;
    list.addFiles(-1, {QStringLiteral("/m/a.mp3"), QStringLiteral("/m/b.mp3"), QStringLiteral("/m/c.mp3")});
    QCOMPARE(rowNames(&list), QStringList({"a.mp3", "b.mp3", "c.mp3"})); // as picked
    list.setPlaying(2);
    list.addFiles(0, {QStringLiteral("C:\\music\\d.mp3"), QStringLiteral("/m/e.mp3")});
    QCOMPARE(rowNames(&list), QStringList({"a.mp3", "d.mp3", "e.mp3", "b.mp3", "c.mp3"}));
    QVERIFY(list.itemWidget(4)->isPlaying()); // the red mark follows its file
    list.topFile(3);
    QCOMPARE(rowNames(&list), QStringList({"b.mp3", "d.mp3", "e.mp3", "a.mp3", "c.mp3"}));
    list.deleteFile(1);
    list.deleteFile(2);
    list.deleteFile(7);
    QCOMPARE(list.files(), QStringList({"/m/b.mp3", "/m/e.mp3", "/m/c.mp3"}));
    QCOMPARE(rowNames(&list), QStringList({"b.mp3", "e.mp3", "c.mp3"}));
    QCOMPARE(list.listWidget()->count(), 5); // header, three files, the add row
}

void MulticastDialogTest::durationsReadInTheBackground()
{
    const QPair<double, const char *> texts[] = {{3599.9, "59:59"}, {3600.0, "60:00"}, {3601.0, "01:00:01"}, {0.0, "00:00"}};
    for (const auto &t : texts)
        QCOMPARE(OrbFileListWidget::durationText(t.first), QLatin1String(t.second));
    OrbFileListWidget list;
    list.setFiles({song, notAudio});
    list.waitForDurations();
    QCOMPARE(list.itemWidget(0)->duration(), QStringLiteral("00:01"));
    QCOMPARE(list.itemWidget(1)->duration(), QStringLiteral("00:00"));
}

void MulticastDialogTest::startAndStopSwitchTheControls()
{
    if (!inPrivateNetwork())
        QSKIP("needs a network namespace of its own to stream in");
    OrbRtpMulticastDialog dialog;
    dialog.fileList()->setFiles({song});
    dialog.addressField()->setText(QStringLiteral("239.255.42.42:16600"));
    dialog.tabs()->setCurrentIndex(OrbRtpMulticastDialog::FilesTab);
    UdpReceiver receiver(QStringLiteral("239.255.42.42"), 16600);
    dialog.startButton()->click();
    QVERIFY(dialog.isStreaming());
    QVERIFY(!dialog.addressField()->isEnabled() && !dialog.fileList()->isEditable());
    QTRY_COMPARE(dialog.fileList()->playingRow(), 0);
    QVERIFY(dialog.fileList()->itemWidget(0)->isPlaying());
    ReceivedPacket packet;
    QVERIFY(receiver.receive(&packet, 3000));
    QCOMPARE(OrbConfigure().rtpServer(), QStringLiteral("239.255.42.42:16600"));
    QCOMPARE(OrbConfigure().rtpFileList(), QStringList({song}));

    dialog.stopButton()->click();
    QVERIFY(!dialog.isStreaming());
    QVERIFY(dialog.addressField()->isEnabled() && dialog.fileList()->isEditable());
    QCOMPARE(dialog.fileList()->playingRow(), -1);
}

// A file that cannot play, or a source that vanished after the list was
// read: said, and the dialog does not pretend to stream.
void MulticastDialogTest::startThatCannotReadItsInputEndsIdle()
{
    if (!inPrivateNetwork())
        QSKIP("needs a network namespace of its own to stream in");
    for (const bool source : {false, true}) {
        const QString notice = source ? QStringLiteral("Cannot open the audio source") : QStringLiteral("Cannot play notes.mp3");
        OrbRtpMulticastDialog dialog;
        dialog.tabs()->setCurrentIndex(source ? OrbRtpMulticastDialog::SourceTab : OrbRtpMulticastDialog::FilesTab);
        // After the tab: showing the source tab reads the device list again.
        if (source)
            dialog.sourceSelector()->setDevices({{QStringLiteral("unplugged"), QStringLiteral("USB headset"), 0}},
                                                QStringLiteral("unplugged"));
        else
            dialog.fileList()->setFiles({notAudio, song});
        dialog.addressField()->setText(QStringLiteral("239.255.42.42:16602"));
        dialog.startButton()->click();
        QVERIFY(!source || !dialog.isStreaming()); // a source that cannot open is known at once
        QTRY_VERIFY(!dialog.isStreaming());
        QVERIFY(dialog.startButton()->isEnabled());
        QTRY_COMPARE(toastText(dialog), notice);
        QVERIFY(OrbConfigure().deviceId().isEmpty());
    }
}

// Nothing can reach the group: the dialog must not go on showing a stream,
// and says why where it stays in sight.
void MulticastDialogTest::aStreamWithoutARouteLeavesThePlayingStateAndSaysWhy()
{
    if (!inPrivateNetwork())
        QSKIP("needs a network namespace of its own, where no route leads anywhere");
    OrbRtpMulticastDialog dialog;
    dialog.tabs()->setCurrentIndex(OrbRtpMulticastDialog::FilesTab);
    dialog.fileList()->setFiles({song});
    dialog.addressField()->setText(QStringLiteral("198.51.100.7:16604"));
    dialog.startButton()->click();
    QTRY_VERIFY(!dialog.isStreaming());
    QVERIFY(dialog.startButton()->isEnabled() && !dialog.stopButton()->isEnabled());
    QCOMPARE(dialog.fileList()->playingRow(), -1);
    QVERIFY2(dialog.statusLine()->text().startsWith(QStringLiteral("Cannot send to the group")),
             qPrintable(dialog.statusLine()->text()));
}

// A capture source that delivers half of real time: the stream goes on and
// the line under the buttons says why the terminals hear gaps.
void MulticastDialogTest::aCaptureThatFallsBehindSaysSoAndStreamsOn()
{
    if (!inPrivateNetwork())
        QSKIP("needs a network namespace of its own to stream in");
    QTemporaryDir scratch;
    const QString fifo = scratch.filePath(QStringLiteral("slow"));
    PrivatePulseServer pulse({PipeSourceWriter::module(QStringLiteral("slow"), fifo)});
    if (!pulse.reached)
        QSKIP(("no PulseAudio server: " + pulse.problem).c_str());
    const PipeSourceWriter writer(fifo, 100, 0.5);
    OrbRtpMulticastDialog dialog;
    dialog.tabs()->setCurrentIndex(OrbRtpMulticastDialog::SourceTab);
    dialog.sourceSelector()->setDevices({{QStringLiteral("slow"), QStringLiteral("Slow"), 0}}, QStringLiteral("slow"));
    dialog.addressField()->setText(QStringLiteral("239.255.42.42:16606"));
    dialog.startButton()->click();
    QTRY_VERIFY_WITH_TIMEOUT(dialog.statusLine()->text().startsWith(QStringLiteral("The audio source falls behind")),
                             5000);
    QVERIFY(dialog.isStreaming());
    dialog.stopButton()->click();
    QVERIFY(dialog.statusLine()->text().isEmpty());
}

int main(int argc, char **argv)
{
    enterPrivateNetwork();
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", data.path().toLocal8Bit());
    QApplication app(argc, argv);
    MulticastDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_multicast.moc"
