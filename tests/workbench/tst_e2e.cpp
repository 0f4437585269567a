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
#include "multicast/OrbRtpMulticastDialog.h"
#include "settings/FenwaDeviceSearchDialog.h"
#include "settings/OrbNetworkDialog.h"
#include "table/FenwaDeviceModel.h"

#include <QApplication>
#include <QComboBox>
#include <QPointer>
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
#include <unistd.h>

namespace {
E2eSegment *segment = nullptr;

// Six terminals cycling through three models: the third is not supported.
const QStringList kSimArgs = {"--count", "6", "--types", "VQT40,VQ99,vq40", "--base-mac", "02:fe:00:00:00:01"};

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
        if (FenwaDeviceSearchDialog::isSupportedType(t.type))
            macs << t.mac;
    }
    std::sort(macs.begin(), macs.end(),
              [](const QString &a, const QString &b) { return a.compare(b, Qt::CaseInsensitive) < 0; });
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
    void everyCommandAndReplyIsLogged();
    void searchButtonSearchesAgainAndEmptiesThePanel();
    void networkButtonReopensOnTheChosenAdapter();
    void inCellEditsAskForABatchOnlyOnChange();
    void rtpButtonShowsOneDialogThatGoesWithTheWindow();
    void executableStartsSearchesAndLogs();

private:
    bool startWindow();
    QPushButton *button(const QString &text) const;

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

QPushButton *WorkbenchE2e::button(const QString &text) const
{
    for (QPushButton *b : window->findChildren<QPushButton *>())
        if (b->text() == text)
            return b;
    return nullptr;
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
        QVERIFY(FenwaDeviceSearchDialog::isSupportedType(device->type));
        QVERIFY(!device->checked);
        QCOMPARE(device->refCount.load(), 1); // the model's alone once the dialog is gone
    }
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::NumberColumn), QStringList({"1", "2", "3", "4"}));
    QVERIFY(!tableColumn(window->deviceModel(), FenwaDeviceModel::IpColumn).contains(QString()));
}

void WorkbenchE2e::everyCommandAndReplyIsLogged()
{
    const qint64 commandsBefore = sim.commands().size();
    const int repliesBefore = sim.stats().value(QStringLiteral("replies")).toInt();
    QVERIFY(startWindow());
    QTest::qWait(200); // late replies are logged too, though the search is over
    const QByteArray log = readFile(logPath);

    const QStringList sent = loggedTexts(log, "send");
    const QList<QByteArray> received = sim.commands().mid(int(commandsBefore));
    QCOMPARE(sent.size(), 1);
    QCOMPARE(received.size(), 1);
    QCOMPARE(sent.first(), QString::fromUtf8(received.first()));
    QVERIFY(sent.first().contains(QStringLiteral("\"method\":\"search\"")));

    const QStringList replies = loggedTexts(log, "recv");
    const int repliesSent = sim.stats().value(QStringLiteral("replies")).toInt() - repliesBefore;
    QCOMPARE(replies.size(), repliesSent);
    for (const SimTerminalInfo &t : simTerminals(sim)) {
        const auto hits = replies.filter(QStringLiteral("\"mac\":\"%1\"").arg(t.mac), Qt::CaseInsensitive);
        QVERIFY2(hits.size() == 1, qPrintable(t.mac)); // unsupported models are logged too
    }
}

void WorkbenchE2e::searchButtonSearchesAgainAndEmptiesThePanel()
{
    QVERIFY(startWindow());
    auto *page = new QWidget;
    window->showPage(page);
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
    QCOMPARE(page->parentWidget(), nullptr);
    delete page;
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

    // The reopened link works: a search finds the terminals again.
    window->autoSearch();
    QCOMPARE(tableColumn(window->deviceModel(), FenwaDeviceModel::MacColumn), expectedMacs(simTerminals(sim)));
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

void WorkbenchE2e::inCellEditsAskForABatchOnlyOnChange()
{
    QVERIFY(startWindow());
    QSignalSpy names(window, &MainWindow::nameChangeRequested);
    QSignalSpy macs(window, &MainWindow::macChangeRequested);
    FenwaDeviceModel *model = window->deviceModel();
    FenwaDevice *first = model->deviceAt(0);
    const QModelIndex name = model->index(0, FenwaDeviceModel::NameColumn);
    const QModelIndex mac = model->index(0, FenwaDeviceModel::MacColumn);

    model->setData(name, first->name, Qt::EditRole);
    QCOMPARE(names.count(), 0);
    model->setData(name, QStringLiteral("Lobby"), Qt::EditRole);
    QCOMPARE(names.count(), 1);
    QCOMPARE(names.first().at(0).value<FenwaDevice *>(), first);
    QCOMPARE(names.first().at(1).toString(), QStringLiteral("Lobby"));
    QVERIFY(first->name != QStringLiteral("Lobby")); // the record changes only by a batch

    model->setData(mac, first->macText, Qt::EditRole);
    QCOMPARE(macs.count(), 0);
    model->setData(mac, first->macText.toUpper(), Qt::EditRole);
    QCOMPARE(macs.count(), 1);
    model->setData(mac, 5, Qt::EditRole); // not a text
    QCOMPARE(macs.count(), 1);
}

void WorkbenchE2e::executableStartsSearchesAndLogs()
{
    // The real start-up: log beside the executable (or in the data
    // directory), language files, the window and its search by itself.
    QTemporaryDir home;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home.path()); // keep the operator's configuration untouched
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    const QString binDir = QFileInfo(QStringLiteral(FENWA_WORKBENCH_PATH)).absolutePath();
    const QStringList before = QDir(binDir + QStringLiteral("/log")).entryList({QStringLiteral("*.log")});
    const int repliesBefore = sim.stats().value(QStringLiteral("replies")).toInt();

    QProcess workbench;
    workbench.setProcessEnvironment(env);
    workbench.start(QStringLiteral(FENWA_WORKBENCH_PATH), QStringList());
    QVERIFY(workbench.waitForStarted(5000));
    QTRY_VERIFY_WITH_TIMEOUT(sim.stats().value(QStringLiteral("replies")).toInt() >= repliesBefore + 6, 10000);
    QTest::qWait(500);
    workbench.terminate();
    if (!workbench.waitForFinished(5000)) {
        workbench.kill();
        workbench.waitForFinished(5000);
    }

    const QStringList after = QDir(binDir + QStringLiteral("/log")).entryList({QStringLiteral("*.log")});
    QString newest;
    for (const QString &name : after)
        if (!before.contains(name) || name > newest)
            newest = name;
    QVERIFY(!newest.isEmpty());
    const QByteArray log = readFile(binDir + QStringLiteral("/log/") + newest);
    QFile::remove(binDir + QStringLiteral("/log/") + newest);
    QCOMPARE(loggedTexts(log, "send").size(), 1);
    QCOMPARE(loggedTexts(log, "recv").size(), 6);
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
