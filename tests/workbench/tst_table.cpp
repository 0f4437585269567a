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
    void delegateEvents();
    void clickOnTheViewTogglesOnce();
    void selectAllFromTheHeaderBox();
    void filterNarrowsWhatTheBoxAndThePagesTouch();
    void sortable();
    void sortsByValue();
    void sortArrowOnlyWhereTheRowsAreInItsOrder();
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

void TableTest::delegateEvents()
{
    const int release = QEvent::MouseButtonRelease, dbl = QEvent::MouseButtonDblClick, key = QEvent::KeyPress;
    const struct {
        const char *label;
        int type, button; // or key
        bool inside, handled, toggled;
    } cases[] = {
        {"left release outside", release, Qt::LeftButton, false, false, false},
        {"double click inside", dbl, Qt::LeftButton, true, true, false},
        {"space", key, Qt::Key_Space, true, true, true},
        {"enter", key, Qt::Key_Return, true, false, false},
        {"press is not a click", QEvent::MouseButtonPress, Qt::LeftButton, true, false, false},
    };
    QStyleOptionViewItem option;
    option.rect = QRect(0, 40, 30, 30);
    option.widget = view;
    const QRect box = FenwaDeviceModelDelegate::indicatorRect(option);
    QVERIFY(option.rect.contains(box) && !box.contains(QPoint(1, 41)));
    for (const auto &c : cases) {
        fill(model);
        const QPoint at = c.inside ? box.center() : QPoint(1, 41);
        QKeyEvent keyEvent(QEvent::KeyPress, c.button, Qt::NoModifier);
        QMouseEvent mouseEvent(QEvent::Type(c.type), at, Qt::MouseButton(c.button), Qt::MouseButton(c.button), Qt::NoModifier);
        QEvent *event = c.type == QEvent::KeyPress ? static_cast<QEvent *>(&keyEvent) : &mouseEvent;
        QVERIFY2(model->checkBoxDelegate()->editorEvent(event, model, option, model->index(0, 0)) == c.handled, c.label);
        QVERIFY2(model->deviceAt(0)->checked == c.toggled, c.label);
    }
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

void TableTest::filterNarrowsWhatTheBoxAndThePagesTouch()
{
    const auto names = [](const QList<FenwaDevice *> &devices) {
        QStringList out;
        for (const FenwaDevice *d : devices)
            out << d->name;
        return out;
    };
    const struct {
        const char *filter, *tickedFirst; // a name, ticked before the filter
        bool clickBox;
        QStringList shown, checked; // checked: what the pages would work on
    } cases[] = {
        {"HALL", "", false, {"Hall"}, {}},                         // the name, case ignored
        {"192.168", "", true, {"Hall", "gate"}, {"Hall", "gate"}}, // the box ticks the rows shown
        {"192.168", "Annex", false, {"Hall", "gate"}, {}},         // a hidden tick is kept, not worked on
    };
    for (const auto &c : cases) {
        fill(model);
        for (FenwaDevice *d : model->allDevices())
            d->checked = d->name == QLatin1String(c.tickedFirst);
        model->setFilter(QLatin1String(c.filter));
        if (c.clickBox)
            model->checkBoxHeader()->checkBox()->click();
        QCOMPARE(column(*model, Model::NameColumn), c.shown);
        QCOMPARE(names(model->shownDevices()), c.shown);
        QCOMPARE(names(model->checkedDevices()), c.checked);
        model->setFilter(QString()); // every row again, each with the tick it had
        QCOMPARE(names(model->checkedDevices()), *c.tickedFirst ? QStringList{c.tickedFirst} : c.checked);
    }
}

void TableTest::sortable()
{
    const struct {
        int col, order;
        QStringList macs;
    } cases[] = {
        {Model::UidColumn, 0, {kB, kA, kC}},    // case ignored
        {Model::IpColumn, 1, {kB, kA, kC}},     // down
        {Model::VolumeColumn, 0, {kA, kB, kC}}, // a column that does not sort keeps the order
    };
    for (const auto &c : cases) {
        fill(model);
        model->sort(c.col, Qt::SortOrder(c.order));
        QCOMPARE(column(*model, Model::MacColumn), c.macs);
        QCOMPARE(column(*model, Model::NumberColumn), QStringList({"1", "2", "3"}));
    }
}

void TableTest::sortsByValue()
{
    const struct {
        int col;
        QStringList texts, sorted; // in the rows' order; ascending
    } cases[] = {
        // Addresses by their numbers; other texts after them.
        {Model::IpColumn, {"192.168.1.100", "dhcp", "10.0.0.10", "100.64.0.1", "10.0.0.9", "", "10.0.1.10", "10.0.0.200"},
         {"10.0.0.9", "10.0.0.10", "10.0.0.200", "10.0.1.10", "100.64.0.1", "192.168.1.100", "", "dhcp"}},
        // Versions by their numeric parts.
        {Model::VersionColumn, {"2.10.0", "V2.9", "10.0", "2.9.10", "2.9.1", "2.09.2"},
         {"2.9.1", "2.09.2", "2.9.10", "2.10.0", "10.0", "V2.9"}},
        // MACs as numbers, case and separator aside.
        {Model::MacColumn, {"02:fe:00:00:01:00", "02-FE-00-00-00-0A", "02:fe:00:00:00:09", "none"},
         {"02:fe:00:00:00:09", "02-FE-00-00-00-0A", "02:fe:00:00:01:00", "none"}},
        // Names: numbers by value, case ignored.
        {Model::NameColumn, {"Terminal-10", "terminal-9", "Hall 2", "Terminal-100", "hall 10"},
         {"Hall 2", "hall 10", "terminal-9", "Terminal-10", "Terminal-100"}},
    };
    for (const auto &c : cases) {
        QList<FenwaDevice *> devices;
        for (const QString &text : c.texts) {
            auto *d = new FenwaDevice;
            (c.col == Model::IpColumn ? d->ip : c.col == Model::VersionColumn ? d->version
                                            : c.col == Model::MacColumn        ? d->macText
                                                                                : d->name) = text;
            devices << d;
        }
        model->setDevices(devices);
        for (FenwaDevice *d : devices)
            d->release();
        model->sort(c.col);
        QCOMPARE(column(*model, c.col), c.sorted);
        // The view sorts by the same keys as the model, and reverses them.
        QCOMPARE(model->index(0, c.col).data(Model::SortRole).toString(), Model::sortKey(c.col, c.sorted.first()));
        model->sort(c.col, Qt::DescendingOrder);
        QStringList reversed = c.sorted;
        std::reverse(reversed.begin(), reversed.end());
        QCOMPARE(column(*model, c.col), reversed);
    }
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
    header->resizeSection(0, header->sectionSize(0) + 40); // and stays centred over it
    QCOMPARE(box->mapTo(header, QPoint()).x(), before - header->offset() + 20);
}

void TableTest::editingNameOrMacEmitsModifyData()
{
    const struct {
        int col;
        const char *text;
        bool emitted;
    } cases[] = {
        {Model::NameColumn, "gate", true}, // the same name still emits
        {Model::NameColumn, "Lobby", true},
        {Model::MacColumn, "02:FE:00:00:00:0A", true},
        {Model::UidColumn, "x", false}, // not editable
    };
    for (const auto &c : cases) {
        fill(model);
        QSignalSpy spy(model, &Model::modifyData);
        const QModelIndex index = model->index(1, c.col);
        const QString before = index.data().toString();
        QVERIFY(!model->setData(index, QLatin1String(c.text), Qt::EditRole));
        QVERIFY2(spy.count() == (c.emitted ? 1 : 0), c.text);
        if (c.emitted)
            QCOMPARE(spy.first(), QVariantList({index, QVariant(QLatin1String(c.text)), int(Qt::EditRole)}));
        QCOMPARE(index.data().toString(), before); // only a batch changes a record
    }
}

void TableTest::terminalsSharingAMacOrAnAddressAreMarked()
{
    QList<FenwaDevice *> devices = threeDevices();
    for (int i = 0; i < 3; ++i)
        devices[i]->mac[5] = uint8_t(i == 1 ? 0 : i); // the second answers from the first's MAC
    devices[2]->ip = devices[0]->ip;
    QSignalSpy changed(model, &Model::conflictsChanged);
    model->setLastBatch(QStringLiteral("Setting names, 3 done"));
    model->setDevices(devices);
    QVERIFY(model->lastBatch().isEmpty()); // a new search: the last batch no longer holds
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
    model->clearDevices();
    QCOMPARE(model->sharingMac(), 0); // nobody left to share with
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
    QCOMPARE(model->index(3, Model::StatusColumn).data(Qt::ToolTipRole).toString(),
             QStringLiteral("Not in the last search by hand: appeared at ") + t0.addSecs(20).toString(QStringLiteral("HH:mm:ss")));
    QCOMPARE(model->live().offline(), 1);
    QList<FenwaDevice *> found = threeDevices();
    found[1]->ip = found[0]->ip; // a round in which gate answers from Hall's address
    model->mergeRound(found, t0.addSecs(30));
    for (FenwaDevice *d : found)
        d->release();
    QCOMPARE(model->sharingIp(), 2);
    // A search by hand starts afresh.
    fill(model);
    QCOMPARE(column(*model, Model::StatusColumn), QStringList({"", "", ""}));
}

QTEST_MAIN(TableTest)
#include "tst_table.moc"
