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
#include <QCheckBox>
#include <QComboBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QStyleOption>
#include <QtTest>
#include <cJSON.h>
#include <cstdio>
#include <sched.h>

namespace {
QString where(const QWidget *w)
{
    return QStringLiteral("%1 in %2").arg(QLatin1String(w->metaObject()->className()),
                                          QLatin1String(w->window()->metaObject()->className()));
}

// What of one widget's texts does not fit, as lines "class in window
// 'text': needs N, has M".
QStringList cutIn(QWidget *w)
{
    QStringList cut;
    const QFontMetrics fm = w->fontMetrics();
    const auto check = [&](const QString &text, int needs, int has) {
        if (needs > has)
            cut << QStringLiteral("%1 '%2': needs %3, has %4").arg(where(w), text).arg(needs).arg(has);
    };
    QStyle *style = w->style();
    if (auto *label = qobject_cast<QLabel *>(w)) {
        if (label->text().isEmpty() || label->textFormat() == Qt::RichText || !label->pixmap(Qt::ReturnByValue).isNull())
            return cut;
        const QRect room = label->contentsRect().adjusted(label->margin(), label->margin(), -label->margin(), -label->margin());
        if (label->wordWrap()) {
            check(label->text(), label->heightForWidth(label->width()), label->height());
            return cut;
        }
        const QStringList lines = label->text().split(QLatin1Char('\n'));
        for (const QString &line : lines)
            check(line, fm.horizontalAdvance(line), room.width());
        check(label->text(), fm.lineSpacing() * (lines.size() - 1) + fm.height(), room.height());
    } else if (auto *button = qobject_cast<QPushButton *>(w)) {
        if (button->text().isEmpty())
            return cut;
        QStyleOptionButton option;
        option.initFrom(button);
        const QRect room = style->subElementRect(QStyle::SE_PushButtonContents, &option, button);
        const int icon = button->icon().isNull() ? 0 : button->iconSize().width() + 4;
        const int arrow = button->menu() ? style->pixelMetric(QStyle::PM_MenuButtonIndicator, &option, button) : 0;
        check(button->text(), fm.horizontalAdvance(button->text()) + icon + arrow, room.width());
        check(button->text(), fm.height(), room.height());
    } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) {
        auto *box = static_cast<QAbstractButton *>(w);
        if (box->text().isEmpty())
            return cut;
        QStyleOptionButton option;
        option.initFrom(box);
        const bool radio = qobject_cast<QRadioButton *>(w);
        const QRect room =
            style->subElementRect(radio ? QStyle::SE_RadioButtonContents : QStyle::SE_CheckBoxContents, &option, box);
        check(box->text(), fm.horizontalAdvance(box->text()), room.width());
        check(box->text(), fm.height(), room.height());
    } else if (auto *edit = qobject_cast<QLineEdit *>(w)) {
        const QString text = edit->text().isEmpty() ? edit->placeholderText() : edit->displayText();
        if (text.isEmpty())
            return cut;
        QStyleOptionFrame option;
        option.initFrom(edit);
        option.lineWidth = style->pixelMetric(QStyle::PM_DefaultFrameWidth, &option, edit);
        const QMargins margins = edit->textMargins();
        // The clear button shows over the text once there is some.
        const int clear = edit->isClearButtonEnabled() && !edit->text().isEmpty() ? edit->height() : 0;
        const int room = style->subElementRect(QStyle::SE_LineEditContents, &option, edit).width() - margins.left()
                         - margins.right() - 4 - clear; // 2 on each side, as QLineEdit draws
        check(text, fm.horizontalAdvance(text), room);
        check(text, fm.height(), edit->height());
    } else if (auto *combo = qobject_cast<QComboBox *>(w)) {
        QStyleOptionComboBox option;
        option.initFrom(combo);
        option.editable = combo->isEditable();
        const int room = style->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, combo).width();
        for (int i = 0; i < combo->count(); ++i)
            check(combo->itemText(i), fm.horizontalAdvance(combo->itemText(i)), room);
    } else if (auto *header = qobject_cast<QHeaderView *>(w)) {
        const int margin = 2 * style->pixelMetric(QStyle::PM_HeaderMargin, nullptr, header);
        for (int s = 0; s < header->count(); ++s) {
            const QString text = header->model()->headerData(s, header->orientation()).toString();
            if (!text.isEmpty() && !header->isSectionHidden(s))
                check(text, header->fontMetrics().horizontalAdvance(text) + margin, header->sectionSize(s));
        }
    } else if (auto *table = qobject_cast<OrbTableView *>(w)) {
        // The device table; the plan's rows are one line each by design,
        // their whole text in a tooltip and the details pane.
        const int margin = 2 * (style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, table) + 1);
        const QAbstractItemModel *model = table->model();
        for (int r = 0; r < model->rowCount(); ++r)
            for (int c = 0; c < model->columnCount(); ++c) {
                const QString text = model->index(r, c).data().toString();
                if (!text.isEmpty() && !table->isColumnHidden(c))
                    check(text, table->fontMetrics().horizontalAdvance(text) + margin, table->columnWidth(c));
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

// Terminals as a site's search shows them, with their longest usual values.
QList<FenwaDevice *> terminals()
{
    QList<FenwaDevice *> out;
    for (int i = 0; i < 3; ++i) {
        const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0x10, uint8_t(0xa0 + i)};
        const uint8_t address[4] = {192, 168, 100, uint8_t(200 + i)};
        cJSON *json = cJSON_Parse("{\"type\":\"VQT40\",\"ipMode\":\"static\",\"netmask\":\"255.255.255.0\","
                                  "\"gateway\":\"192.168.100.254\",\"dns1\":\"192.168.100.254\","
                                  "\"dns2\":\"114.114.114.114\",\"version\":\"2.10.12\",\"account\":\"administrator\"}");
        FenwaDevice *d = FenwaDevice::fromSearchReply(mac, address, json);
        cJSON_Delete(json);
        d->name = QStringLiteral("Terminal-%1").arg(100 + i);
        d->uid = QStringLiteral("FW4000A1B2C3D4E%1").arg(i);
        d->ip = QStringLiteral("192.168.100.%1").arg(200 + i);
        d->setExtra(QStringLiteral("sipInfo"), QStringLiteral("2001@192.168.100.250"));
        d->setExtra(QStringLiteral("rtpInfo"), QStringLiteral("239.255.100.100:60000"));
        d->setExtraInt(QStringLiteral("micVolume"), 100);
        d->setExtraInt(QStringLiteral("outVolume"), 100);
        out << d;
    }
    return out;
}

// Forty rows, every tenth refused, as the plan dialog opens on them.
void showPlan(QWidget *parent, QStringList *cut)
{
    QByteArray sheet = "mac;name;ip;sip1_account;sip1_server_host\n";
    QList<FenwaPlan::Found> found;
    for (int i = 1; i <= 40; ++i) {
        sheet += QStringLiteral("02:fe:00:00:00:%1;Meeting room %2;%3;20%2;10.0.0.5\n")
                     .arg(i, 2, 16, QLatin1Char('0'))
                     .arg(i, 2, 10, QLatin1Char('0'))
                     .arg(i % 10 ? QStringLiteral("10.1.0.%1").arg(i) : QStringLiteral("10.1.0.300"))
                     .toUtf8();
        const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0, uint8_t(i)};
        const uint8_t address[4] = {10, 1, 1, uint8_t(i)};
        cJSON *json = cJSON_Parse("{\"type\":\"VQ40\",\"ipMode\":\"static\",\"netmask\":\"255.255.0.0\","
                                  "\"gateway\":\"10.1.0.1\",\"dns1\":\"10.1.0.1\",\"name\":\"Terminal\"}");
        FenwaDevice *d = FenwaDevice::fromSearchReply(mac, address, json);
        cJSON_Delete(json);
        SipSettings sip[2];
        RtpSettings rtp[FENWA_RTP_CHANNELS];
        found << FenwaPlan::Found{d, FenwaPlan::currentValues(d, sip, rtp)};
    }
    FenwaPlan::Plan plan;
    QString error;
    if (!FenwaPlan::read(sheet, &plan, &error)) {
        *cut << error;
        return;
    }
    {
        FenwaPlanDialog dialog(parent, nullptr, nullptr, plan, FenwaPlan::preview(plan, found, {}));
        dialog.show();
        *cut << cutTexts(&dialog);
    }
    for (const FenwaPlan::Found &f : found)
        f.device->release();
}
} // namespace

class TextFitTest : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void everyTextWhole_data();
    void everyTextWhole();
};

void TextFitTest::initTestCase()
{
    QStandardPaths::setTestModeEnabled(true);
    setLanguageDirectory(QStringLiteral(FENWA_SOURCE_DIR "/resources/language"));
}

void TextFitTest::everyTextWhole_data()
{
    QTest::addColumn<QString>("language");
    QTest::newRow("English") << "en";
    QTest::newRow("Chinese") << "cn";
}

void TextFitTest::everyTextWhole()
{
    QFETCH(QString, language);
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
    const QList<FenwaDevice *> rows = terminals();
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
    OrbCapturePermissionDialog permission;
    permission.setMessage(translate("The capture helper of this build may not capture network packets yet. Grant it the capability once with the command below."));
    permission.setCommand(QStringLiteral("sudo setcap cap_net_raw=p /usr/lib/fenwa-workbench/fenwa-capture"));
    permission.setGrantOffered(true);
    permission.show();
    look(QStringLiteral("permission"), &permission);
    auto *multicast = new OrbRtpMulticastDialog; // deletes itself when closed
    multicast->show();
    look(QStringLiteral("multicast"), multicast);
    OrbRtpMulticastDialog::closeInstance();
    QStringList plan;
    showPlan(&window, &plan);
    for (const QString &c : plan)
        cut << QStringLiteral("plan: ") + c;

    cut.removeDuplicates();
    for (const QString &c : cut) // the message of a failure is cut short
        qWarning("%s", qPrintable(c));
    QVERIFY2(cut.isEmpty(), qPrintable(QStringLiteral("%1 texts cut, listed above").arg(cut.size())));
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
