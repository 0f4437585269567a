// SPDX-License-Identifier: GPL-3.0-or-later
// The device table offscreen: model consistency, the row check boxes,
// select-all, sorting and in-cell edits.
#include "OrbUtils/widgets/OrbTableView.h"
#include "table/FenwaDeviceModel.h"
#include "table/FenwaDeviceModelDelegate.h"
#include "table/QCheckBoxHeaderView.h"
#include "link/FenwaDevice.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QColor>
#include <QHeaderView>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QtTest>

using Model = FenwaDeviceModel;

namespace {
const QString kA = "02:fe:00:00:00:02", kB = "02:fe:00:00:00:0a", kC = "02:FE:00:00:00:01";

QList<FenwaDevice *> threeDevices()
{
    const QStringList fields[] = {{"u-b", "Hall", kA, "192.168.1.20"}, {"U-A", "gate", kB, "192.168.1.100"},
                                  {"u-c", "Annex", kC, "10.0.0.9"}};
    QList<FenwaDevice *> devices;
    for (const QStringList &f : fields) {
        auto *d = new FenwaDevice;
        d->uid = f[0], d->name = f[1], d->macText = f[2], d->ip = f[3];
        d->type = QStringLiteral("VQ40");
        devices << d;
    }
    return devices;
}

// A new search's rows: the model keeps its own references, the test none.
void fill(Model *model)
{
    const QList<FenwaDevice *> devices = threeDevices();
    model->setDevices(devices);
    for (FenwaDevice *d : devices)
        d->release();
}

QStringList column(const Model &model, int col)
{
    QStringList values;
    for (int r = 0; r < model.rowCount(); ++r)
        values << model.index(r, col).data().toString();
    return values;
}
} // namespace

class TableTest : public QObject
{
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void modelStaysConsistentAndReleasesItsRows();
    void delegateEvents_data();
    void delegateEvents();
    void clickOnTheViewTogglesOnce();
    void selectAllFromTheHeaderBox();
    void filterNarrowsWhatTheBoxAndThePagesTouch_data();
    void filterNarrowsWhatTheBoxAndThePagesTouch();
    void sortable_data();
    void sortable();
    void sortsByValue_data();
    void sortsByValue();
    void sortArrowOnlyWhereTheRowsAreInItsOrder();
    void editingNameOrMacEmitsModifyData_data();
    void editingNameOrMacEmitsModifyData();
    void terminalsSharingAMacOrAnAddressAreMarked();
    void searchRoundsAppendAndMarkButNeverMoveOrUntick();

private:
    OrbTableView *view = nullptr;
    Model *model = nullptr;
};

void TableTest::init()
{
    view = new OrbTableView;
    view->resize(1200, 400);
    model = new Model(view);
    view->setSortingEnabled(true);
}

void TableTest::cleanup()
{
    delete view; // the model is its child
}

void TableTest::modelStaysConsistentAndReleasesItsRows()
{
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    // An empty table: nothing to sort, check or announce.
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    model->sort(Model::MacColumn);
    model->checkBoxHeader()->checkBox()->click();
    QVERIFY(!model->setData(model->index(0, 0), true, Model::CheckRole));
    QCOMPARE(changed.count(), 0);
    QCOMPARE(model->deviceAt(-1), nullptr);

    const QList<FenwaDevice *> first = threeDevices(); // the test's references
    model->setDevices(first);
    model->setDevices(first); // the same rows again: nothing freed early
    model->sort(Model::MacColumn, Qt::DescendingOrder);
    model->setData(model->index(1, 0), true, Model::CheckRole);
    model->checkBoxHeader()->checkBox()->click();
    model->refresh();
    model->sort(Model::VolumeColumn);
    fill(model);
    for (FenwaDevice *d : first)
        QCOMPARE(d->refCount.load(), 1); // the old rows were released
    model->clearDevices();
    model->sort(Model::UidColumn);
    for (FenwaDevice *d : first)
        d->release();
}

void TableTest::delegateEvents_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("button"); // or key
    QTest::addColumn<bool>("inside");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<bool>("toggled");
    const int release = QEvent::MouseButtonRelease, dbl = QEvent::MouseButtonDblClick, key = QEvent::KeyPress;
    QTest::newRow("left release outside") << release << int(Qt::LeftButton) << false << false << false;
    QTest::newRow("double click inside") << dbl << int(Qt::LeftButton) << true << true << false;
    QTest::newRow("space") << key << int(Qt::Key_Space) << true << true << true;
    QTest::newRow("enter") << key << int(Qt::Key_Return) << true << false << false;
    QTest::newRow("press is not a click") << int(QEvent::MouseButtonPress) << int(Qt::LeftButton) << true << false
                                          << false;
}

void TableTest::delegateEvents()
{
    QFETCH(int, type);
    QFETCH(int, button);
    QFETCH(bool, inside);
    QFETCH(bool, handled);
    QFETCH(bool, toggled);
    fill(model);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 40, 30, 30);
    option.widget = view;
    const QRect box = FenwaDeviceModelDelegate::indicatorRect(option);
    QVERIFY(option.rect.contains(box) && !box.contains(QPoint(1, 41)));
    const QPoint at = inside ? box.center() : QPoint(1, 41);
    QKeyEvent keyEvent(QEvent::KeyPress, button, Qt::NoModifier);
    QMouseEvent mouseEvent(QEvent::Type(type), at, Qt::MouseButton(button), Qt::MouseButton(button), Qt::NoModifier);
    QEvent *event = type == QEvent::KeyPress ? static_cast<QEvent *>(&keyEvent) : &mouseEvent;
    QCOMPARE(model->checkBoxDelegate()->editorEvent(event, model, option, model->index(0, 0)), handled);
    QCOMPARE(model->deviceAt(0)->checked, toggled);
}

void TableTest::clickOnTheViewTogglesOnce()
{
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    fill(model);
    const QPoint cell = view->visualRect(model->index(2, 0)).center();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QVERIFY(model->deviceAt(2)->checked);
    QCOMPARE(changed.count(), 1); // the view learns of the single row
    QCOMPARE(changed.first().at(0).toModelIndex(), model->index(2, 0));
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, cell);
    QVERIFY(model->deviceAt(2)->checked);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell);
    QVERIFY(!model->deviceAt(2)->checked);
}

void TableTest::selectAllFromTheHeaderBox()
{
    fill(model);
    QCheckBox *box = model->checkBoxHeader()->checkBox();
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    box->click();
    QCOMPARE(model->checkedDevices().size(), 3);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(changed.first().at(0).toModelIndex().row(), 0);
    QCOMPARE(changed.first().at(1).toModelIndex().row(), 2);
    model->setData(model->index(0, 0), false, Model::CheckRole);
    QVERIFY(box->isChecked()); // one row unchecked does not touch the box
    box->click();
    QVERIFY(model->checkedDevices().isEmpty());
    box->click();
    fill(model); // a new search
    QVERIFY(model->checkedDevices().isEmpty());
    QVERIFY(!box->isChecked()); // not ticked over rows nobody ticked
    box->click();
    model->clearDevices();
    QVERIFY(!box->isChecked());
}

void TableTest::filterNarrowsWhatTheBoxAndThePagesTouch_data()
{
    QTest::addColumn<QString>("filter");
    QTest::addColumn<QString>("tickedFirst"); // a name, ticked before the filter
    QTest::addColumn<bool>("clickBox");
    QTest::addColumn<QStringList>("shown");
    QTest::addColumn<QStringList>("checked"); // what the pages would work on
    QTest::newRow("name, case ignored") << "HALL" << "" << false << QStringList{"Hall"} << QStringList{};
    QTest::newRow("box ticks the rows shown") << "192.168" << "" << true << QStringList{"Hall", "gate"}
                                              << QStringList{"Hall", "gate"};
    QTest::newRow("a hidden tick is kept, not worked on") << "192.168" << "Annex" << false
                                                          << QStringList{"Hall", "gate"} << QStringList{};
}

void TableTest::filterNarrowsWhatTheBoxAndThePagesTouch()
{
    QFETCH(QString, filter);
    QFETCH(QString, tickedFirst);
    QFETCH(bool, clickBox);
    QFETCH(QStringList, shown);
    QFETCH(QStringList, checked);
    const auto names = [](const QList<FenwaDevice *> &devices) {
        QStringList out;
        for (const FenwaDevice *d : devices)
            out << d->name;
        return out;
    };
    fill(model);
    for (FenwaDevice *d : model->allDevices())
        d->checked = d->name == tickedFirst;
    model->setFilter(filter);
    if (clickBox)
        model->checkBoxHeader()->checkBox()->click();
    QCOMPARE(column(*model, Model::NameColumn), shown);
    QCOMPARE(names(model->shownDevices()), shown);
    QCOMPARE(names(model->checkedDevices()), checked);
    model->setFilter(QString()); // every row again, each with the tick it had
    QCOMPARE(names(model->checkedDevices()), tickedFirst.isEmpty() ? checked : QStringList{tickedFirst});
}

void TableTest::sortable_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("macs");
    QTest::newRow("uid up, case ignored") << int(Model::UidColumn) << 0 << QStringList{kB, kA, kC};
    QTest::newRow("ip down") << int(Model::IpColumn) << 1 << QStringList{kB, kA, kC};
    QTest::newRow("other columns keep the order") << int(Model::VolumeColumn) << 0 << QStringList{kA, kB, kC};
}

void TableTest::sortable()
{
    QFETCH(int, col);
    QFETCH(int, order);
    QFETCH(QStringList, macs);
    fill(model);
    model->sort(col, Qt::SortOrder(order));
    QCOMPARE(column(*model, Model::MacColumn), macs);
    QCOMPARE(column(*model, Model::NumberColumn), QStringList({"1", "2", "3"}));
}

void TableTest::sortsByValue_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QStringList>("texts");  // in the rows' order
    QTest::addColumn<QStringList>("sorted"); // ascending
    QTest::newRow("addresses by their numbers; other texts after them")
        << int(Model::IpColumn) << QStringList{"192.168.1.100", "dhcp", "10.0.0.10", "192.168.1.20", "10.0.0.9", ""}
        << QStringList{"10.0.0.9", "10.0.0.10", "192.168.1.20", "192.168.1.100", "", "dhcp"};
    QTest::newRow("versions by their numeric parts")
        << int(Model::VersionColumn) << QStringList{"2.10.0", "V2.9", "10.0", "2.9.10", "2.9.1", "2.09.2"}
        << QStringList{"2.9.1", "2.09.2", "2.9.10", "2.10.0", "10.0", "V2.9"};
    QTest::newRow("MACs as numbers, case and separator aside")
        << int(Model::MacColumn) << QStringList{"02:fe:00:00:01:00", "02-FE-00-00-00-0A", "02:fe:00:00:00:09", "none"}
        << QStringList{"02:fe:00:00:00:09", "02-FE-00-00-00-0A", "02:fe:00:00:01:00", "none"};
    QTest::newRow("names: numbers by value, case ignored")
        << int(Model::NameColumn) << QStringList{"Terminal-10", "terminal-9", "Hall 2", "Terminal-100", "hall 10"}
        << QStringList{"Hall 2", "hall 10", "terminal-9", "Terminal-10", "Terminal-100"};
}

void TableTest::sortsByValue()
{
    QFETCH(int, col);
    QFETCH(QStringList, texts);
    QFETCH(QStringList, sorted);
    QList<FenwaDevice *> devices;
    for (const QString &text : texts) {
        auto *d = new FenwaDevice;
        (col == Model::IpColumn ? d->ip : col == Model::VersionColumn ? d->version
                                    : col == Model::MacColumn        ? d->macText
                                                                      : d->name) = text;
        devices << d;
    }
    model->setDevices(devices);
    for (FenwaDevice *d : devices)
        d->release();
    model->sort(col);
    QCOMPARE(column(*model, col), sorted);
    // The view sorts by the same keys as the model, and reverses them.
    QCOMPARE(model->index(0, col).data(Model::SortRole).toString(), Model::sortKey(col, sorted.first()));
    model->sort(col, Qt::DescendingOrder);
    std::reverse(sorted.begin(), sorted.end());
    QCOMPARE(column(*model, col), sorted);
}

void TableTest::sortArrowOnlyWhereTheRowsAreInItsOrder()
{
    fill(model);
    QHeaderView *header = view->horizontalHeader();
    header->setSortIndicator(Model::VolumeColumn, Qt::AscendingOrder);
    QCOMPARE(header->sortIndicatorSection(), -1); // the column does not sort
    header->setSortIndicator(Model::IpColumn, Qt::AscendingOrder);
    QCOMPARE(header->sortIndicatorSection(), int(Model::IpColumn));
    fill(model); // a search brings its rows in MAC order
    QCOMPARE(header->sortIndicatorSection(), -1);

    // The select-all box scrolls sideways with its column.
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    QWidget *box = model->checkBoxHeader()->checkBox();
    const int before = box->mapTo(header, QPoint()).x();
    QVERIFY(before >= 0 && before + box->width() <= header->sectionSize(0)); // over its own column
    view->resize(300, 200);
    view->horizontalScrollBar()->setValue(3);
    QVERIFY(header->offset() > 0);
    QCOMPARE(box->mapTo(header, QPoint()).x(), before - header->offset());
}

void TableTest::editingNameOrMacEmitsModifyData_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("emitted");
    QTest::newRow("same name still emits") << int(Model::NameColumn) << "gate" << true;
    QTest::newRow("new name") << int(Model::NameColumn) << "Lobby" << true;
    QTest::newRow("mac in capitals") << int(Model::MacColumn) << "02:FE:00:00:00:0A" << true;
    QTest::newRow("uid not editable") << int(Model::UidColumn) << "x" << false;
}

void TableTest::editingNameOrMacEmitsModifyData()
{
    QFETCH(int, col);
    QFETCH(QString, text);
    QFETCH(bool, emitted);
    fill(model);
    QSignalSpy spy(model, &Model::modifyData);
    const QModelIndex index = model->index(1, col);
    const QString before = index.data().toString();
    QVERIFY(!model->setData(index, text, Qt::EditRole));
    QCOMPARE(spy.count(), emitted ? 1 : 0);
    if (emitted)
        QCOMPARE(spy.first(), QVariantList({index, QVariant(text), int(Qt::EditRole)}));
    QCOMPARE(index.data().toString(), before); // only a batch changes a record
}

void TableTest::terminalsSharingAMacOrAnAddressAreMarked()
{
    QList<FenwaDevice *> devices = threeDevices();
    for (int i = 0; i < 3; ++i)
        devices[i]->mac[5] = uint8_t(i == 1 ? 0 : i); // the second answers from the first's MAC
    devices[2]->ip = devices[0]->ip;
    QSignalSpy changed(model, &Model::conflictsChanged);
    model->setDevices(devices);
    QCOMPARE(changed.count(), 1);
    QCOMPARE(model->sharingMac(), 2);
    QCOMPARE(model->sharingIp(), 2);
    const struct {
        int row, column;
        const char *tip; // empty: no mark
    } cells[] = {{0, Model::MacColumn, "Shares this MAC with gate (UID U-A)"}, {1, Model::MacColumn, "Hall (UID u-b)"},
                 {2, Model::MacColumn, ""}, {0, Model::IpColumn, "Annex (00:00:00:00:00:02) reports this address"},
                 {1, Model::IpColumn, ""}, {0, Model::NameColumn, ""}};
    for (const auto &c : cells) {
        const QModelIndex index = model->index(c.row, c.column);
        QVERIFY2(index.data(Qt::ToolTipRole).toString().contains(QLatin1String(c.tip)), qPrintable(index.data(Qt::ToolTipRole).toString()));
        QCOMPARE(index.data(Qt::BackgroundRole).isValid(), *c.tip != 0);
    }
    // A batch moved the third terminal to an address of its own.
    devices[2]->ip = QStringLiteral("10.0.0.10");
    model->refresh();
    QCOMPARE(model->sharingIp(), 0);
    QVERIFY(!model->index(0, Model::IpColumn).data(Qt::BackgroundRole).isValid());
    for (FenwaDevice *d : devices)
        d->release();
}

// Later rounds (the live view, a wait for restarting terminals) on a table
// the operator has sorted and ticked.
void TableTest::searchRoundsAppendAndMarkButNeverMoveOrUntick()
{
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model);
    QCOMPARE(view->horizontalHeader()->visualIndex(Model::StatusColumn), Model::PlayColumn + 1);
    model->sort(Model::NameColumn); // Annex, gate, Hall
    model->setData(model->index(1, 0), true, Model::CheckRole);
    const QDateTime t0 = QDateTime::currentDateTime();
    // Each round: Hall at another address, gate, and a terminal not seen before.
    for (int round = 1; round <= 2; ++round) {
        QList<FenwaDevice *> found = threeDevices();
        found.takeLast()->release(); // Annex stays silent
        found[0]->ip = QStringLiteral("192.168.1.21");
        auto *fresh = new FenwaDevice;
        fresh->uid = QStringLiteral("u-n"), fresh->name = QStringLiteral("New"), fresh->mac[5] = 9;
        found << fresh;
        model->mergeRound(found, t0.addSecs(10 * round));
        for (FenwaDevice *d : found)
            d->release();
    }
    QCOMPARE(column(*model, Model::NameColumn), QStringList({"Annex", "gate", "Hall", "New"}));
    QCOMPARE(column(*model, Model::StatusColumn),
             QStringList({QStringLiteral("offline since ") + t0.addSecs(10).toString(QStringLiteral("HH:mm:ss")), "",
                          "changed", "new"}));
    QVERIFY(model->deviceAt(1)->checked && !model->deviceAt(3)->checked);
    QCOMPARE(model->index(0, Model::NameColumn).data(Qt::ForegroundRole).value<QColor>(), QColor(150, 150, 150));
    QVERIFY(!model->index(1, Model::NameColumn).data(Qt::ForegroundRole).isValid());
    const QModelIndex moved = model->index(2, Model::IpColumn);
    QCOMPARE(moved.data().toString(), QStringLiteral("192.168.1.21"));
    QVERIFY(moved.data(Qt::BackgroundRole).isValid());
    QCOMPARE(moved.data(Qt::ToolTipRole).toString(), QStringLiteral("Was: 192.168.1.20"));
    QCOMPARE(model->live().offline(), 1);
    // A search by hand starts afresh.
    fill(model);
    QCOMPARE(column(*model, Model::StatusColumn), QStringList({"", "", ""}));
}

QTEST_MAIN(TableTest)
#include "tst_table.moc"
