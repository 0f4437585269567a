// SPDX-License-Identifier: GPL-3.0-or-later
// The device table offscreen: model consistency, the row check boxes,
// select-all, sorting and in-cell edits.
#include "OrbUtils/OrbTableView.h"
#include "table/FenwaDeviceModel.h"
#include "table/FenwaDeviceModelDelegate.h"
#include "table/QCheckBoxHeaderView.h"
#include "link/FenwaDevice.h"

#include <QAbstractItemModelTester>
#include <QCheckBox>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyleOptionViewItem>
#include <QtTest>

namespace {
struct Fields {
    QString uid, name, mac, ip;
};

FenwaDevice *makeDevice(const Fields &f)
{
    auto *d = new FenwaDevice;
    d->uid = f.uid;
    d->name = f.name;
    d->macText = f.mac;
    d->ip = f.ip;
    d->netmask = QStringLiteral("255.255.255.0");
    d->gateway = QStringLiteral("192.168.1.1");
    d->version = QStringLiteral("V1.0.7");
    d->type = QStringLiteral("VQ40");
    return d;
}

QList<FenwaDevice *> threeDevices()
{
    return {makeDevice({"u-b", "Hall", "02:fe:00:00:00:02", "192.168.1.20"}),
            makeDevice({"U-A", "gate", "02:fe:00:00:00:0a", "192.168.1.100"}),
            makeDevice({"u-c", "Annex", "02:FE:00:00:00:01", "10.0.0.9"})};
}

// A new search's rows: the model keeps its own references, the test none.
void fill(FenwaDeviceModel *model)
{
    const QList<FenwaDevice *> devices = threeDevices();
    model->setDevices(devices);
    for (FenwaDevice *d : devices)
        d->release();
}

QStringList column(const FenwaDeviceModel &model, int col)
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

    void modelStaysConsistent();
    void emptyTable();
    void setDevicesReleasesTheOldRows();
    void delegateEvents_data();
    void delegateEvents();
    void clickOnTheViewTogglesOnce();
    void selectAllFromTheHeaderBox();
    void sortable_data();
    void sortable();
    void headerClickSortsOnlySortableColumns();
    void editingNameOrMacEmitsModifyData_data();
    void editingNameOrMacEmitsModifyData();

private:
    OrbTableView *view = nullptr;
    FenwaDeviceModel *model = nullptr;
};

void TableTest::init()
{
    qRegisterMetaType<QList<QPersistentModelIndex>>();
    qRegisterMetaType<QAbstractItemModel::LayoutChangeHint>();
    view = new OrbTableView;
    view->resize(1200, 400);
    model = new FenwaDeviceModel(view);
    view->setSortingEnabled(true);
}

void TableTest::cleanup()
{
    delete view; // the model is its child
    view = nullptr;
    model = nullptr;
}

void TableTest::modelStaysConsistent()
{
    QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
    fill(model);
    model->sort(FenwaDeviceModel::MacColumn, Qt::DescendingOrder);
    model->setData(model->index(1, 0), true, FenwaDeviceModel::CheckRole);
    model->checkBoxHeader()->checkBox()->click();
    model->refresh();
    model->sort(FenwaDeviceModel::VolumeColumn);
    fill(model);
    model->clearDevices();
    model->sort(FenwaDeviceModel::UidColumn);
}

void TableTest::emptyTable()
{
    QSignalSpy layout(model, &QAbstractItemModel::layoutChanged);
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    model->sort(FenwaDeviceModel::MacColumn);
    model->checkBoxHeader()->checkBox()->click();
    QCOMPARE(layout.count(), 0);
    QCOMPARE(changed.count(), 0);
    QVERIFY(model->checkedDevices().isEmpty());
    QCOMPARE(model->deviceAt(0), nullptr);
    QCOMPARE(model->deviceAt(-1), nullptr);
    QVERIFY(!model->setData(model->index(0, 0), true, FenwaDeviceModel::CheckRole));
}

void TableTest::setDevicesReleasesTheOldRows()
{
    const QList<FenwaDevice *> first = threeDevices(); // the test's references
    model->setDevices(first);
    model->setDevices(first); // the same rows again: nothing freed early
    QCOMPARE(model->allDevices(), first);
    fill(model);
    for (FenwaDevice *d : first)
        QCOMPARE(d->refCount.load(), 1); // only ours is left
    model->setDevices(first);
    model->clearDevices();
    for (FenwaDevice *d : first) {
        QCOMPARE(d->refCount.load(), 1);
        d->release();
    }
    QCOMPARE(model->rowCount(), 0);
}

void TableTest::delegateEvents_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("button");
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("inside");
    QTest::addColumn<bool>("handled");
    QTest::addColumn<bool>("toggled");
    const int release = QEvent::MouseButtonRelease, dbl = QEvent::MouseButtonDblClick, keyPress = QEvent::KeyPress;
    QTest::newRow("left release inside") << release << int(Qt::LeftButton) << 0 << true << true << true;
    QTest::newRow("left release outside") << release << int(Qt::LeftButton) << 0 << false << false << false;
    QTest::newRow("right release inside") << release << int(Qt::RightButton) << 0 << true << false << false;
    QTest::newRow("double click inside") << dbl << int(Qt::LeftButton) << 0 << true << true << false;
    QTest::newRow("double click outside") << dbl << int(Qt::LeftButton) << 0 << false << false << false;
    QTest::newRow("space") << keyPress << 0 << int(Qt::Key_Space) << true << true << true;
    QTest::newRow("select key") << keyPress << 0 << int(Qt::Key_Select) << true << true << true;
    QTest::newRow("enter") << keyPress << 0 << int(Qt::Key_Return) << true << false << false;
    QTest::newRow("press is not a click") << int(QEvent::MouseButtonPress) << int(Qt::LeftButton) << 0 << true
                                          << false << false;
}

void TableTest::delegateEvents()
{
    QFETCH(int, type);
    QFETCH(int, button);
    QFETCH(int, key);
    QFETCH(bool, inside);
    QFETCH(bool, handled);
    QFETCH(bool, toggled);
    fill(model);
    QStyleOptionViewItem option;
    option.rect = QRect(0, 40, 30, 30);
    option.widget = view;
    const QRect box = FenwaDeviceModelDelegate::indicatorRect(option);
    QVERIFY(option.rect.contains(box));
    const QPoint at = inside ? box.center() : QPoint(1, 41);
    QVERIFY(box.contains(at) == inside);
    const QModelIndex index = model->index(0, 0);
    bool result;
    if (type == QEvent::KeyPress) {
        QKeyEvent event(QEvent::KeyPress, key, Qt::NoModifier);
        result = model->checkBoxDelegate()->editorEvent(&event, model, option, index);
    } else {
        QMouseEvent event(QEvent::Type(type), at, Qt::MouseButton(button), Qt::MouseButton(button), Qt::NoModifier);
        result = model->checkBoxDelegate()->editorEvent(&event, model, option, index);
    }
    QCOMPARE(result, handled);
    QCOMPARE(model->deviceAt(0)->checked, toggled);
}

void TableTest::clickOnTheViewTogglesOnce()
{
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    fill(model);
    const QRect cell = view->visualRect(model->index(2, 0));
    QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
    QVERIFY(model->deviceAt(2)->checked);
    QCOMPARE(changed.count(), 1); // the view learns of the single row
    QCOMPARE(changed.first().at(0).toModelIndex(), model->index(2, 0));
    QTest::mouseClick(view->viewport(), Qt::RightButton, {}, cell.center());
    QVERIFY(model->deviceAt(2)->checked);
    QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, cell.center());
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
    model->setData(model->index(0, 0), false, FenwaDeviceModel::CheckRole);
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

void TableTest::sortable_data()
{
    QTest::addColumn<int>("col");
    QTest::addColumn<int>("order");
    QTest::addColumn<QStringList>("macs");
    const QString a = "02:fe:00:00:00:02", b = "02:fe:00:00:00:0a", c = "02:FE:00:00:00:01";
    QTest::newRow("uid up, case ignored") << 3 << 0 << QStringList{b, a, c};
    QTest::newRow("uid down") << 3 << 1 << QStringList{c, a, b};
    QTest::newRow("name up") << 4 << 0 << QStringList{c, b, a};
    QTest::newRow("mac up, case ignored") << 5 << 0 << QStringList{c, a, b};
    QTest::newRow("ip up, as text") << 6 << 0 << QStringList{c, b, a};
    QTest::newRow("ip down") << 6 << 1 << QStringList{a, b, c};
    for (int col : {0, 1, 2, 7, 8, 9, 10, 11, 12, 13})
        QTest::newRow(qPrintable(QStringLiteral("column %1 keeps order").arg(col))) << col << 0
                                                                                     << QStringList{a, b, c};
}

void TableTest::sortable()
{
    QFETCH(int, col);
    QFETCH(int, order);
    QFETCH(QStringList, macs);
    fill(model);
    model->sort(col, Qt::SortOrder(order));
    QCOMPARE(column(*model, FenwaDeviceModel::MacColumn), macs);
    QCOMPARE(column(*model, FenwaDeviceModel::NumberColumn), QStringList({"1", "2", "3"}));
}

void TableTest::headerClickSortsOnlySortableColumns()
{
    view->show();
    QVERIFY(QTest::qWaitForWindowExposed(view));
    fill(model);
    QHeaderView *header = view->horizontalHeader();
    const auto clickHeader = [&](int section) {
        const int x = header->sectionViewportPosition(section) + header->sectionSize(section) / 2;
        QTest::mouseClick(header->viewport(), Qt::LeftButton, {}, QPoint(x, header->height() / 2));
    };
    const QStringList original = column(*model, FenwaDeviceModel::IpColumn);
    clickHeader(FenwaDeviceModel::NumberColumn);
    QCOMPARE(column(*model, FenwaDeviceModel::IpColumn), original);
    QCOMPARE(header->sortIndicatorSection(), -1); // no arrow where nothing sorts
    clickHeader(FenwaDeviceModel::VolumeColumn);
    QCOMPARE(column(*model, FenwaDeviceModel::IpColumn), original);
    clickHeader(FenwaDeviceModel::IpColumn);
    QCOMPARE(header->sortIndicatorSection(), int(FenwaDeviceModel::IpColumn));
    const QStringList ips = column(*model, FenwaDeviceModel::IpColumn);
    QVERIFY(ips == QStringList({"10.0.0.9", "192.168.1.100", "192.168.1.20"}) ||
            ips == QStringList({"192.168.1.20", "192.168.1.100", "10.0.0.9"}));
    fill(model); // a search brings its rows in MAC order: no arrow may claim otherwise
    QCOMPARE(header->sortIndicatorSection(), -1);

    // The select-all box scrolls sideways with its column.
    QWidget *box = model->checkBoxHeader()->checkBox();
    const int before = box->mapTo(header, QPoint()).x();
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
    QTest::newRow("same name still emits") << 4 << "gate" << true;
    QTest::newRow("new name") << 4 << "Lobby" << true;
    QTest::newRow("mac in capitals") << 5 << "02:FE:00:00:00:0A" << true;
    QTest::newRow("uid not editable") << 3 << "x" << false;
}

void TableTest::editingNameOrMacEmitsModifyData()
{
    QFETCH(int, col);
    QFETCH(QString, text);
    QFETCH(bool, emitted);
    fill(model);
    QSignalSpy spy(model, &FenwaDeviceModel::modifyData);
    const QModelIndex index = model->index(1, col);
    const QString before = index.data().toString();
    QVERIFY(!model->setData(index, text, Qt::EditRole));
    QCOMPARE(spy.count(), emitted ? 1 : 0);
    if (emitted) {
        QCOMPARE(spy.first().at(0).toModelIndex(), index);
        QCOMPARE(spy.first().at(1).value<QVariant>().toString(), text);
        QCOMPARE(spy.first().at(2).toInt(), int(Qt::EditRole));
    }
    QCOMPARE(index.data().toString(), before); // only a batch changes a record
}

QTEST_MAIN(TableTest)
#include "tst_table.moc"
