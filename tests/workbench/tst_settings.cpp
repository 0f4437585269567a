// SPDX-License-Identifier: GPL-3.0-or-later
// The settings framework offscreen and without a network: the SDK is opened
// on a scripted device that puts nothing on a wire, and scripted terminals
// answer each command from the observer the moment it is sent (or stay
// silent). Every row's link MAC is the one the answers come from.
#include "crafted_frames.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "OrbUtils/widgets/OrbTableView.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "settings/FenwaAudioSettingWidget.h"
#include "settings/FenwaIpSettingWidget.h"
#include "settings/FenwaNameSettingWidget.h"
#include "settings/FenwaRtpSettingWidget.h"
#include "settings/FenwaSipSettingWidget.h"
#include "settings/FenwaTestSettingWidget.h"
#include "settings/FenwaVersionSettingWidget.h"
#include "table/FenwaDeviceModel.h"

#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <cstring>

namespace {
// Answers the n-th command with script[n]: a result text, maybe followed by
// the reply's further members ("success,\"sip0\":{...}"), or "" for silence.
// A copy of a command sent again gets the answer its first did.
class ScriptedTerminals : public FenwaCommandObserver
{
public:
    QStringList script;
    QList<QByteArray> sent; // each command once
    QHash<int, QString> answers;
    void onSendCommand(FenwaSDK *sdk, const char *text) override
    {
        const int id = cJSON_GetObjectItem(JsonDoc(text).j, "id")->valueint;
        if (!answers.contains(id)) {
            answers.insert(id, script.value(sent.size(), QStringLiteral("success")));
            sent << QByteArray(text);
        }
        const QString answer = answers.value(id);
        if (answer.isEmpty())
            return;
        const int comma = answer.indexOf(QLatin1Char(','));
        const QString reply = QStringLiteral("{\"id\":%1,\"result\":\"%2\"%3}")
                                  .arg(id)
                                  .arg(answer.left(comma < 0 ? answer.size() : comma), comma < 0 ? QString() : answer.mid(comma));
        sdk->onPcapPacket(craftFrame(kTermMac, kTermIp, kToolMac, kToolIp, reply.toUtf8()).get());
    }
    void onRecvCommand(FenwaSDK *, const char *) override {}
};

// Answers the next modal box (batch result or question: accept or not) and
// keeps its text.
QString *answerNextModal(bool accept)
{
    auto *text = new QString;
    auto *timer = new QTimer(qApp);
    QObject::connect(timer, &QTimer::timeout, [text, timer, accept] {
        QWidget *w = QApplication::activeModalWidget();
        if (auto *box = qobject_cast<FenwaBatchResultDialog *>(w)) {
            *text = box->text();
            box->accept();
        } else if (auto *question = qobject_cast<QMessageBox *>(w)) {
            *text = question->text();
            for (QAbstractButton *b : question->buttons())
                if ((question->buttonRole(b) == QMessageBox::AcceptRole) == accept)
                    b->click();
        } else {
            return;
        }
        timer->deleteLater();
    });
    timer->start(20);
    return text;
}

QStringList macTexts(const QList<FenwaDevice *> &devices)
{
    QStringList texts;
    for (const FenwaDevice *d : devices)
        texts << d->macText;
    return texts;
}
} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void silentTerminalIsReportedAndStaysTicked();
    void stopWithACommandInFlightReportsItAndKeepsWhatIsNotDoneTicked();
    void pageFollowsItsTerminalAfterABatch_data();
    void pageFollowsItsTerminalAfterABatch();
    void failedCheckShowsItsNoticeAndSendsNothing();
    void destructiveWorkAsksFirst_data();
    void destructiveWorkAsksFirst();
    void failedReadCannotWipeATerminal_data();
    void failedReadCannotWipeATerminal();
    void pageLabelsCountChannelsFromOneAndShowVolumes();
    void anAcceptedDhcpShowsInTheRecord();

private:
    QWidget *window = nullptr;
    FenwaDeviceModel *model = nullptr;
    FenwaSDK *sdk = nullptr;
    ScriptedTerminals terminals;
    DeviceScript wire;
};

void SettingsTest::init()
{
    sdk = new FenwaSDK;
    QCOMPARE(openScripted(sdk, &wire), 0);
    sdk->setCommandObserver(&terminals);
    terminals = ScriptedTerminals();
    window = new QWidget;
    window->resize(1000, 700);
    model = new FenwaDeviceModel(new OrbTableView(window));
    QList<FenwaDevice *> rows;
    for (int i = 1; i <= 5; ++i) {
        rows << new FenwaDevice;
        rows.last()->name = QStringLiteral("T%1").arg(i);
        rows.last()->macText = QStringLiteral("02:fe:00:00:00:0%1").arg(i);
        std::memcpy(rows.last()->mac, kTermMac, 6);
    }
    model->setDevices(rows);
    for (FenwaDevice *d : rows)
        d->release(); // the model holds them
}

void SettingsTest::cleanup()
{
    delete window; // pages go before the SDK they hold
    delete sdk;
}

void SettingsTest::silentTerminalIsReportedAndStaysTicked()
{
    sdk->setReplyTimeout(200);
    terminals.script = QStringList{"success", "", "success"};
    for (int row : {0, 1, 2})
        model->deviceAt(row)->checked = true;
    FenwaNameSettingWidget page(window, sdk, model);
    page.lineEdit()->setText(QStringLiteral("Hall"));
    std::unique_ptr<QString> result(answerNextModal(true));
    page.onClickSetAllButton(false);
    // The three names, then a search that does not find the silent one holding its name.
    QCOMPARE(terminals.sent.size(), 4);
    QVERIFY(terminals.sent.last().contains("\"method\":\"search\""));
    QStringList names;
    for (FenwaDevice *d : model->allDevices())
        names << d->name;
    QCOMPARE(names, QStringList({"Hall", "T2", "Hall", "T4", "T5"}));
    QVERIFY2(result->startsWith(QStringLiteral("2 of 3 terminals accepted")), qPrintable(*result));
    QVERIFY2(result->contains(QStringLiteral("T2 (02:fe:00:00:00:02): no answer")), qPrintable(*result));
    QCOMPARE(macTexts(model->checkedDevices()), QStringList{"02:fe:00:00:00:02"});
}

void SettingsTest::stopWithACommandInFlightReportsItAndKeepsWhatIsNotDoneTicked()
{
    // Every row shares one link MAC, so the commands go one at a time; the
    // second terminal never answers and the wait has no end of its own: only
    // the close ends it (the Stop button closes as a close does: the kit's test).
    terminals.script = QStringList{"success", ""};
    sdk->setReplyTimeout(-1);
    FenwaNameSettingWidget page(window, sdk, model);
    page.lineEdit()->setText(QStringLiteral("Hall"));
    QSignalSpy refreshed(model, &QAbstractItemModel::dataChanged);
    QTimer::singleShot(300, [] { qobject_cast<OrbProgressDialog *>(QApplication::activeModalWidget())->close(); });
    std::unique_ptr<QString> report(answerNextModal(true));
    page.onClickSetAllButton(false);
    QCOMPARE(terminals.sent.size(), 2);
    QCOMPARE(*report, QStringLiteral("Stopped: 1 of 5 terminals accepted, 3 not tried\n\nNot done:\n"
                                     "T2 (02:fe:00:00:00:02): unknown: may have changed"));
    QCOMPARE(model->deviceAt(0)->name, QStringLiteral("Hall")); // accepted: written back and shown
    QVERIFY(refreshed.count() > 0);
    QCOMPARE(model->deviceAt(1)->name, QStringLiteral("T2"));
    QCOMPARE(macTexts(model->checkedDevices()),
             QStringList({"02:fe:00:00:00:02", "02:fe:00:00:00:03", "02:fe:00:00:00:04", "02:fe:00:00:00:05"}));
    QStringList last;
    for (int row = 0; row < 3; ++row)
        last << model->index(row, FenwaDeviceModel::LastResultColumn).data().toString();
    QCOMPARE(last, QStringList({"accepted", "unknown: may have changed", "not tried"}));
}

void SettingsTest::pageFollowsItsTerminalAfterABatch_data()
{
    QTest::addColumn<int>("how"); // SIP page: 0 shown, 1 hidden, 2 typed over; 3 MAC page's own Set All
    QTest::addColumn<int>("commands");
    QTest::addColumn<QString>("shown"); // the first field afterwards
    QTest::newRow("SIP page reads its terminal again after another batch wrote it") << 0 << 3 << "301";
    QTest::newRow("a hidden page reads nothing") << 1 << 2 << "101";
    QTest::newRow("typed values are kept, no longer as read") << 2 << 2 << "typed";
    QTest::newRow("MAC page shows its terminal's new MAC after its own Set All") << 3 << 5 << "02:fe:00:00:10:01";
}

void SettingsTest::pageFollowsItsTerminalAfterABatch()
{
    QFETCH(int, how);
    QFETCH(int, commands);
    QFETCH(QString, shown);
    const auto accounts = [](int first) {
        QString answer = QStringLiteral("success");
        for (int i = 0; i < 2; ++i)
            answer += QStringLiteral(",\"sip%1\":{\"serverHost\":\"pbx\",\"serverPort\":\"5060\",\"account\":\"%2\","
                                     "\"password\":\"pw\",\"displayName\":\"Desk\"}")
                          .arg(i)
                          .arg(first + i);
        return answer;
    };
    terminals.script = QStringList{accounts(101), "success", accounts(301)};
    if (how == 3) {
        FenwaMacSettingWidget page(window, sdk, model);
        page.setDevice(model->deviceAt(1));
        page.lineEdit()->setText(QStringLiteral("02:fe:00:00:10:00"));
        page.onClickSetAllButton(false);
        QCOMPARE(terminals.sent.size(), commands);
        QCOMPARE(page.lineEdit()->text(), shown);
        return;
    }
    FenwaSipSettingWidget page(window, sdk, model);
    page.setDevice(model->deviceAt(0));
    QCOMPARE(page.fields().at(0)->text(), QStringLiteral("101"));
    if (how == 1)
        page.hide();
    if (how == 2) {
        page.fields().at(0)->clear();
        QTest::keyClicks(page.fields().at(0), QStringLiteral("typed"));
    }
    // Another batch (a plan's apply, a restore) writes the page's terminal.
    SipSettings sip;
    sip.account = QStringLiteral("201");
    FenwaSipSettingDialog write(window, sdk, sip, SipSettings());
    write.setDevices({model->deviceAt(0)});
    write.runBatch(model, window, false);
    QCOMPARE(terminals.sent.size(), commands);
    QCOMPARE(page.fields().at(0)->text(), shown);
    const OrbToastView *notice = page.findChild<OrbToastView *>();
    QCOMPARE(notice && notice->text().contains(QStringLiteral("T1 has changed")), how == 2);
}

void SettingsTest::failedCheckShowsItsNoticeAndSendsNothing()
{
    const struct {
        int page;
        const char *typed, *notice;
    } cases[] = {
        {0, "  ", "Please input device name"},
        {1, "01:00:5e:00:00:01", "group"},
        {1, "fe:ff:ff:ff:ff:fe", "Counting up"}, // past the last unicast MAC
        {2, "admin", "Please input password"},    // an account without password
        {3, "/no/such/fw-2.5.0.bin", "Cannot read the firmware file"},
    };
    for (const auto &c : cases) {
        std::unique_ptr<FenwaSettingWidget> widget;
        switch (c.page) {
        case 0: widget.reset(new FenwaNameSettingWidget(window, sdk, model)); break;
        case 1: widget.reset(new FenwaMacSettingWidget(window, sdk, model)); break;
        case 2: widget.reset(new FenwaTestSettingWidget(window, sdk, model)); break;
        default: widget.reset(new FenwaVersionSettingWidget(window, sdk, model));
        }
        widget->setDevice(model->deviceAt(0));
        widget->findChild<QLineEdit *>()->setText(QLatin1String(c.typed));
        // The second button of every page is its "Set All" (the firmware page's "Set").
        widget->findChildren<QPushButton *>().at(1)->click();
        QVERIFY(terminals.sent.isEmpty());
        auto *shown = widget->findChild<OrbToastView *>();
        QVERIFY2(shown && shown->text().contains(QLatin1String(c.notice)), qPrintable(shown ? shown->text() : QString()));
    }
}

void SettingsTest::destructiveWorkAsksFirst_data()
{
    QTest::addColumn<int>("action"); // reboot all, restore one, firmware to all
    QTest::addColumn<bool>("accept");
    QTest::addColumn<QString>("question");
    const QString reboot = QStringLiteral("Reboot 5 terminals?");
    const QString restore = QStringLiteral("Restore the factory settings of T1 (02:fe:00:00:00:01)?");
    QTest::newRow("reboot all declined: nothing sent") << 0 << false << reboot;
    QTest::newRow("reboot all accepted: one reboot per terminal") << 0 << true << reboot;
    QTest::newRow("one factory reset declined") << 1 << false << restore;
    QTest::newRow("one factory reset accepted") << 1 << true << restore;
    QTest::newRow("firmware to every terminal declined")
        << 2 << false
        << QStringLiteral("Upgrade the firmware of 5 terminals with fw-2.5.0.bin (1.14 MiB)? Each restarts once it has the file.");
}

void SettingsTest::destructiveWorkAsksFirst()
{
    QFETCH(int, action);
    QFETCH(bool, accept);
    QFETCH(QString, question);
    const bool restoreOne = action == 1;
    FenwaTestSettingWidget page(window, sdk, model);
    page.setDevice(model->deviceAt(0));
    FenwaVersionSettingWidget firmware(window, sdk, model);
    QTemporaryDir dir;
    QFile image(dir.filePath(QStringLiteral("fw-2.5.0.bin")));
    QVERIFY(image.open(QIODevice::WriteOnly) && image.resize(1200000));
    firmware.pathEdit()->setText(image.fileName());
    std::unique_ptr<QString> asked(answerNextModal(accept));
    // After a restart the result box offers to wait: it is closed with OK.
    QString offered;
    QTimer boxes;
    connect(&boxes, &QTimer::timeout, [&offered] {
        if (auto *box = qobject_cast<FenwaBatchResultDialog *>(QApplication::activeModalWidget())) {
            offered = box->text();
            box->accept();
        }
    });
    boxes.start(20);
    if (action == 2)
        firmware.onClickSetAllButton(false);
    else if (restoreOne)
        page.onClickRestoreSetButton(false);
    else
        page.onClickRebootSetAllButton(false);
    QCOMPARE(*asked, question);
    QCOMPARE(terminals.sent.size(), accept ? (restoreOne ? 1 : 5) : 0);
    QCOMPARE(offered.contains(QStringLiteral("Wait until")), accept);
    for (const QByteArray &text : terminals.sent)
        QVERIFY(text.contains(restoreOne ? "\"method\":\"ResetDefault\"" : "\"method\":\"reboot\""));
}

void SettingsTest::failedReadCannotWipeATerminal_data()
{
    QTest::addColumn<bool>("sip");
    QTest::addColumn<QString>("readAnswer"); // "": no answer; "stop": no answer, the operator stops
    QTest::newRow("SIP read unanswered") << true << "";
    QTest::newRow("SIP read refused") << true << "busy";
    QTest::newRow("SIP read stopped") << true << "stop";
    QTest::newRow("RTP read unanswered") << false << "";
    QTest::newRow("RTP read refused") << false << "busy";
}

void SettingsTest::failedReadCannotWipeATerminal()
{
    // The fields hold every value of the first terminal when the read of the
    // second one fails: "Set" must not take them for the second one's.
    QFETCH(bool, sip);
    QFETCH(QString, readAnswer);
    QString first = QStringLiteral("success");
    for (int i = 0; i < (sip ? 2 : FENWA_RTP_CHANNELS); ++i)
        first += sip ? QStringLiteral(",\"sip%1\":{\"serverHost\":\"pbx\",\"serverPort\":\"5060\",\"account\":\"10%1\","
                                      "\"password\":\"pw\",\"displayName\":\"Desk\"}").arg(i)
                     : QStringLiteral(",\"rtp%1\":{\"enable\":1,\"rtpIP\":\"239.1.1.%1\",\"rtpPort\":6000}").arg(i);
    const bool stop = readAnswer == QLatin1String("stop");
    terminals.script = QStringList{first, stop ? QString() : readAnswer};
    sdk->setReplyTimeout(stop ? -1 : 200);
    std::unique_ptr<FenwaReadSettingWidget> page;
    if (sip)
        page.reset(new FenwaSipSettingWidget(window, sdk, model));
    else
        page.reset(new FenwaRtpSettingWidget(window, sdk, model));
    page->setDevice(model->deviceAt(0));
    for (QLineEdit *e : page->fields())
        QVERIFY(!e->text().isEmpty());
    if (stop)
        QTimer::singleShot(300, [] { QApplication::activeModalWidget()->close(); });
    page->setDevice(model->deviceAt(1));
    QCOMPARE(terminals.sent.size(), 2);
    for (QPushButton *b : page->findChildren<QPushButton *>())
        if (b->text() == QLatin1String("Set"))
            b->click();
    QCOMPARE(terminals.sent.size(), 2); // nothing written that was never read
    for (QLineEdit *e : page->fields())
        QVERIFY(e->text().isEmpty());
    QVERIFY(page->findChild<OrbToastView *>()->text().contains(QStringLiteral("Nothing was read")));
}

void SettingsTest::pageLabelsCountChannelsFromOneAndShowVolumes()
{
    FenwaAudioSettingWidget page(window, sdk, model);
    page.setDevice(model->deviceAt(0)); // no volumes read: 0, where the sliders stand
    model->deviceAt(1)->setExtraInt(QStringLiteral("outVolume"), 100); // the top of the range
    for (const char *shown : {"Input Volume : 0|Output Volume : 0", "Input Volume : 0|Output Volume : 100"}) {
        QStringList labels;
        for (const QLabel *label : page.findChildren<QLabel *>())
            if (label->text().contains(QLatin1String("Volume :")))
                labels << label->text();
        QCOMPARE(labels.join(QLatin1Char('|')), QString::fromLatin1(shown));
        page.setDevice(model->deviceAt(1));
    }
    QStringList numbers;
    const FenwaRtpSettingWidget rtp(window, sdk, model);
    for (const QLabel *label : rtp.findChildren<QLabel *>())
        numbers << label->text();
    QVERIFY2(numbers.contains(QStringLiteral("1")) && numbers.contains(QStringLiteral("10")) && !numbers.contains(QStringLiteral("0")),
             qPrintable(numbers.join(QLatin1Char('|'))));
}

void SettingsTest::anAcceptedDhcpShowsInTheRecord()
{
    terminals.script = QStringList{"success"};
    FenwaIpSettingWidget page(window, sdk, model);
    page.setDevice(model->deviceAt(0));
    page.findChild<QComboBox *>()->setCurrentIndex(0); // DHCP
    page.onClickSetButton(false);
    QVERIFY(terminals.sent.value(0).contains("\"IpMode\":\"dhcp\""));
    QCOMPARE(model->deviceAt(0)->ipMode, QStringLiteral("dhcp"));
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
