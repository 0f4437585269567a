// SPDX-License-Identifier: GPL-3.0-or-later
// The settings framework offscreen and without a network: the SDK is opened
// on a scripted device that puts nothing on a wire, and scripted terminals
// answer each command from the observer the moment it is sent (or stay
// silent). Every row's link MAC is the one the answers come from.
#include "crafted_frames.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "OrbUtils/OrbTableView.h"
#include "OrbUtils/OrbToast.h"
#include "settings/FenwaNameSettingWidget.h"
#include "settings/FenwaRtpSettingWidget.h"
#include "settings/FenwaSipSettingWidget.h"
#include "settings/FenwaTestSettingWidget.h"
#include "settings/FenwaVersionSettingWidget.h"
#include "table/FenwaDeviceModel.h"

#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QtTest>
#include <cJSON.h>
#include <cstring>

namespace {
// Answers the n-th command with script[n]: a result text, or "" for silence.
class ScriptedTerminals : public FenwaCommandObserver
{
public:
    QStringList script;
    QList<QByteArray> sent;
    void onSendCommand(FenwaSDK *sdk, const char *text) override
    {
        const QString answer = script.value(sent.size(), QStringLiteral("success"));
        sent << QByteArray(text);
        if (answer.isEmpty())
            return;
        cJSON *command = cJSON_Parse(text);
        const int id = cJSON_GetObjectItem(command, "id")->valueint;
        cJSON_Delete(command);
        QPcapPacket *reply = craftFrame(kTermMac, kTermIp, kToolMac, kToolIp,
                                        QStringLiteral("{\"id\":%1,\"result\":\"%2\"}").arg(id).arg(answer).toUtf8());
        sdk->onPcapPacket(reply);
        reply->release();
    }
    void onRecvCommand(FenwaSDK *, const char *) override {}
};

// Answers the next modal box (batch result or question) and keeps its text.
struct ModalAnswer {
    QString text;
    bool accept = false;
    void arm()
    {
        text.clear();
        auto *timer = new QTimer(qApp);
        QObject::connect(timer, &QTimer::timeout, [this, timer] {
            QWidget *w = QApplication::activeModalWidget();
            if (auto *box = qobject_cast<FenwaBatchResultDialog *>(w)) {
                text = box->text();
                box->accept();
            } else if (auto *question = qobject_cast<QMessageBox *>(w)) {
                text = question->text();
                for (QAbstractButton *b : question->buttons())
                    if ((question->buttonRole(b) == QMessageBox::AcceptRole) == accept)
                        b->click();
            } else {
                return;
            }
            timer->deleteLater();
        });
        timer->start(20);
    }
};

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

    void setAndSetAllTargets_data();
    void setAndSetAllTargets();
    void silentTerminalIsReportedAndStaysTicked();
    void closingDuringAWaitReturnsAtOnceUnrefreshed();
    void failedCheckShowsItsNoticeAndSendsNothing_data();
    void failedCheckShowsItsNoticeAndSendsNothing();
    void rebootAllAsksOnceNamingTheCount_data();
    void rebootAllAsksOnceNamingTheCount();
    void failedReadCannotWipeATerminal_data();
    void failedReadCannotWipeATerminal();

private:
    QWidget *window = nullptr;
    FenwaDeviceModel *model = nullptr;
    FenwaSDK *sdk = nullptr;
    ScriptedTerminals terminals;
    DeviceScript wire;
    QPcapAdapter adapter;
};

void SettingsTest::init()
{
    std::memset(&adapter, 0, sizeof adapter);
    std::snprintf(adapter.name, sizeof adapter.name, "no-such-interface-for-tests");
    std::memcpy(adapter.hardwareAddress, kToolMac, 6);
    sdk = new FenwaSDK;
    sdk->transport()->setDeviceFactory([this] { return std::make_unique<ScriptedDevice>(&wire); });
    sdk->open(&adapter);
    sdk->setCommandObserver(&terminals);
    terminals = ScriptedTerminals();
    window = new QWidget;
    window->resize(1000, 700);
    auto *table = new OrbTableView(window);
    model = new FenwaDeviceModel(table);
    QList<FenwaDevice *> rows;
    for (int i = 1; i <= 5; ++i) {
        auto *d = new FenwaDevice;
        d->name = QStringLiteral("T%1").arg(i);
        d->macText = QStringLiteral("02:fe:00:00:00:0%1").arg(i);
        std::memcpy(d->mac, kTermMac, 6);
        rows << d;
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

// MAC values differ per terminal, so the records show who got which.
void SettingsTest::setAndSetAllTargets_data()
{
    QTest::addColumn<bool>("setAll");
    QTest::addColumn<QList<int>>("ticked");
    QTest::addColumn<QStringList>("macs");
    const QString a = QStringLiteral("02:fe:00:00:00:a0"), b = QStringLiteral("02:fe:00:00:00:a1");
    QTest::newRow("Set: the current terminal (row 3) only")
        << false << QList<int>{1, 4} << QStringList{"02:fe:00:00:00:01", "02:fe:00:00:00:02", a, "02:fe:00:00:00:04",
                                                    "02:fe:00:00:00:05"};
    QTest::newRow("Set All: rows 2 and 5 ticked, in table order")
        << true << QList<int>{4, 1} << QStringList{"02:fe:00:00:00:01", a, "02:fe:00:00:00:03", "02:fe:00:00:00:04", b};
    QTest::newRow("Set All: none ticked is every row")
        << true << QList<int>{}
        << QStringList{a, b, "02:fe:00:00:00:a2", "02:fe:00:00:00:a3", "02:fe:00:00:00:a4"};
}

void SettingsTest::setAndSetAllTargets()
{
    QFETCH(bool, setAll);
    QFETCH(QList<int>, ticked);
    QFETCH(QStringList, macs);
    for (int row : ticked)
        model->deviceAt(row)->checked = true;
    FenwaMacSettingWidget page(window, sdk, model);
    page.setDevice(model->deviceAt(2));
    page.lineEdit()->setText(QStringLiteral("02:fe:00:00:00:a0"));
    (setAll ? page.onClickSetAllButton(false) : page.onClickSetButton(false));
    QCOMPARE(macTexts(model->allDevices()), macs);
    QCOMPARE(model->checkedDevices().size(), setAll ? 0 : ticked.size()); // all accepted: nothing to retry
}

void SettingsTest::silentTerminalIsReportedAndStaysTicked()
{
    sdk->setReplyTimeout(200);
    terminals.script = QStringList{"success", "", "success"};
    for (int row : {0, 1, 2})
        model->deviceAt(row)->checked = true;
    FenwaNameSettingWidget page(window, sdk, model);
    page.lineEdit()->setText(QStringLiteral("Hall"));
    ModalAnswer result;
    result.arm();
    page.onClickSetAllButton(false);
    QCOMPARE(terminals.sent.size(), 3);
    QStringList names;
    for (FenwaDevice *d : model->allDevices())
        names << d->name;
    QCOMPARE(names, QStringList({"Hall", "T2", "Hall", "T4", "T5"}));
    QVERIFY2(result.text.startsWith(QStringLiteral("2 of 3 terminals accepted")), qPrintable(result.text));
    QVERIFY2(result.text.contains(QStringLiteral("T2 (02:fe:00:00:00:02): no answer")), qPrintable(result.text));
    QCOMPARE(macTexts(model->checkedDevices()), QStringList{"02:fe:00:00:00:02"});
}

void SettingsTest::closingDuringAWaitReturnsAtOnceUnrefreshed()
{
    // The second terminal never answers and the wait has no end of its own:
    // only the close can end it.
    terminals.script = QStringList{"success", ""};
    sdk->setReplyTimeout(-1);
    FenwaNameSettingWidget page(window, sdk, model);
    page.lineEdit()->setText(QStringLiteral("Hall"));
    QSignalSpy refreshed(model, &QAbstractItemModel::dataChanged);
    QTimer::singleShot(300, [] { QApplication::activeModalWidget()->close(); });
    page.onClickSetAllButton(false);
    QCOMPARE(terminals.sent.size(), 2);
    QCOMPARE(model->deviceAt(0)->name, QStringLiteral("Hall")); // accepted before the close: kept
    QCOMPARE(model->deviceAt(1)->name, QStringLiteral("T2"));
    QCOMPARE(refreshed.count(), 0);
    QVERIFY(model->checkedDevices().isEmpty());
}

void SettingsTest::failedCheckShowsItsNoticeAndSendsNothing_data()
{
    QTest::addColumn<QString>("page");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("notice");
    QTest::newRow("empty name") << "name" << "  " << "Please input device name";
    QTest::newRow("group MAC") << "mac" << "01:00:5e:00:00:01" << "group";
    QTest::newRow("MAC past the last unicast") << "mac" << "fe:ff:ff:ff:ff:fe" << "Counting up";
    QTest::newRow("account without password") << "account" << "admin" << "Please input password";
    QTest::newRow("firmware file that cannot be read") << "firmware" << "/no/such/fw-2.5.0.bin"
                                                       << "Cannot read the firmware file";
}

void SettingsTest::failedCheckShowsItsNoticeAndSendsNothing()
{
    QFETCH(QString, page);
    QFETCH(QString, typed);
    QFETCH(QString, notice);
    std::unique_ptr<FenwaSettingWidget> widget;
    if (page == QLatin1String("account"))
        widget.reset(new FenwaTestSettingWidget(window, sdk, model));
    else if (page == QLatin1String("firmware"))
        widget.reset(new FenwaVersionSettingWidget(window, sdk, model));
    else if (page == QLatin1String("name"))
        widget.reset(new FenwaNameSettingWidget(window, sdk, model));
    else
        widget.reset(new FenwaMacSettingWidget(window, sdk, model));
    widget->setDevice(model->deviceAt(0));
    widget->findChild<QLineEdit *>()->setText(typed);
    // The second button of every page is its "Set All" (the firmware page's "Set").
    widget->findChildren<QPushButton *>().at(1)->click();
    QVERIFY(terminals.sent.isEmpty());
    auto *shown = widget->findChild<OrbToastView *>();
    QVERIFY(shown);
    QVERIFY2(shown->text().contains(notice), qPrintable(shown->text()));
}

void SettingsTest::rebootAllAsksOnceNamingTheCount_data()
{
    QTest::addColumn<bool>("accept");
    QTest::newRow("declined: nothing sent") << false;
    QTest::newRow("accepted: one reboot per terminal") << true;
}

void SettingsTest::rebootAllAsksOnceNamingTheCount()
{
    QFETCH(bool, accept);
    FenwaTestSettingWidget page(window, sdk, model);
    ModalAnswer question;
    question.accept = accept;
    question.arm();
    page.onClickRebootSetAllButton(false);
    QCOMPARE(question.text, QStringLiteral("Reboot 5 terminals?"));
    QCOMPARE(terminals.sent.size(), accept ? 5 : 0);
    for (const QByteArray &text : terminals.sent)
        QVERIFY(text.contains("\"method\":\"reboot\""));
}

void SettingsTest::failedReadCannotWipeATerminal_data()
{
    QTest::addColumn<bool>("sip");
    QTest::addColumn<QString>("readAnswer"); // "": no answer
    QTest::newRow("SIP read unanswered") << true << "";
    QTest::newRow("SIP read refused") << true << "busy";
    QTest::newRow("RTP read unanswered") << false << "";
    QTest::newRow("RTP read refused") << false << "busy";
}

void SettingsTest::failedReadCannotWipeATerminal()
{
    QFETCH(bool, sip);
    QFETCH(QString, readAnswer);
    sdk->setReplyTimeout(200);
    terminals.script = QStringList{readAnswer};
    std::unique_ptr<FenwaReadSettingWidget> page;
    if (sip)
        page.reset(new FenwaSipSettingWidget(window, sdk, model));
    else
        page.reset(new FenwaRtpSettingWidget(window, sdk, model));
    const QByteArray write = sip ? "SetSipSettings" : "SetRtpSettings";
    auto set = [&page] {
        for (QPushButton *b : page->findChildren<QPushButton *>())
            if (b->text() == QLatin1String("Set"))
                b->click();
    };
    page->setDevice(model->deviceAt(0));
    QCOMPARE(terminals.sent.size(), 1);
    for (QLineEdit *e : page->fields())
        QVERIFY(e->text().isEmpty());
    set();
    QCOMPARE(terminals.sent.size(), 1); // nothing written that was never read
    QVERIFY(page->findChild<OrbToastView *>()->text().contains(QStringLiteral("Nothing was read")));

    // Typed into every field, the values may go out.
    int n = 0;
    for (QLineEdit *e : page->fields())
        e->setText(QStringLiteral("239.0.0.%1:600%1").arg(++n));
    set();
    QCOMPARE(terminals.sent.size(), 2);
    QVERIFY(terminals.sent.last().contains(write));
}

QTEST_MAIN(SettingsTest)
#include "tst_settings.moc"
