// SPDX-License-Identifier: GPL-3.0-or-later
// Every text of the workbench whole, as a desktop at 96 or at 192 dpi shows
// it (QT_FONT_DPI, offscreen): the main window at its default and at its
// smallest size, every settings page with a terminal in it, the dialogs and
// a plan of forty rows, in English and in Chinese. A text is cut when the
// box the style draws it in is narrower (or lower) than the text.
//
// The main window opens an adapter and searches by itself, so the process
// first moves into a network namespace of its own, which holds nothing but
// a loopback interface that is down.
#include "FenwaAboutDialog.h"
#include "FenwaStartup.h"
#include "MainWindow.h"
#include "OrbUtils/OrbTranslate.h"
#include "OrbUtils/widgets/OrbTableView.h"
#include "link/FenwaDevice.h"
#include "link/QPcapAdapterList.h"
#include "multicast/OrbRtpMulticastDialog.h"
#include "settings/FenwaPlanDialog.h"
#include "settings/FenwaTestSettingWidget.h"
#include "settings/OrbNetworkDialog.h"
#include "table/FenwaDeviceModel.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QStyleOption>
#include <QtTest>
#include <cJSON.h>
#include <cstdio>
#include <sched.h>

namespace {
// What of one widget's texts does not fit, as "class in window 'text':
// needs N, has M" (widths; a label's height too).
QStringList cutIn(QWidget *w)
{
    QStringList cut;
    const auto check = [&](const QString &text, int needs, int has) {
        if (needs > has)
            cut << QStringLiteral("%1 in %2 '%3': needs %4, has %5")
                       .arg(QLatin1String(w->metaObject()->className()),
                            QLatin1String(w->window()->metaObject()->className()), text)
                       .arg(needs)
                       .arg(has);
    };
    const QFontMetrics fm = w->fontMetrics();
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (!label->text().isEmpty() && !label->wordWrap()) {
            check(label->text(), label->minimumSizeHint().width(), label->width());
            check(label->text(), label->minimumSizeHint().height(), label->height());
        }
    } else if (auto *button = qobject_cast<QAbstractButton *>(w)) {
        // The style's margins around a text long enough for no minimum
        // width to apply; a check box's include its indicator.
        const auto *push = qobject_cast<QPushButton *>(w);
        QStyleOptionButton option;
        option.initFrom(button);
        const int margins = push ? w->style()->sizeFromContents(QStyle::CT_PushButton, &option, QSize(1000, fm.height()), w).width() - 1000
                                       + (push->menu() ? w->style()->pixelMetric(QStyle::PM_MenuButtonIndicator) : 0)
                                 : button->sizeHint().width() - fm.horizontalAdvance(button->text());
        const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
        if (!button->text().isEmpty())
            check(button->text(), fm.horizontalAdvance(button->text()) + icon + margins, button->width());
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        check(combo->currentText(), combo->minimumSizeHint().width(), combo->width()); // its longest item
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->text();
        // Frame and margins, and the clear button once there is text.
        const int clear = edit->isClearButtonEnabled() && !edit->text().isEmpty() ? edit->height() : 0;
        if (!text.isEmpty())
            check(text, fm.horizontalAdvance(text) + 8 + clear, edit->width());
    } else if (auto *table = qobject_cast<OrbTableView *>(w)) {
        // The device table; the plan's rows are one line each by design,
        // whole in a tooltip and the details pane.
        const QAbstractItemModel *model = table->model();
        for (int c = 0; c < model->columnCount(); ++c) {
            const QString title = model->headerData(c, Qt::Horizontal).toString();
            check(title, fm.horizontalAdvance(title) + 8, table->columnWidth(c));
            for (int r = 0; r < model->rowCount(); ++r) {
                const QString text = model->index(r, c).data().toString();
                check(text, fm.horizontalAdvance(text) + 8, table->columnWidth(c));
            }
        }
    }
    return cut;
}

// Every text cut anywhere in root's window (only what is shown).
QStringList cutTexts(QWidget *root)
{
    QStringList cut = cutIn(root);
    for (QWidget *w : root->findChildren<QWidget *>())
        if (w->isVisibleTo(root))
            cut << cutIn(w);
    return cut;
}

// A terminal with the longest values a site's search usually shows.
FenwaDevice *terminal(int i)
{
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0x10, uint8_t(i)}, address[4] = {192, 168, 100, uint8_t(200 + i)};
    cJSON *json = cJSON_Parse("{\"type\":\"VQT40\",\"ipMode\":\"static\",\"netmask\":\"255.255.255.0\","
                              "\"gateway\":\"192.168.100.254\",\"dns1\":\"192.168.100.254\",\"dns2\":\"114.114.114.114\","
                              "\"version\":\"2.10.12\",\"account\":\"administrator\",\"uid\":\"FW4000A1B2C3D4E5\","
                              "\"micVolume\":100,\"outVolume\":100}");
    FenwaDevice *d = FenwaDevice::fromSearchReply(mac, address, json);
    cJSON_Delete(json);
    d->name = QStringLiteral("Terminal-%1").arg(100 + i);
    d->ip = QStringLiteral("192.168.100.%1").arg(200 + i);
    d->setExtra(QStringLiteral("sipInfo"), QStringLiteral("2001@192.168.100.250"));
    d->setExtra(QStringLiteral("rtpInfo"), QStringLiteral("239.255.100.100:60000"));
    return d;
}
} // namespace

class TextFitTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyTextWhole();
};

void TextFitTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    setLanguageDirectory(QStringLiteral(FENWA_SOURCE_DIR "/resources/language"));
}

void TextFitTest::everyTextWhole()
{
    for (const QString &language : {QStringLiteral("en"), QStringLiteral("cn")}) {
        QVERIFY(loadLanguage(language) > 100);
        const qreal dpi = qEnvironmentVariableIntValue("QT_FONT_DPI") ? qEnvironmentVariableIntValue("QT_FONT_DPI") : 96;

        MainWindow window;
        QSignalSpy searched(&window, &MainWindow::searchFinished);
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QTRY_VERIFY_WITH_TIMEOUT(searched.count() > 0, 10000);
        // Its default size, not the small screen's.
        window.showNormal();
        window.resize(1000, 700);
        QTRY_COMPARE(window.size(), QSize(1000, 700));
        // The desktop's scale, exactly: boxes grow with the font.
        QCOMPARE(window.devicePixelRatioF(), dpi / 96);

        QStringList cut;
        const auto look = [&](const QString &what, QWidget *root) {
            // The layouts the last change asked for, and those they ask for in
            // turn (a status line that wraps makes the bar taller).
            for (int pass = 0; pass < 5; ++pass) {
                QCoreApplication::sendPostedEvents();
                QCoreApplication::processEvents();
            }
            for (const QString &c : cutTexts(root))
                cut << what + QStringLiteral(": ") + c;
        };
        look(QStringLiteral("window after an empty search"), &window);

        FenwaDeviceModel *model = window.deviceModel();
        QList<FenwaDevice *> rows;
        QByteArray sheet = "mac;name;ip\n"; // forty rows, every tenth refused
        for (int i = 1; i <= 40; ++i) {
            rows << terminal(i);
            sheet += QStringLiteral("%1;Meeting room %2;10.1.0.%3\n").arg(rows.last()->macText).arg(i).arg(i % 10 ? i : 300).toUtf8();
        }
        model->setDevices(rows);
        for (FenwaDevice *d : rows)
            d->release();
        model->setLastResult(rows.first(), translate("unknown: may have changed"));
        model->refresh();
        window.sdk()->setReplyTimeout(50); // the SIP and RTP pages read: nobody answers
        for (int column : {FenwaDeviceModel::NameColumn, FenwaDeviceModel::MacColumn, FenwaDeviceModel::IpColumn,
                           FenwaDeviceModel::SipColumn, FenwaDeviceModel::RtpColumn, FenwaDeviceModel::VersionColumn,
                           FenwaDeviceModel::VolumeColumn, FenwaDeviceModel::SystemColumn}) {
            window.onClickTableViewIndex(model->index(0, column));
            QVERIFY(window.currentPage());
            look(model->headerData(column, Qt::Horizontal).toString() + QStringLiteral(" page"), &window);
        }
        window.resize(window.minimumSize());
        QTRY_COMPARE(window.size(), QSize(640, 480));
        look(QStringLiteral("smallest window"), &window);

        FenwaAboutDialog about(&window);
        about.show();
        about.languageBox()->setCurrentIndex(1 - about.languageBox()->currentIndex()); // the note under it
        look(QStringLiteral("about"), &about);
        OrbNetworkDialog network(&window);
        network.setAdapters(FenwaSDK::adapters());
        network.show();
        look(QStringLiteral("adapters"), &network);
        FenwaRebootSettingDialog progress(&window, window.sdk());
        progress.setMessage(translate("%1 of %2 done").arg(120).arg(1000));
        progress.show();
        look(QStringLiteral("batch"), &progress);
        auto *multicast = new OrbRtpMulticastDialog; // deletes itself when closed
        multicast->show();
        look(QStringLiteral("multicast"), multicast);
        OrbRtpMulticastDialog::closeInstance();
        FenwaPlan::Plan plan;
        QString error;
        QVERIFY2(FenwaPlan::read(sheet, &plan, &error), qPrintable(error));
        QList<FenwaPlan::Found> found;
        for (FenwaDevice *d : rows)
            found << FenwaPlan::Found{d, FenwaPlan::currentValues(d)};
        FenwaPlanDialog planDialog(&window, nullptr, nullptr, plan, FenwaPlan::preview(plan, found, {}));
        planDialog.show();
        look(QStringLiteral("plan"), &planDialog);

        cut.removeDuplicates();
        for (const QString &c : cut) // the message of a failure is cut short
            qWarning("%s", qPrintable(c));
        QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 texts cut in %2, listed above").arg(cut.size()).arg(language)));
    }
}

int main(int argc, char **argv)
{
    if (::unshare(CLONE_NEWNET) != 0 && ::unshare(CLONE_NEWUSER | CLONE_NEWNET) != 0) {
        std::puts("SKIP: the main window needs a network namespace of its own (root, or user namespaces)");
        return 77;
    }
    scaleWithTheDesktop();
    QApplication app(argc, argv);
    useInterfaceFont();
    // Qt's test main would force 96 dpi; the desktop's is the point here.
    TextFitTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_text_fit.moc"
