// SPDX-License-Identifier: GPL-3.0-or-later
// The workbench end to end: its main window (and, once, the executable) in a
// tool namespace of this test's own, fenwa-sim with terminals of supported
// and unsupported models on the other end of a veth pair. Nothing here can
// reach a real interface: the process enters the tool namespace before the
// application object, and with it every thread, exists.
#include "MainWindow.h"
#include "e2e_segment.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/widgets/OrbTableView.h"
#include "OrbUtils/OrbTranslate.h"
#include "multicast/OrbRtpMulticastDialog.h"
#include "FenwaLinkStatus.h"
#include "FenwaLiveSearch.h"
#include "FenwaSiteActions.h"
#include "OrbUtils/OrbConfigure.h"
#include "settings/FenwaNameSettingWidget.h"
#include "settings/FenwaPlanDialog.h"
#include "settings/FenwaReadSettingWidget.h"
#include "settings/FenwaSettingDialog.h"
#include "settings/FenwaVersionSettingWidget.h"
#include "settings/OrbNetworkDialog.h"
#include "table/FenwaDeviceModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QAbstractButton>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScrollArea>
#include <QSignalSpy>
#include <QSlider>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>
#include <unistd.h>

namespace {
E2eSegment *segment = nullptr;

// Six terminals cycling through three models: VQT40, VQ99 (not supported),
// vq40. Their web side is on; the third holds other credentials than it
// reports and the fourth never answers HTTP.
const QStringList kSimArgs = {"--count", "6", "--types", "VQT40,VQ99,vq40", "--base-mac", "02:fe:00:00:00:01",
                              "--web-fault", "wrong-login:3", "--web-fault", "hang:4", "--reboot-ms", "1500"};
const QStringList kMacs = {"02:fe:00:00:00:01", "02:fe:00:00:00:03", "02:fe:00:00:00:04", "02:fe:00:00:00:06"};

QStringList tableColumn(const FenwaDeviceModel *model, int column)
{
    QStringList values;
    for (int r = 0; r < model->rowCount(); ++r)
        values << model->index(r, column).data().toString();
    return values;
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QStringList debugLines;
QtMessageHandler previousHandler = nullptr;
void keepDebugLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    debugLines << message;
    previousHandler(type, context, message);
}
} // namespace

class WorkbenchE2e : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void cleanup();

    void searchFindsSupportedTerminalsOnceSortedByMacAgainOnEveryAdapter();
    void columnsBringUpTheirPagesAndTheWindowOwnsItsDialogs();
    void pagesSetTerminalsToExactlyTheAcceptedValues();
    void sipAndRtpRoundTripShowInTheTable();
    void firmwareBatchReportsEachTerminalAndWaitsForItsReturn();
    void keepSearchingMarksWhatLeavesAndReturnsAndGivesWayToBatches();
    void closingTheWindowDuringABatchStopsItAndCloses();
    void executableStartsSearchesAndLogs();
    void planPreviewRefusesARowAndAppliesTheRest();

private:
    bool startWindow();
    QPushButton *button(const char *text, QWidget *in = nullptr) const;
    // Clicks a cell as the operator would and returns the page in the panel.
    FenwaSettingWidget *click(int row, int column);
    // Answers every modal dialog that comes up with `answer` until stopped.
    void onModal(std::function<void(QWidget *)> answer);

    SimProcess sim;
    std::unique_ptr<QSignalSpy> done;
    QTemporaryDir tmp;
    QString logPath;
    MainWindow *window = nullptr;
    QTimer modalTimer;
    QStringList unexpected; // boxes no test step asked for, closed so that a failure cannot hang
};

void WorkbenchE2e::initTestCase()
{
    QVERIFY(segment && segment->isUp());
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation)
                  + QStringLiteral("/configure/configure.ini"));
    const QByteArray error = sim.start(*segment, kSimArgs);
    QVERIFY2(error.isEmpty(), error.constData());
}

void WorkbenchE2e::init()
{
    logPath = tmp.filePath(QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral(".log"));
    QCOMPARE(openLogFile(QFile::encodeName(logPath)), 0);
    unexpected.clear();
    onModal([this](QWidget *w) {
        // Progress dialogs close by themselves; boxes wait for an answer.
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            unexpected << box->text();
            box->reject();
        } else if (auto *result = qobject_cast<FenwaBatchResultDialog *>(w)) {
            unexpected << result->text();
            result->reject();
        }
    });
}

void WorkbenchE2e::cleanup()
{
    QVERIFY2(unexpected.isEmpty(), qPrintable(unexpected.join(QLatin1Char('\n'))));
    modalTimer.stop();
    modalTimer.disconnect();
    done.reset();
    delete window;
    window = nullptr;
    closeLogFile();
}

// Opens the main window and waits for the search it starts by itself.
bool WorkbenchE2e::startWindow()
{
    window = new MainWindow;
    done.reset(new QSignalSpy(window, &MainWindow::searchFinished));
    window->show();
    return QTest::qWaitFor([this] { return done->count() == 1; }, 10000);
}

QPushButton *WorkbenchE2e::button(const char *text, QWidget *in) const
{
    for (QPushButton *b : (in ? in : window)->findChildren<QPushButton *>())
        if (b->text() == translate(text))
            return b;
    return nullptr;
}

FenwaSettingWidget *WorkbenchE2e::click(int row, int column)
{
    OrbTableView *table = window->tableView();
    const QModelIndex index = window->deviceModel()->index(row, column);
    table->scrollTo(index);
    QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualRect(index).center());
    return window->currentPage();
}

void WorkbenchE2e::onModal(std::function<void(QWidget *)> answer)
{
    modalTimer.disconnect();
    connect(&modalTimer, &QTimer::timeout, [answer] {
        if (QWidget *w = QApplication::activeModalWidget())
            answer(w);
    });
    modalTimer.start(50);
}

void WorkbenchE2e::searchFindsSupportedTerminalsOnceSortedByMacAgainOnEveryAdapter()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    QCOMPARE(QByteArray(window->sdk()->currentAdapter()->name), segment->toolIf);
    QCOMPARE(tableColumn(model, FenwaDeviceModel::MacColumn), kMacs);
    QCOMPARE(done->first().at(0).toInt(), 4);
    QCOMPARE(tableColumn(model, FenwaDeviceModel::NumberColumn), QStringList({"1", "2", "3", "4"}));
    QVERIFY(!tableColumn(model, FenwaDeviceModel::IpColumn).contains(QString()));
    QVERIFY(model->checkedDevices().isEmpty());

    // "Search": while it runs the table is empty and the page gone; new
    // records start unchecked.
    FenwaSettingWidget *page = click(0, FenwaDeviceModel::NameColumn);
    QVERIFY(page && page->isVisible());
    model->setData(model->index(0, 0), true, FenwaDeviceModel::CheckRole);
    QTimer::singleShot(300, [&] {
        QCOMPARE(model->rowCount(), 0);
        QCOMPARE(window->currentPage(), nullptr);
    });
    button("Search")->click();
    QCOMPARE(done->count(), 2);
    QVERIFY(!page->isVisible());
    QCOMPARE(tableColumn(model, FenwaDeviceModel::MacColumn), kMacs);
    QVERIFY(model->checkedDevices().isEmpty());

    // "Network": the chosen adapter is reopened and searched at once.
    QString listed;
    onModal([&](QWidget *w) {
        if (auto *dialog = qobject_cast<OrbNetworkDialog *>(w)) {
            listed = dialog->findChild<QComboBox *>()->currentText();
            dialog->findChild<QPushButton *>()->click();
        }
    });
    button("Network")->click();
    QVERIFY2(listed.contains(QStringLiteral("192.168.1.2")), qPrintable(listed));
    QVERIFY(window->windowTitle().contains(QStringLiteral("192.168.1.2")));
    QCOMPARE(done->count(), 3);
    QCOMPARE(tableColumn(model, FenwaDeviceModel::MacColumn), kMacs);
}

void WorkbenchE2e::columnsBringUpTheirPagesAndTheWindowOwnsItsDialogs()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    const int fullHeight = window->tableView()->height();
    const struct {
        int row, column;
        const char *page; // class name; empty: the panel is empty
    } steps[] = {
        {0, FenwaDeviceModel::IpColumn, "FenwaIpSettingWidget"},
        {2, FenwaDeviceModel::GatewayColumn, "FenwaIpSettingWidget"},
        {1, FenwaDeviceModel::CheckColumn, "FenwaIpSettingWidget"},
        {1, FenwaDeviceModel::NameColumn, "FenwaNameSettingWidget"},
        {1, FenwaDeviceModel::MacColumn, "FenwaMacSettingWidget"},
        {3, FenwaDeviceModel::VolumeColumn, "FenwaAudioSettingWidget"},
        {3, FenwaDeviceModel::SystemColumn, "FenwaTestSettingWidget"},
        {3, FenwaDeviceModel::UidColumn, ""},
        {0, FenwaDeviceModel::NumberColumn, ""},
    };
    QHash<QString, FenwaSettingWidget *> seen;
    for (const auto &step : steps) {
        FenwaSettingWidget *page = click(step.row, step.column);
        const QString name = QLatin1String(step.page);
        QCOMPARE(page ? QString::fromLatin1(page->metaObject()->className()) : QString(), name);
        if (page == nullptr) {
            QCOMPARE(window->tableView()->height(), fullHeight); // the table has the panel's room
            continue;
        }
        QCOMPARE(page->currentDevice(), model->deviceAt(step.row));
        QCOMPARE(window->panelArea()->widget(), page);
        QCOMPARE(window->panelArea()->geometry(), window->panelRect());
        QVERIFY(window->tableView()->geometry().bottom() < window->panelRect().top());
        QCOMPARE(seen.value(name, page), page); // one instance per page class
        seen.insert(name, page);
    }
    // The play icon makes the terminal play its test sound; the panel stays.
    QCOMPARE(click(2, FenwaDeviceModel::PlayColumn), nullptr);
    QCOMPARE(sim.terminal(kMacs[2]).value(QStringLiteral("testSounds")).toInt(), 1);

    // A name typed into the table's own editor reaches that one terminal;
    // an unchanged one sends nothing.
    const QModelIndex name = model->index(0, FenwaDeviceModel::NameColumn);
    const int commandsBefore = sim.commands().size();
    model->setData(name, model->deviceAt(0)->name, Qt::EditRole);
    window->tableView()->edit(name);
    auto *editor = window->tableView()->viewport()->findChild<QLineEdit *>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("Desk"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(sim.terminal(kMacs[0]).value(QStringLiteral("name")).toString(), QStringLiteral("Desk"));
    QTRY_COMPARE(name.data().toString(), QStringLiteral("Desk"));
    QCOMPARE(sim.commands().size(), commandsBefore + 1);

    // One multicast dialog, raised again rather than doubled, gone with the window.
    button("RTP Multicast")->click();
    QPointer<OrbRtpMulticastDialog> first = OrbRtpMulticastDialog::instance();
    QVERIFY(first && first->isVisible());
    first->showMinimized();
    button("RTP Multicast")->click();
    QCOMPARE(OrbRtpMulticastDialog::instance(), first.data());
    QVERIFY(!first->isMinimized());
    window->close();
    QTRY_VERIFY(first.isNull());
}

void WorkbenchE2e::pagesSetTerminalsToExactlyTheAcceptedValues()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    const QStringList oldNames = tableColumn(model, FenwaDeviceModel::NameColumn);
    QJsonArray others; // the unsupported terminals, which no batch may touch
    for (const char *mac : {"02:fe:00:00:00:02", "02:fe:00:00:00:05"})
        others << sim.terminal(QLatin1String(mac));

    // Names on the ticked rows 2 and 4.
    auto *names = qobject_cast<FenwaNameSettingWidget *>(click(0, FenwaDeviceModel::NameColumn));
    QVERIFY(names);
    for (int row : {1, 3})
        model->setData(model->index(row, 0), true, FenwaDeviceModel::CheckRole);
    names->lineEdit()->setText(QStringLiteral("Lobby"));
    button("Set All", names)->click();
    QVERIFY(model->checkedDevices().isEmpty()); // all accepted: nothing left to retry

    // A static range over every row: past broadcast, network and gateway,
    // this PC (.2) and a host that is no terminal (.254); the report names both.
    const QString simNs = QString::fromLatin1(segment->simNs);
    QCOMPARE(runCommand({"ip", "-n", simNs, "link", "add", "wbhost0", "link", QString::fromLatin1(segment->simIf),
                         "type", "macvlan", "mode", "bridge"}),
             0);
    QCOMPARE(runCommand({"ip", "-n", simNs, "addr", "add", "192.168.1.254/24", "dev", "wbhost0"}), 0);
    QCOMPARE(runCommand({"ip", "-n", simNs, "link", "set", "wbhost0", "up"}), 0);
    FenwaSettingWidget *ip = click(0, FenwaDeviceModel::IpColumn);
    const QList<QLineEdit *> fields = ip->findChildren<QLineEdit *>();
    const QStringList typed{"192.168.1.253", "192.168.1.1", "255.255.255.0", "192.168.1.1", ""};
    for (int i : {0, 1}) { // DHCP takes no typed value, a static address all five
        ip->findChild<QComboBox *>()->setCurrentIndex(i);
        for (QLineEdit *field : fields)
            QCOMPARE(field->isEnabled(), i == 1);
    }
    for (int i = 0; i < 5; ++i)
        fields[i]->setText(typed[i]);
    QString report;
    onModal([&](QWidget *w) {
        if (auto *box = qobject_cast<FenwaBatchResultDialog *>(w)) {
            report = box->text();
            box->accept();
        }
    });
    button("Set All", ip)->click();
    runCommand({"ip", "-n", simNs, "link", "del", "wbhost0"});
    QVERIFY2(report.startsWith(QStringLiteral("4 of 4 terminals accepted")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("192.168.1.254: answers ARP from")), qPrintable(report));
    QVERIFY2(report.contains(QStringLiteral("192.168.1.2: this PC")), qPrintable(report));

    auto *audio = click(0, FenwaDeviceModel::VolumeColumn);
    audio->findChildren<QSlider *>().at(0)->setValue(40);
    audio->findChildren<QSlider *>().at(1)->setValue(70);
    audio->findChild<QCheckBox *>()->setChecked(true);
    button("Set All", audio)->click();

    // The account of the third terminal alone; its password never in clear.
    auto *system = click(2, FenwaDeviceModel::SystemColumn);
    system->findChildren<QLineEdit *>().at(0)->setText(QStringLiteral("installer"));
    system->findChildren<QLineEdit *>().at(1)->setText(QStringLiteral("s3cret"));
    debugLines.clear();
    previousHandler = qInstallMessageHandler(keepDebugLine);
    button("Set", system)->click();
    qInstallMessageHandler(previousHandler);
    const QString digest = QStringLiteral("33e1b232a4e6fa0028a6670753749a17"); // md5("s3cret")
    QVERIFY(readFile(logPath).contains(digest.toLatin1()));
    QVERIFY(!readFile(logPath).contains("s3cret"));
    QVERIFY(!debugLines.join(QLatin1Char('\n')).contains(QStringLiteral("s3cret")));

    const QStringList ips{"192.168.1.253", "192.168.1.3", "192.168.1.4", "192.168.1.5"};
    for (int row = 0; row < 4; ++row) {
        const QJsonObject t = sim.terminal(kMacs[row]);
        const QJsonObject want{{"name", row % 2 ? QStringLiteral("Lobby") : oldNames[row]}, {"ip", ips[row]},
                               {"dns1", typed[3]}, {"dns2", ""}, {"micVolume", 40}, {"outVolume", 70},
                               {"autoMute", 1}, {"account", row == 2 ? "installer" : "admin"}};
        for (auto it = want.begin(); it != want.end(); ++it)
            QVERIFY2(t.value(it.key()) == it.value(), qPrintable(kMacs[row] + ' ' + it.key()));
        if (row == 2)
            QCOMPARE(t.value(QStringLiteral("password")).toString(), digest);
        // The table shows what the terminals accepted.
        QCOMPARE(model->index(row, FenwaDeviceModel::IpColumn).data().toString(), ips[row]);
        QCOMPARE(model->index(row, FenwaDeviceModel::VolumeColumn).data().toString(), QStringLiteral("40,70"));
    }
    for (const QJsonValue &v : others) {
        // Searches count as answered commands, whenever the file was written.
        QJsonObject before = v.toObject(), after = sim.terminal(before.value(QStringLiteral("mac")).toString());
        before.remove(QStringLiteral("commandsAnswered"));
        after.remove(QStringLiteral("commandsAnswered"));
        QCOMPARE(after, before);
    }
}

void WorkbenchE2e::sipAndRtpRoundTripShowInTheTable()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    auto *sip = qobject_cast<FenwaReadSettingWidget *>(click(0, FenwaDeviceModel::SipColumn));
    QVERIFY(sip);
    QCOMPARE(sip->fields().at(4)->text(), QStringLiteral("5060")); // read from the terminal
    QCOMPARE(sip->fields().at(1)->echoMode(), QLineEdit::Password);
    const QStringList typed{"1001", "pa\"ss\\", "Desk \"A\"", "pbx.local", "5060"};
    for (int f = 0; f < 5; ++f)
        sip->fields().at(f)->setText(typed[f]);
    button("Set", sip)->click();
    const QJsonObject account = sim.terminal(kMacs[0]).value(QStringLiteral("sip0")).toObject();
    const char *keys[5] = {"account", "password", "displayName", "serverHost", "serverPort"};
    for (int f = 0; f < 5; ++f)
        QCOMPARE(account.value(QLatin1String(keys[f])).toString(), typed[f]);
    QCOMPARE(model->index(0, FenwaDeviceModel::SipColumn).data().toString(), QStringLiteral("1001@pbx.local"));

    // Read terminal 1 again and tick rows 1 and 2: the page keeps terminal 1
    // and what it read, and "Set All" copies that to terminal 2 after one
    // question.
    QCOMPARE(click(0, FenwaDeviceModel::SipColumn), sip);
    for (int row : {0, 1})
        click(row, FenwaDeviceModel::CheckColumn);
    QCOMPARE(model->checkedDevices().size(), 2);
    QCOMPARE(sip->currentDevice(), model->deviceAt(0));
    QCOMPARE(sip->fields().at(0)->text(), typed[0]);
    QStringList questions;
    onModal([&](QWidget *w) {
        if (auto *box = qobject_cast<QMessageBox *>(w)) {
            questions << box->text();
            for (QAbstractButton *b : box->buttons())
                if (box->buttonRole(b) == QMessageBox::AcceptRole)
                    b->click();
        }
    });
    button("Set All", sip)->click();
    QCOMPARE(questions, QStringList(QStringLiteral("Write the SIP accounts read from %1 to 2 terminals?")
                                        .arg(model->deviceAt(0)->name)));
    for (int row : {0, 1})
        QCOMPARE(sim.terminal(kMacs[row]).value(QStringLiteral("sip0")).toObject(), account);

    // Channel 3 alone to every terminal: the column shows it.
    auto *rtp = qobject_cast<FenwaReadSettingWidget *>(click(1, FenwaDeviceModel::RtpColumn));
    QVERIFY(rtp);
    QCOMPARE(rtp->fields().at(0)->text(), QStringLiteral("239.255.0.1:6000"));
    for (int i = 0; i < 10; ++i)
        rtp->fields().at(i)->setText(i == 2 ? QStringLiteral("239.1.1.3:6004") : QString());
    button("Set All", rtp)->click();
    QCOMPARE(questions.last(), QStringLiteral("Write the RTP channels shown on this page to 4 terminals?"));
    for (int row = 0; row < kMacs.size(); ++row) {
        const QJsonObject t = sim.terminal(kMacs[row]);
        QCOMPARE(t.value(QStringLiteral("rtp2")).toObject(),
                 QJsonObject({{"enable", 1}, {"rtpIP", "239.1.1.3"}, {"rtpPort", 6004}}));
        QCOMPARE(t.value(QStringLiteral("rtp0")).toObject().value(QStringLiteral("rtpIP")).toString(), QString());
        QCOMPARE(model->index(row, FenwaDeviceModel::RtpColumn).data().toString(), QStringLiteral("239.1.1.3:6004"));
    }
}

void WorkbenchE2e::firmwareBatchReportsEachTerminalAndWaitsForItsReturn()
{
    QVERIFY(startWindow());
    QByteArray image("\x7f" "ELF\0\r\n--window-iptool-upload\r\n", 29);
    image += QByteArray(200000, '\xa5');
    const QString path = tmp.filePath(QStringLiteral("fw-2.5.0.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();

    auto *page = qobject_cast<FenwaVersionSettingWidget *>(click(0, FenwaDeviceModel::VersionColumn));
    QVERIFY(page);
    page->pathEdit()->setText(path);
    // The result box offers to wait; the wait's own box says who is back.
    QString result, waited;
    onModal([&](QWidget *w) {
        if (auto *box = qobject_cast<FenwaBatchResultDialog *>(w)) {
            if (!result.isEmpty()) {
                waited = box->text();
                box->accept();
                return;
            }
            result = box->text();
            for (QPushButton *b : box->findChildren<QPushButton *>())
                if (b->text() == translate("Wait for them"))
                    b->click();
        } else if (auto *question = qobject_cast<QMessageBox *>(w)) {
            if (question->text() == QStringLiteral("Upgrade the firmware of 4 terminals with fw-2.5.0.bin (195.34 KiB)? "
                                                          "Each restarts once it has the file."))
                question->buttons().first()->click();
        }
    });
    button("Set All", page)->click();

    QVERIFY2(result.startsWith(QStringLiteral("2 of 4 terminals accepted")), qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("%1): login refused (HTTP 200)").arg(kMacs[1])), qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("%1): not logged in: no answer for 10 s").arg(kMacs[2])), qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("2 of them restart")), qPrintable(result));
    QVERIFY2(waited.startsWith(QStringLiteral("2 of 2 terminals back")), qPrintable(waited));
    QVERIFY2(waited.contains(QStringLiteral("%1): back after").arg(kMacs[3])) && waited.contains(QStringLiteral(": 2.4.1 → 2.5.0")),
             qPrintable(waited));
    // The rows took the rounds' versions; only the two upgraded changed.
    FenwaDeviceModel *model = window->deviceModel();
    QCOMPARE(tableColumn(model, FenwaDeviceModel::VersionColumn), QStringList({"2.5.0", "2.4.1", "2.4.1", "2.5.0"}));
    QCOMPARE(model->index(0, FenwaDeviceModel::VersionColumn).data(Qt::ToolTipRole).toString(), QStringLiteral("Was: 2.4.1"));
    QVERIFY(model->lastResult(model->deviceAt(0)).startsWith(QStringLiteral("back after")));
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    for (int row : {0, 3}) {
        const QJsonObject web = sim.terminal(kMacs[row]).value(QStringLiteral("web")).toObject();
        QCOMPARE(web.value(QStringLiteral("file")).toString(), QStringLiteral("fw-2.5.0.bin"));
        QCOMPARE(web.value(QStringLiteral("sha256")).toString(), sha);
    }
}

// "Keep searching" with rounds a few tenths of a second apart: batches run
// between them, never beside one, and the rows show terminals that stop
// answering and return, without a search by hand.
void WorkbenchE2e::keepSearchingMarksWhatLeavesAndReturnsAndGivesWayToBatches()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    window->liveSearch()->setInterval(300);
    window->keepSearchingBox()->click();
    QVERIFY(OrbConfigure().keepSearching());
    QSignalSpy rounds(window->liveSearch(), &FenwaLiveSearch::roundMerged);
    // A round that ran beside a batch would lose replies to it, and miss
    // terminals that answered.
    int missed = 0;
    connect(window->liveSearch(), &FenwaLiveSearch::roundMerged, window, [&] {
        for (const FenwaLiveList::Row &row : model->live().rows())
            missed = std::max(missed, row.missed);
    });
    auto *names = qobject_cast<FenwaNameSettingWidget *>(click(0, FenwaDeviceModel::NameColumn));
    QVERIFY(names);
    for (int i = 0; i < 3; ++i) {
        names->lineEdit()->setText(QStringLiteral("Live %1").arg(i));
        button("Set All", names)->click();
        for (int row = 0; row < 4; ++row)
            QCOMPARE(model->lastResult(model->deviceAt(row)), translate("accepted"));
        QTest::qWait(400); // a round is under way when the next batch starts
    }
    QVERIFY(rounds.wait(5000));
    QCOMPARE(missed, 0);
    // Nor did a batch lose an answer to a round: each name went out once.
    int sent = 0;
    for (const QByteArray &command : sim.commands())
        sent += command.contains("\"name\":\"Live ") ? 1 : 0;
    QCOMPARE(sent, 12);

    sim.stop();
    QVERIFY(QTest::qWaitFor([&] { return model->live().offline() == 4; }, 10000));
    QVERIFY(model->index(0, FenwaDeviceModel::StatusColumn).data().toString().startsWith(QStringLiteral("offline since")));
    QVERIFY2(window->linkStatus()->text().contains(QStringLiteral("offline: 4")), qPrintable(window->linkStatus()->text()));
    // They come back as restarted terminals: with their factory names.
    const QByteArray error = sim.start(*segment, kSimArgs);
    QVERIFY2(error.isEmpty(), error.constData());
    QVERIFY(QTest::qWaitFor([&] { return model->live().offline() == 0; }, 10000));
    QVERIFY(model->index(0, FenwaDeviceModel::StatusColumn).data().toString().startsWith(QStringLiteral("back at")));
    QCOMPARE(model->index(0, FenwaDeviceModel::NameColumn).data(Qt::ToolTipRole).toString(), QStringLiteral("Was: Live 2"));
    QCOMPARE(tableColumn(model, FenwaDeviceModel::MacColumn), kMacs);
    // Unticked during a round: the round is cancelled, not waited out.
    QVERIFY(QTest::qWaitFor([&] { return window->liveSearch()->inRound(); }, 5000));
    QElapsedTimer untick;
    untick.start();
    window->keepSearchingBox()->click();
    QVERIFY2(untick.elapsed() < FenwaLiveList::ROUND_MS / 2, qPrintable(QString::number(untick.elapsed())));
    QVERIFY(!OrbConfigure().keepSearching());
}

// As a stop signal closes it: no question, no report box (cleanup fails on
// any box nobody answered), the window gone once the batch has returned.
void WorkbenchE2e::closingTheWindowDuringABatchStopsItAndCloses()
{
    QVERIFY(startWindow());
    sim.stop(); // the terminals fall silent: the batch waits for answers
    auto *names = qobject_cast<FenwaNameSettingWidget *>(click(0, FenwaDeviceModel::NameColumn));
    QVERIFY(names);
    names->lineEdit()->setText(QStringLiteral("Gone"));
    QTimer::singleShot(500, window, &QWidget::close);
    QElapsedTimer timer;
    timer.start();
    button("Set All", names)->click();
    QVERIFY(timer.elapsed() < 2000); // stopped, not waited out
    QTRY_VERIFY(!window->isVisible());
    QCOMPARE(FenwaSettingDialog::running(), nullptr);
    QVERIFY(readFile(logPath).contains("stopping the batch under way first"));
    const QByteArray error = sim.start(*segment, kSimArgs);
    QVERIFY2(error.isEmpty(), error.constData());
}

void WorkbenchE2e::executableStartsSearchesAndLogs()
{
    // The real start-up: the log in the per-user data directory (never
    // beside the executable), language files, the window and its search.
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path()); // keep the operator's configuration untouched
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    QProcess workbench;
    workbench.setProcessEnvironment(env);
    workbench.start(QStringLiteral(FENWA_WORKBENCH_PATH), QStringList());
    QVERIFY(workbench.waitForStarted(5000));
    const QString logDir = home.path() + QStringLiteral("/fenwa-workbench/log/");
    const auto runLog = [&logDir] {
        const QStringList logs = QDir(logDir).entryList({QStringLiteral("*.log")});
        return logs.isEmpty() ? QByteArray() : readFile(logDir + logs.first());
    };
    QTRY_VERIFY_WITH_TIMEOUT(runLog().contains("search found"), 10000);
    workbench.terminate(); // closes the window as its close button would
    if (!workbench.waitForFinished(5000)) {
        workbench.kill();
        workbench.waitForFinished(5000);
    }
    QCOMPARE(workbench.exitStatus(), QProcess::NormalExit);

    // One log (private as every log is: the core test's). One search frame,
    // sent again while the search collects, and each of the six terminals'
    // first reply, by the window's own lines.
    const QStringList logs = QDir(logDir).entryList({QStringLiteral("*.log")});
    QCOMPARE(logs.size(), 1);
    const QByteArray log = readFile(logDir + logs.first());
    const QRegularExpression line(QStringLiteral("^\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3}\\]  MainWindow\\.cpp:"
                                                 "\\d+\\(MainWindow::on(Send|Recv)Command\\) (send|recv) (.*)$"),
                                  QRegularExpression::MultilineOption);
    QStringList sent, received;
    for (auto it = line.globalMatch(QString::fromUtf8(log)); it.hasNext();) {
        const QRegularExpressionMatch m = it.next();
        (m.captured(2) == QLatin1String("send") ? sent : received) << m.captured(3);
    }
    QVERIFY(sent.size() >= 2);
    QCOMPARE(sent.count(sent.first()), sent.size());
    QCOMPARE(received.size(), 6);
    QVERIFY(log.contains("link closed")); // the teardown ran, and the log saw it
    QVERIFY(!QDir(QFileInfo(QStringLiteral(FENWA_WORKBENCH_PATH)).absolutePath() + QStringLiteral("/log")).exists());
    QVERIFY(readFile(home.path() + QStringLiteral("/fenwa-workbench/configure/configure.ini")).contains("langage=en"));
}

void WorkbenchE2e::planPreviewRefusesARowAndAppliesTheRest()
{
    QVERIFY(startWindow());
    const QString plan = tmp.filePath(QStringLiteral("plan.csv"));
    QFile f(plan);
    QVERIFY(f.open(QIODevice::WriteOnly));
    // The second row asks for the PC's own address.
    f.write("mac;name;sip1_account;sip1_server_host;ip;mic_volume\n"
            "02:fe:00:00:00:01;Plan A;5001;10.0.0.7;;\n"
            "02:fe:00:00:00:03;Plan B;;;192.168.1.2;\n"
            "02:fe:00:00:00:04;;;;;10\n");
    f.close();
    const QJsonObject before = sim.terminal(QStringLiteral("02:fe:00:00:00:03"));
    QString error;
    QVERIFY2(window->siteActions()->openPlan(plan, &error), qPrintable(error));
    FenwaPlanDialog *dialog = window->siteActions()->planDialog();
    QVERIFY(dialog);
    QCOMPARE(dialog->rowCount(), 3);
    QVERIFY(!dialog->isTicked(1));
    dialog->setTicked(1, true); // a refused row cannot be ticked
    QVERIFY(!dialog->isTicked(1));
    QVERIFY2(dialog->statusText(1).contains(QStringLiteral("192.168.1.2")), qPrintable(dialog->statusText(1)));
    QVERIFY(dialog->isTicked(0) && dialog->isTicked(2) && dialog->canApply());
    QVERIFY(dialog->apply());
    QCOMPARE(dialog->statusText(0), translate("done"));
    QCOMPARE(dialog->statusText(2), translate("done"));
    const QJsonObject a = sim.terminal(QStringLiteral("02:fe:00:00:00:01"));
    QCOMPARE(a.value("name").toString(), QStringLiteral("Plan A"));
    QCOMPARE(a.value("sip0").toObject().value("account").toString(), QStringLiteral("5001"));
    QCOMPARE(sim.terminal(QStringLiteral("02:fe:00:00:00:04")).value("micVolume").toInt(), 10);
    const QJsonObject b = sim.terminal(QStringLiteral("02:fe:00:00:00:03"));
    QCOMPARE(b.value("name"), before.value("name"));
    QCOMPARE(b.value("ip"), before.value("ip"));
    QCOMPARE(window->deviceModel()->deviceAt(0)->name, QStringLiteral("Plan A"));
    QVERIFY(window->deviceModel()->checkedDevices().isEmpty());
    dialog->close();

    // The table as a sheet, and a backup holding every terminal's accounts.
    const QString sheet = tmp.filePath(QStringLiteral("export.csv"));
    QVERIFY2(window->siteActions()->exportTo(sheet, &error), qPrintable(error));
    QCOMPARE(readFile(sheet).count('\n'), 5);
    const QString site = tmp.filePath(QStringLiteral("site.json"));
    QCOMPARE(window->siteActions()->backupTo(site, &error), 4);
    QVERIFY(readFile(site).contains("\"sip1_account\":\t\"5001\""));

    // The handover report, read from the terminals: the account the plan
    // set, every terminal, as HTML and as PDF (written on its job thread).
    OrbConfigure().setSiteName(QStringLiteral("E2E site"));
    const QString page = tmp.filePath(QStringLiteral("report.html")), pdf = tmp.filePath(QStringLiteral("report.pdf"));
    QVERIFY2(window->siteActions()->reportTo(page, &error), qPrintable(error));
    QVERIFY2(window->siteActions()->reportTo(pdf, &error), qPrintable(error));
    const QByteArray html = readFile(page);
    QVERIFY(html.contains("E2E site") && html.contains("5001@10.0.0.7"));
    for (const QString &mac : kMacs)
        QVERIFY2(html.contains(mac.toUtf8()), qPrintable(mac));
    QVERIFY(readFile(pdf).startsWith("%PDF-"));
}

int main(int argc, char **argv)
{
    if (geteuid() != 0) {
        std::puts("SKIP: the workbench end-to-end test makes network namespaces and needs root");
        return 77;
    }
    E2eSegment seg;
    const QByteArray error = seg.create();
    if (!error.isEmpty()) {
        std::fprintf(stderr, "running as root but the test segment cannot be made: %s\n", error.constData());
        return 1;
    }
    segment = &seg;
    int rc;
    {
        QApplication app(argc, argv);
        WorkbenchE2e test;
        rc = QTest::qExec(&test, argc, argv);
    }
    seg.destroy();
    return rc;
}

#include "tst_e2e.moc"
