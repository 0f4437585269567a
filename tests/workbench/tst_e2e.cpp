// SPDX-License-Identifier: GPL-3.0-or-later
// The workbench end to end: its main window (and, once, the executable) in a
// tool namespace of this test's own, fenwa-sim with terminals of supported
// and unsupported models on the other end of a veth pair. Nothing here can
// reach a real interface: the process enters the tool namespace before the
// application object, and with it every thread, exists.
#include "MainWindow.h"
#include "e2e_segment.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTableView.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaTerminal.h"
#include "multicast/OrbRtpMulticastDialog.h"
#include "settings/FenwaNameSettingWidget.h"
#include "settings/FenwaReadSettingWidget.h"
#include "settings/FenwaVersionSettingWidget.h"
#include "settings/OrbNetworkDialog.h"
#include "table/FenwaDeviceModel.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QMessageBox>
#include <QLineEdit>
#include <QPointer>
#include <QSlider>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

namespace {
E2eSegment *segment = nullptr;

// Six terminals cycling through three models: the third is not supported.
// Their web side is on; the third holds other credentials than it reports
// and the fourth never answers HTTP.
const QStringList kSimArgs = {"--count", "6", "--types", "VQT40,VQ99,vq40", "--base-mac", "02:fe:00:00:00:01",
                              "--web-fault", "wrong-login:3", "--web-fault", "hang:4", "--reboot-ms", "1500"};

struct SimTerminalInfo {
    QString mac, type;
};

QList<SimTerminalInfo> simTerminals(const SimProcess &sim)
{
    QList<SimTerminalInfo> list;
    for (const QJsonValue &v : sim.state().value(QStringLiteral("terminals")).toArray()) {
        const QJsonObject o = v.toObject();
        list.append({o.value(QStringLiteral("mac")).toString(), o.value(QStringLiteral("type")).toString()});
    }
    return list;
}

QStringList expectedMacs(const QList<SimTerminalInfo> &terminals)
{
    QStringList macs;
    for (const SimTerminalInfo &t : terminals) {
        if (FenwaTerminal::isSupportedType(t.type))
            macs << t.mac;
    }
    std::sort(macs.begin(), macs.end(),
              [](const QString &a, const QString &b) { return FenwaTerminal::compareMacText(a, b) < 0; });
    return macs;
}

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

// The texts of the log's "send"/"recv" lines written by the window.
QStringList loggedTexts(const QByteArray &log, const char *what)
{
    const QRegularExpression line(
        QStringLiteral("^\\[\\d{4}-\\d{2}-\\d{2} \\d{2}:\\d{2}:\\d{2}\\.\\d{3}\\]  MainWindow\\.cpp:\\d+"
                       "\\(MainWindow::on(?:Send|Recv)Command\\) %1 (.*)$")
            .arg(QLatin1String(what)));
    QStringList texts;
    for (const QByteArray &raw : log.split('\n')) {
        const auto m = line.match(QString::fromUtf8(raw));
        if (m.hasMatch())
            texts << m.captured(1);
    }
    return texts;
}
} // namespace

class WorkbenchE2e : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void cleanupTestCase();
    void init();
    void cleanup();

    void firstSearchFindsSupportedTerminalsOnceSortedByMac();
    void searchButtonSearchesAgainAndEmptiesThePanel();
    void networkButtonReopensOnTheChosenAdapter();
    void pageChoiceFollowsTheColumn();
    void pagesSetTerminalsToExactlyTheAcceptedValues();
    void inCellNameEditReachesTheTerminal();
    void rtpButtonShowsOneDialogThatGoesWithTheWindow();
    void sipAndRtpRoundTripShowInTheTable();
    void firmwareBatchReportsEachTerminalAndSearchesAgain();
    void executableStartsSearchesAndLogs();

private:
    bool startWindow();
    QPushButton *button(const QString &text, QWidget *in = nullptr) const;
    // Clicks a cell as the operator would and returns the page in the panel.
    FenwaSettingWidget *click(int row, int column);
    // The simulator's record of the terminal with this MAC.
    QJsonObject simTerminal(const QString &mac) const;

    SimProcess sim;
    std::unique_ptr<QSignalSpy> done;
    QTemporaryDir tmp;
    QString logPath;
    MainWindow *window = nullptr;
};

void WorkbenchE2e::initTestCase()
{
    QVERIFY(segment && segment->isUp());
    QStandardPaths::setTestModeEnabled(true);
    QFile::remove(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation) +
                  QStringLiteral("/configure/configure.ini"));
    const QByteArray error = sim.start(*segment, kSimArgs);
    QVERIFY2(error.isEmpty(), error.constData());
    QCOMPARE(simTerminals(sim).size(), 6);
}

void WorkbenchE2e::cleanupTestCase()
{
    sim.stop();
}

void WorkbenchE2e::init()
{
    logPath = tmp.filePath(QString::fromLatin1(QTest::currentTestFunction()) + QStringLiteral(".log"));
    QCOMPARE(openLogFile(QFile::encodeName(logPath)), 0);
}

void WorkbenchE2e::cleanup()
{
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

QPushButton *WorkbenchE2e::button(const QString &text, QWidget *in) const
{
    for (QPushButton *b : (in ? in : window)->findChildren<QPushButton *>())
        if (b->text() == text)
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

QJsonObject WorkbenchE2e::simTerminal(const QString &mac) const
{
    for (const QJsonValue &v : sim.state().value(QStringLiteral("terminals")).toArray())
        if (v.toObject().value(QStringLiteral("mac")).toString() == mac)
            return v.toObject();
    return QJsonObject();
}

void WorkbenchE2e::firstSearchFindsSupportedTerminalsOnceSortedByMac()
{
    QVERIFY(startWindow());
    QVERIFY(window->sdk()->currentAdapter());
    QCOMPARE(QByteArray(window->sdk()->currentAdapter()->name), segment->toolIf);

    const QStringList expected = expectedMacs(simTerminals(sim));
    QCOMPARE(expected.size(), 4);
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::MacColumn), expected);
    QCOMPARE(done->first().at(0).toInt(), 4);
    for (FenwaDevice *device : window->deviceModel()->allDevices()) {
        QVERIFY(FenwaTerminal::isSupportedType(device->type));
        QVERIFY(!device->checked);
        QCOMPARE(device->refCount.load(), 1); // the model's alone once the dialog is gone
    }
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::NumberColumn), QStringList({"1", "2", "3", "4"}));
    QVERIFY(!tableColumn(window->deviceModel(), FenwaDeviceModel::IpColumn).contains(QString()));
}

void WorkbenchE2e::searchButtonSearchesAgainAndEmptiesThePanel()
{
    QVERIFY(startWindow());
    FenwaSettingWidget *page = click(0, FenwaDeviceModel::NameColumn);
    QVERIFY(page);
    QCOMPARE(page->geometry(), window->panelRect());
    QVERIFY(page->isVisible());
    window->deviceModel()->setData(window->deviceModel()->index(0, 0), true, FenwaDeviceModel::CheckRole);

    QPushButton *search = button(translate("Search"));
    QVERIFY(search);
    QTimer::singleShot(300, [&] {
        // While the search runs the table is empty and the page is gone.
        QCOMPARE(window->deviceModel()->rowCount(), 0);
        QCOMPARE(window->currentPage(), nullptr);
    });
    search->click();
    QCOMPARE(done->count(), 2);
    QVERIFY(!page->isVisible());
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::MacColumn), expectedMacs(simTerminals(sim)));
    QVERIFY(window->deviceModel()->checkedDevices().isEmpty()); // new records start unchecked
}

void WorkbenchE2e::networkButtonReopensOnTheChosenAdapter()
{
    QVERIFY(startWindow());
    QPushButton *network = button(translate("Network"));
    QVERIFY(network);
    QString listed;
    QTimer::singleShot(200, [&] {
        auto *dialog = qobject_cast<OrbNetworkDialog *>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        listed = dialog->findChild<QComboBox *>()->currentText();
        dialog->findChild<QPushButton *>()->click();
    });
    network->click();
    QVERIFY2(listed.contains(QStringLiteral("192.168.1.2")), qPrintable(listed));
    QCOMPARE(QByteArray(window->sdk()->currentAdapter()->name), segment->toolIf);
    QVERIFY(window->windowTitle().contains(QStringLiteral("192.168.1.2")));

    // The old rows went, and a search on the reopened link found them again.
    QCOMPARE(done->count(), 2);
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::MacColumn), expectedMacs(simTerminals(sim)));
}

void WorkbenchE2e::pageChoiceFollowsTheColumn()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    const int fullHeight = window->tableView()->height();
    struct Step {
        int row, column;
        const char *page; // class name; empty: the panel is empty
    };
    const Step steps[] = {
        {0, FenwaDeviceModel::IpColumn, "FenwaIpSettingWidget"},
        {2, FenwaDeviceModel::GatewayColumn, "FenwaIpSettingWidget"},
        {1, FenwaDeviceModel::CheckColumn, "FenwaIpSettingWidget"},
        {1, FenwaDeviceModel::NameColumn, "FenwaNameSettingWidget"},
        {1, FenwaDeviceModel::MacColumn, "FenwaMacSettingWidget"},
        {3, FenwaDeviceModel::VolumeColumn, "FenwaAudioSettingWidget"},
        {3, FenwaDeviceModel::SystemColumn, "FenwaTestSettingWidget"},
        {3, FenwaDeviceModel::UidColumn, ""},
        {0, FenwaDeviceModel::NetmaskColumn, "FenwaIpSettingWidget"},
        {0, FenwaDeviceModel::NumberColumn, ""},
    };
    QHash<QString, FenwaSettingWidget *> seen;
    for (const Step &step : steps) {
        FenwaSettingWidget *page = click(step.row, step.column);
        const QString name = QLatin1String(step.page);
        QCOMPARE(page ? QString::fromLatin1(page->metaObject()->className()) : QString(), name);
        if (page == nullptr) {
            QCOMPARE(window->tableView()->height(), fullHeight); // the table has the panel's room
            continue;
        }
        QCOMPARE(page->currentDevice(), model->deviceAt(step.row));
        QCOMPARE(page->geometry(), window->panelRect());
        QVERIFY(window->tableView()->geometry().bottom() < window->panelRect().top());
        QCOMPARE(seen.value(name, page), page); // one instance per page class
        seen.insert(name, page);
    }
    // The play icon makes the terminal play its test sound; the panel stays.
    const QString mac = model->deviceAt(2)->macText;
    const int sounds = simTerminal(mac).value(QStringLiteral("testSounds")).toInt();
    QCOMPARE(click(2, FenwaDeviceModel::PlayColumn), nullptr);
    QCOMPARE(simTerminal(mac).value(QStringLiteral("testSounds")).toInt(), sounds + 1);
}

namespace {
QStringList debugLines;
QtMessageHandler previousHandler = nullptr;
void keepDebugLine(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    debugLines << message;
    previousHandler(type, context, message);
}
} // namespace

void WorkbenchE2e::pagesSetTerminalsToExactlyTheAcceptedValues()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    const QStringList macs = tableColumn(model, FenwaDeviceModel::MacColumn);
    const QStringList oldNames = tableColumn(model, FenwaDeviceModel::NameColumn);
    QJsonArray others; // the unsupported terminals, which no batch may touch
    for (const SimTerminalInfo &t : simTerminals(sim))
        if (!macs.contains(t.mac))
            others << simTerminal(t.mac);

    // Names on the ticked rows 2 and 4.
    auto *names = qobject_cast<FenwaNameSettingWidget *>(click(0, FenwaDeviceModel::NameColumn));
    QVERIFY(names);
    for (int row : {1, 3})
        model->setData(model->index(row, 0), true, FenwaDeviceModel::CheckRole);
    names->lineEdit()->setText(QStringLiteral("Lobby"));
    button(translate("Set All"), names)->click();
    QVERIFY(model->checkedDevices().isEmpty()); // all accepted: nothing left to retry

    // A static range over every row: past broadcast, network, gateway and DNS.
    FenwaSettingWidget *ip = click(0, FenwaDeviceModel::IpColumn);
    ip->findChild<QComboBox *>()->setCurrentIndex(1);
    const QList<QLineEdit *> fields = ip->findChildren<QLineEdit *>();
    const QStringList typed{"192.168.1.253", "192.168.1.1", "255.255.255.0", "192.168.1.2", ""};
    for (int i = 0; i < 5; ++i)
        fields[i]->setText(typed[i]);
    button(translate("Set All"), ip)->click();

    auto *audio = click(0, FenwaDeviceModel::VolumeColumn);
    audio->findChildren<QSlider *>().at(0)->setValue(40);
    audio->findChildren<QSlider *>().at(1)->setValue(70);
    audio->findChild<QCheckBox *>()->setChecked(true);
    button(translate("Set All"), audio)->click();

    // The account of the third terminal alone; its password never in clear.
    auto *system = click(2, FenwaDeviceModel::SystemColumn);
    system->findChildren<QLineEdit *>().at(0)->setText(QStringLiteral("installer"));
    system->findChildren<QLineEdit *>().at(1)->setText(QStringLiteral("s3cret"));
    debugLines.clear();
    previousHandler = qInstallMessageHandler(keepDebugLine);
    button(translate("Set"), system)->click();
    qInstallMessageHandler(previousHandler);
    const QString digest = QStringLiteral("33e1b232a4e6fa0028a6670753749a17"); // md5("s3cret")
    QVERIFY(readFile(logPath).contains(digest.toLatin1()));
    QVERIFY(!readFile(logPath).contains("s3cret"));
    QVERIFY(!debugLines.join(QLatin1Char('\n')).contains(QStringLiteral("s3cret")));

    const QStringList ips{"192.168.1.253", "192.168.1.254", "192.168.1.3", "192.168.1.4"};
    for (int row = 0; row < 4; ++row) {
        const QJsonObject t = simTerminal(macs[row]);
        const bool named = row == 1 || row == 3;
        QCOMPARE(t.value(QStringLiteral("name")).toString(), named ? QStringLiteral("Lobby") : oldNames[row]);
        QCOMPARE(t.value(QStringLiteral("ip")).toString(), ips[row]);
        QCOMPARE(t.value(QStringLiteral("dns1")).toString(), typed[3]);
        QCOMPARE(t.value(QStringLiteral("dns2")).toString(), QString());
        QCOMPARE(t.value(QStringLiteral("micVolume")).toInt(), 40);
        QCOMPARE(t.value(QStringLiteral("outVolume")).toInt(), 70);
        QCOMPARE(t.value(QStringLiteral("autoMute")).toInt(), 1);
        QCOMPARE(t.value(QStringLiteral("account")).toString(), row == 2 ? "installer" : "admin");
        if (row == 2)
            QCOMPARE(t.value(QStringLiteral("password")).toString(), digest);
        // The table shows what the terminals accepted.
        QCOMPARE(model->index(row, FenwaDeviceModel::IpColumn).data().toString(), ips[row]);
        QCOMPARE(model->index(row, FenwaDeviceModel::VolumeColumn).data().toString(), QStringLiteral("40,70"));
    }
    for (const QJsonValue &v : others) {
        // Searches count as answered commands, whenever the file was written.
        QJsonObject before = v.toObject(), after = simTerminal(before.value(QStringLiteral("mac")).toString());
        before.remove(QStringLiteral("commandsAnswered"));
        after.remove(QStringLiteral("commandsAnswered"));
        QCOMPARE(after, before);
    }
}

void WorkbenchE2e::rtpButtonShowsOneDialogThatGoesWithTheWindow()
{
    QVERIFY(startWindow());
    QPushButton *rtp = button(translate("RTP Multicast"));
    QVERIFY(rtp);
    rtp->click();
    QPointer<OrbRtpMulticastDialog> first = OrbRtpMulticastDialog::instance();
    QVERIFY(first && first->isVisible());
    first->showMinimized();
    rtp->click();
    QCOMPARE(OrbRtpMulticastDialog::instance(), first.data());
    QVERIFY(!first->isMinimized());
    window->close();
    QTRY_VERIFY(first.isNull());
    QVERIFY(OrbRtpMulticastDialog::instance() == nullptr);
}

void WorkbenchE2e::inCellNameEditReachesTheTerminal()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    const QModelIndex name = model->index(0, FenwaDeviceModel::NameColumn);
    const QString mac = model->deviceAt(0)->macText;
    const int commandsBefore = sim.commands().size();
    model->setData(name, model->deviceAt(0)->name, Qt::EditRole); // unchanged: nothing to send
    QTest::qWait(100);
    QCOMPARE(sim.commands().size(), commandsBefore);

    // Typed into the table's own editor, as the operator does.
    OrbTableView *table = window->tableView();
    table->edit(name);
    auto *editor = table->viewport()->findChild<QLineEdit *>();
    QVERIFY(editor);
    editor->setText(QStringLiteral("Desk"));
    QTest::keyClick(editor, Qt::Key_Return);
    QTRY_COMPARE(simTerminal(mac).value(QStringLiteral("name")).toString(), QStringLiteral("Desk"));
    QTRY_COMPARE(name.data().toString(), QStringLiteral("Desk"));
    QCOMPARE(sim.commands().size(), commandsBefore + 1);
}

void WorkbenchE2e::sipAndRtpRoundTripShowInTheTable()
{
    QVERIFY(startWindow());
    FenwaDeviceModel *model = window->deviceModel();
    const QStringList macs = tableColumn(model, FenwaDeviceModel::MacColumn);
    auto *sip = qobject_cast<FenwaReadSettingWidget *>(click(0, FenwaDeviceModel::SipColumn));
    QVERIFY(sip);
    QCOMPARE(sip->fields().at(4)->text(), QStringLiteral("5060")); // read from the terminal
    const QStringList typed{"1001", "pa\"ss\\", "Desk \"A\"", "pbx.local", "5060"};
    for (int f = 0; f < 5; ++f)
        sip->fields().at(f)->setText(typed[f]);
    button(translate("Set"), sip)->click();
    const QJsonObject account = simTerminal(macs[0]).value(QStringLiteral("sip0")).toObject();
    const char *keys[5] = {"account", "password", "displayName", "serverHost", "serverPort"};
    for (int f = 0; f < 5; ++f)
        QCOMPARE(account.value(QLatin1String(keys[f])).toString(), typed[f]);
    QCOMPARE(model->index(0, FenwaDeviceModel::SipColumn).data().toString(), QStringLiteral("1001@pbx.local"));

    // Channel 3 alone to every terminal: the column shows it.
    auto *rtp = qobject_cast<FenwaReadSettingWidget *>(click(1, FenwaDeviceModel::RtpColumn));
    QVERIFY(rtp);
    QCOMPARE(rtp->fields().at(0)->text(), QStringLiteral("239.255.0.1:6000"));
    for (int i = 0; i < 10; ++i)
        rtp->fields().at(i)->setText(i == 2 ? QStringLiteral("239.1.1.3:6004") : QString());
    button(translate("Set All"), rtp)->click();
    for (int row = 0; row < macs.size(); ++row) {
        const QJsonObject t = simTerminal(macs[row]);
        QCOMPARE(t.value(QStringLiteral("rtp2")).toObject(),
                 QJsonObject({{"enable", 1}, {"rtpIP", "239.1.1.3"}, {"rtpPort", 6004}}));
        QCOMPARE(t.value(QStringLiteral("rtp0")).toObject().value(QStringLiteral("rtpIP")).toString(), QString());
        QCOMPARE(model->index(row, FenwaDeviceModel::RtpColumn).data().toString(), QStringLiteral("239.1.1.3:6004"));
    }
}

void WorkbenchE2e::firmwareBatchReportsEachTerminalAndSearchesAgain()
{
    QVERIFY(startWindow());
    const QStringList macs = tableColumn(window->deviceModel(), FenwaDeviceModel::MacColumn);
    QByteArray image("\x7f" "ELF\0\r\n--window-iptool-upload\r\n", 29);
    image += QByteArray(200000, '\xa5');
    const QString path = tmp.filePath(QStringLiteral("fw-2.5.0.bin"));
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write(image) == image.size());
    file.close();

    auto *page = qobject_cast<FenwaVersionSettingWidget *>(click(0, FenwaDeviceModel::VersionColumn));
    QVERIFY(page);
    page->pathEdit()->setText(path);
    // The result box, then the offer to search once the terminals are back.
    QString result, offer;
    QTimer answer;
    connect(&answer, &QTimer::timeout, [&] {
        if (auto *box = qobject_cast<FenwaBatchResultDialog *>(QApplication::activeModalWidget())) {
            result = box->text();
            box->accept();
        } else if (auto *question = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
            const QJsonArray all = sim.state().value(QStringLiteral("terminals")).toArray();
            for (const QJsonValue &t : all)
                if (t.toObject().value(QStringLiteral("web")).toObject().value(QStringLiteral("restarting")).toBool())
                    return;
            offer = question->text();
            question->buttons().first()->click(); // "Search again"
        }
    });
    answer.start(50);
    QElapsedTimer batch;
    batch.start();
    button(translate("Set All"), page)->click();
    QVERIFY(batch.elapsed() < 60000); // one silent terminal costs its time-out, not the batch
    QVERIFY(QTest::qWaitFor([this] { return done->count() == 2; }, 10000));

    QVERIFY2(result.startsWith(QStringLiteral("2 of 4 terminals accepted")), qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("%1): login refused (HTTP 200)").arg(macs[1])), qPrintable(result));
    QVERIFY2(result.contains(QStringLiteral("%1): not logged in: no answer for 10 s").arg(macs[2])), qPrintable(result));
    QVERIFY(offer.startsWith(QStringLiteral("2 of 4 terminals took the firmware")));
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::VersionColumn),
             QStringList({"2.5.0", "2.4.1", "2.4.1", "2.5.0"}));
    const QString sha = QString::fromLatin1(QCryptographicHash::hash(image, QCryptographicHash::Sha256).toHex());
    for (int row : {0, 3}) {
        const QJsonObject web = simTerminal(macs[row]).value(QStringLiteral("web")).toObject();
        QCOMPARE(web.value(QStringLiteral("file")).toString(), QStringLiteral("fw-2.5.0.bin"));
        QCOMPARE(web.value(QStringLiteral("sha256")).toString(), sha);
    }
}

void WorkbenchE2e::executableStartsSearchesAndLogs()
{
    // The real start-up: the log in the per-user data directory (never
    // beside the executable), language files, the window and its search.
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path()); // keep the operator's configuration untouched
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const int repliesBefore = sim.stats().value(QStringLiteral("replies")).toInt();

    QProcess workbench;
    workbench.setProcessEnvironment(env);
    workbench.start(QStringLiteral(FENWA_WORKBENCH_PATH), QStringList());
    QVERIFY(workbench.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.stats().value(QStringLiteral("replies")).toInt() >= repliesBefore + 6, 10000);
    QTest::qWait(500);
    workbench.terminate(); // closes the window as its close button would
    if (!workbench.waitForFinished(5000)) {
        workbench.kill();
        workbench.waitForFinished(5000);
    }
    QCOMPARE(workbench.exitStatus(), QProcess::NormalExit);

    const QString logDir = home.path() + QStringLiteral("/fenwa-workbench/log/");
    const QStringList logs = QDir(logDir).entryList({QStringLiteral("*.log")});
    QCOMPARE(logs.size(), 1);
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(logDir + logs.first()).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0600u); // it holds password digests
    const QByteArray log = readFile(logDir + logs.first());
    QCOMPARE(loggedTexts(log, "send").size(), 1);
    QCOMPARE(loggedTexts(log, "recv").size(), 6);
    QVERIFY(log.contains("link closed")); // the teardown ran, and the log saw it
    QVERIFY(!QDir(QFileInfo(QStringLiteral(FENWA_WORKBENCH_PATH)).absolutePath() + QStringLiteral("/log")).exists());
    QVERIFY(readFile(home.path() + QStringLiteral("/fenwa-workbench/configure/configure.ini")).contains("langage=en"));
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
