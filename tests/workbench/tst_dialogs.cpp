// SPDX-License-Identifier: GPL-3.0-or-later
// Adapter dialog, about panel and start-up helpers, offscreen and without
// any network.
#include "app/FenwaAboutDialog.h"
#include "app/FenwaStartup.h"
#include "link/QPcapAdapterList.h"
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbTranslate.h"
#include "settings/OrbNetworkDialog.h"

#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>
#include <cstring>

namespace {
QPcapAdapterList *adapters()
{
    auto *list = new QPcapAdapterList;
    const struct {
        const char *name, *description;
        uint8_t ip[4];
    } rows[] = {{"ens1", "Office LAN", {10, 0, 0, 2}}, {"ens2", "Terminal segment", {192, 168, 50, 3}},
                {"ens3", "Bench port", {192, 168, 1, 7}}, {"wwan0", "Modem", {0, 0, 0, 0}}};
    for (const auto &row : rows) {
        QPcapAdapter a;
        std::memset(&a, 0, sizeof a);
        std::snprintf(a.name, sizeof a.name, "%s", row.name);
        std::snprintf(a.description, sizeof a.description, "%s", row.description);
        std::memcpy(a.address, row.ip, 4);
        list->append(a);
    }
    return list;
}

} // namespace

class DialogsTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase() { QStandardPaths::setTestModeEnabled(true); }
    void init();

    void networkDialogPreselectsListsAndRemembersOnOk();
    void aboutShowsStoredLanguage();
    void aboutLanguageChangeIsStoredAndAnnounced();
    void interfaceLanguageFirstStart();
};

void DialogsTest::init()
{
    QFile::remove(OrbConfigure::filePath());
    setLanguageDirectory(QStringLiteral("/nonexistent"));
    loadLanguage(QStringLiteral("en"));
}

// The choice itself is findAdapter's (the link's tests go through its rules);
// here the dialog feeds it the remembered name and shows what it picked.
void DialogsTest::networkDialogPreselectsListsAndRemembersOnOk()
{
    const QPair<const char *, int> cases[] = {
        {"", 2},     // nothing remembered: 192.168.x with x <= 30
        {"ens2", 1}, // the remembered one wins
        {"eth7", 2}, // the remembered one is gone
        {"", -1},    // no adapters at all
    };
    for (const auto &c : cases) {
        init();
        const QString remembered = QLatin1String(c.first);
        if (!remembered.isEmpty())
            OrbConfigure().setNetwork(remembered);
        QPcapAdapterList *list = c.second < 0 ? new QPcapAdapterList : adapters();
        OrbNetworkDialog dialog;
        dialog.setAdapters(list);
        auto *box = dialog.findChild<QComboBox *>();
        QCOMPARE(box->currentIndex(), c.second);
        QCOMPARE(dialog.selectedAdapter(), list->at(c.second));
        if (c.second >= 0) {
            QCOMPARE(box->count(), 4);
            QCOMPARE(box->itemText(0), QStringLiteral("Office LAN 10.0.0.2"));
            QCOMPARE(box->itemText(3), QStringLiteral("Modem 0.0.0.0"));
            box->setCurrentIndex(0);
        }
        QCOMPARE(OrbConfigure().network(), remembered); // nothing before OK
        dialog.findChild<QPushButton *>()->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QCOMPARE(OrbConfigure().network(), c.second < 0 ? QString() : QStringLiteral("ens1"));
        dialog.setAdapters(nullptr); // frees the list it held (ASan checks)
        QCOMPARE(dialog.selectedAdapter(), nullptr);
    }
}

void DialogsTest::aboutShowsStoredLanguage()
{
    const QPair<const char *, int> cases[] = {{"cn", 1}, {"CN", 1}, {"", 0}}; // case ignored; absent
    for (const auto &c : cases) {
        init();
        if (*c.first)
            OrbConfigure().setLanguage(QLatin1String(c.first));
        FenwaAboutDialog dialog;
        QCOMPARE(dialog.languageBox()->currentIndex(), c.second);
        QCOMPARE(OrbConfigure().language(), QLatin1String(c.first)); // showing it wrote nothing
    }
}

void DialogsTest::aboutLanguageChangeIsStoredAndAnnounced()
{
    QWidget window;
    window.resize(800, 600);
    window.show();
    FenwaAboutDialog dialog(&window);
    dialog.show();
    QVERIFY(!dialog.restartNote()->isVisible());
    for (const char *language : {"cn", "en"}) {
        dialog.languageBox()->setCurrentIndex(language[0] == 'c' ? 1 : 0);
        QCOMPARE(OrbConfigure().language(), QLatin1String(language));
    }
    // Said under the language row, over nothing it talks about.
    QCOMPARE(dialog.restartNote()->text(), QStringLiteral("Language settings will take effect after restart"));
    QVERIFY(dialog.restartNote()->isVisible());
    QVERIFY(!dialog.restartNote()->geometry().intersects(dialog.languageBox()->geometry()));
    QCOMPARE(translate("Search"), QStringLiteral("Search")); // the running table is untouched
}

void DialogsTest::interfaceLanguageFirstStart()
{
    QTemporaryDir appDir;
    QVERIFY(QDir(appDir.path()).mkdir(QStringLiteral("language")));
    for (const char *name : {"en", "cn"}) {
        QFile f(appDir.filePath(QStringLiteral("language/%1.txt").arg(QLatin1String(name))));
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(name[0] == 'c' ? "\"Search\"=\"搜索\";\n" : "\"Search\"=\"Search\";\n");
    }
    loadInterfaceLanguage(appDir.path());
    QCOMPARE(OrbConfigure().language(), QStringLiteral("en"));
    QCOMPARE(translate("Search"), QStringLiteral("Search"));
    OrbConfigure().setLanguage(QStringLiteral("CN"));
    loadInterfaceLanguage(appDir.path());
    QCOMPARE(translate("Search"), QStringLiteral("搜索"));
    // Qt's standard buttons and file dialogs speak it too.
    QVERIFY2(QCoreApplication::translate("QPlatformTheme", "Cancel") == QStringLiteral("取消"),
             "Qt's Chinese texts are missing (qttranslations5-l10n: scripts/setup.sh)");
    QCOMPARE(languageDirectory(), appDir.filePath(QStringLiteral("language")));
}

QTEST_MAIN(DialogsTest)
#include "tst_dialogs.moc"
