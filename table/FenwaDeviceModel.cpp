// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaDeviceModel.h"

#include "FenwaDeviceModelDelegate.h"
#include "QCheckBoxHeaderView.h"
#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "resources/FenwaResources.h"

#include <QCheckBox>
#include <QColor>
#include <QIcon>
#include <QTableView>
#include <QtDebug>
#include <algorithm>

FenwaDeviceModel::FenwaDeviceModel(QTableView *view)
    : QAbstractTableModel(view), delegate(new FenwaDeviceModelDelegate(view)),
      header(new QCheckBoxHeaderView(view)), view(view)
{
    initFenwaResources();
    view->setModel(this);
    view->setItemDelegate(delegate);
    view->setHorizontalHeader(header);
    for (int column = 0; column < ColumnCount; ++column)
        view->setColumnWidth(column, columnWidth(column));
    header->checkBox()->show();
    connect(header->checkBox(), &QCheckBox::clicked, this, &FenwaDeviceModel::allCheckBoxChecked);
    connect(header, &QHeaderView::sectionResized, header, &QCheckBoxHeaderView::onSectionResized);
    header->setSortIndicator(-1, Qt::AscendingOrder); // unsorted: rows in MAC order from the search
    // Only four columns sort; an arrow on any other header would promise an
    // order the rows do not have.
    connect(header, &QHeaderView::sortIndicatorChanged, this, [this](int section, Qt::SortOrder order) {
        if (section >= 0 && !isSortable(section))
            header->setSortIndicator(-1, order);
    });
}

bool FenwaDeviceModel::isSortable(int column)
{
    return column == UidColumn || column == NameColumn || column == MacColumn || column == IpColumn;
}

FenwaDeviceModel::~FenwaDeviceModel()
{
    releaseAll();
}

int FenwaDeviceModel::columnWidth(int column)
{
    static const int widths[ColumnCount] = {30, 40, 30, 200, 130, 200, 150, 150, 150, 150, 150, 150, 80, 150};
    return column >= 0 && column < ColumnCount ? widths[column] : 0;
}

int FenwaDeviceModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : rows.size();
}

int FenwaDeviceModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : int(ColumnCount);
}

QVariant FenwaDeviceModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= rows.size() || index.column() >= ColumnCount)
        return QVariant();
    const FenwaDevice *device = rows.at(index.row());

    switch (role) {
    case Qt::TextAlignmentRole:
        return int(Qt::AlignCenter);
    case CheckRole:
        return index.column() == CheckColumn ? QVariant(device->checked) : QVariant();
    case Qt::DecorationRole:
        return index.column() == PlayColumn ? QVariant(QIcon(QStringLiteral(":/resources/play.png"))) : QVariant();
    case Qt::BackgroundRole:
    case Qt::ToolTipRole:
        return conflictData(device, index.column(), role);
    case Qt::DisplayRole:
    case Qt::EditRole:
        break;
    default:
        return QVariant();
    }

    switch (static_cast<Column>(index.column())) {
    case CheckColumn:
    case PlayColumn:
    case ColumnCount:
        return QVariant();
    case NumberColumn:
        return QString::number(index.row() + 1);
    case UidColumn:
        return device->uid;
    case NameColumn:
        return device->name;
    case MacColumn:
        return device->macText;
    case IpColumn:
        return device->ip;
    case NetmaskColumn:
        return device->netmask;
    case GatewayColumn:
        return device->gateway;
    case SipColumn:
        return device->extra(QStringLiteral("sipInfo"));
    case RtpColumn:
        return device->extra(QStringLiteral("rtpInfo"));
    case VersionColumn:
        return device->version;
    case VolumeColumn:
        return QStringLiteral("%1,%2").arg(device->extra(QStringLiteral("micVolume")),
                                           device->extra(QStringLiteral("outVolume")));
    case SystemColumn:
        return device->account();
    }
    return QVariant();
}

QVariant FenwaDeviceModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QVariant();
    switch (static_cast<Column>(section)) {
    case CheckColumn:
        return QVariant();
    case NumberColumn:
        return translate("No.");
    case PlayColumn:
        return QString();
    case UidColumn:
        return translate("UID");
    case NameColumn:
        return translate("Name");
    case MacColumn:
        return translate("MAC");
    case IpColumn:
        return translate("IP address");
    case NetmaskColumn:
        return translate("Netmask");
    case GatewayColumn:
        return translate("Gateway");
    case SipColumn:
        return translate("Sip Settings");
    case RtpColumn:
        return translate("Rtp Settings");
    case VersionColumn:
        return translate("Version");
    case VolumeColumn:
        return translate("Volume");
    case SystemColumn:
        return translate("System");
    case ColumnCount:
        break;
    }
    return QVariant();
}

Qt::ItemFlags FenwaDeviceModel::flags(const QModelIndex &index) const
{
    if (!index.isValid())
        return Qt::NoItemFlags;
    switch (index.column()) {
    case CheckColumn:
    case PlayColumn:
        return Qt::ItemIsEnabled;
    case NameColumn:
    case MacColumn:
        return Qt::ItemIsSelectable | Qt::ItemIsEditable | Qt::ItemIsEnabled;
    default:
        return Qt::ItemIsSelectable | Qt::ItemIsEnabled;
    }
}

bool FenwaDeviceModel::setData(const QModelIndex &index, const QVariant &value, int role)
{
    qDebug() << "model set data " << index << value << role;
    if (!index.isValid() || index.row() >= rows.size())
        return false;
    switch (index.column()) {
    case CheckColumn:
        if (role == CheckRole)
            rows[index.row()]->checked = value.toBool();
        else if (role == Qt::CheckStateRole)
            rows[index.row()]->checked = value == QVariant(int(Qt::Checked));
        else
            return true;
        emit dataChanged(index, index, {CheckRole});
        return true;
    case NameColumn:
    case MacColumn:
        emit modifyData(index, value, role);
        return QAbstractTableModel::setData(index, value, role);
    default:
        return QAbstractTableModel::setData(index, value, role);
    }
}

void FenwaDeviceModel::sort(int column, Qt::SortOrder order)
{
    qDebug("sort model");
    if (rows.isEmpty())
        return;
    QString FenwaDevice::*field = nullptr;
    switch (column) {
    case UidColumn:
        field = &FenwaDevice::uid;
        break;
    case NameColumn:
        field = &FenwaDevice::name;
        break;
    case MacColumn:
        field = &FenwaDevice::macText;
        break;
    case IpColumn:
        field = &FenwaDevice::ip; // as text: 10.0.0.10 comes before 10.0.0.9
        break;
    default:
        return;
    }
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    const QModelIndexList before = persistentIndexList();
    QVector<FenwaDevice *> old = rows;
    std::stable_sort(rows.begin(), rows.end(), [field, order](const FenwaDevice *a, const FenwaDevice *b) {
        const int c = (a->*field).compare(b->*field, Qt::CaseInsensitive);
        return order == Qt::AscendingOrder ? c < 0 : c > 0;
    });
    // Selections and editors follow their record to its new row.
    QModelIndexList after;
    for (const QModelIndex &index : before)
        after << index.sibling(rows.indexOf(old.at(index.row())), index.column());
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

FenwaDevice *FenwaDeviceModel::deviceAt(int row) const
{
    return row >= 0 && row < rows.size() ? rows.at(row) : nullptr;
}

QList<FenwaDevice *> FenwaDeviceModel::allDevices() const
{
    return QList<FenwaDevice *>(rows.cbegin(), rows.cend());
}

QList<FenwaDevice *> FenwaDeviceModel::checkedDevices() const
{
    QList<FenwaDevice *> checked;
    for (FenwaDevice *device : rows) {
        if (device->checked)
            checked.append(device);
    }
    return checked;
}

void FenwaDeviceModel::releaseAll()
{
    for (FenwaDevice *device : rows)
        device->release();
    rows.clear();
}

QVariant FenwaDeviceModel::conflictData(const FenwaDevice *device, int column, int role) const
{
    const auto it = conflicts.constFind(device);
    if (it == conflicts.constEnd() || (column != MacColumn && column != IpColumn))
        return QVariant();
    const QList<const FenwaDevice *> &others = column == MacColumn ? it->sameMac : it->sameIp;
    if (others.isEmpty())
        return QVariant();
    if (role == Qt::BackgroundRole)
        return QColor(255, 200, 185);
    QStringList names;
    for (const FenwaDevice *other : others)
        names << (column == MacColumn ? QStringLiteral("%1 (UID %2)").arg(other->name, other->uid)
                                      : FenwaTerminal::terminalLabel(other));
    const QString list = names.join(QStringLiteral(", "));
    return column == MacColumn ? translate("Shares this MAC with %1: a command to one reaches all").arg(list)
                               : translate("%1 reports this address too").arg(list);
}

void FenwaDeviceModel::findConflicts()
{
    conflicts = FenwaTerminal::conflictsOf(allDevices());
    FenwaTerminal::countConflicts(conflicts, &macShared, &ipShared);
    emit conflictsChanged();
}

void FenwaDeviceModel::setDevices(const QList<FenwaDevice *> &devices)
{
    beginResetModel();
    // Taken before the old rows go: a record may be in both lists.
    for (FenwaDevice *device : devices)
        device->addRef();
    releaseAll();
    rows = QVector<FenwaDevice *>(devices.cbegin(), devices.cend());
    findConflicts();
    endResetModel();
    startOver();
}

void FenwaDeviceModel::clearDevices()
{
    beginResetModel();
    releaseAll();
    findConflicts();
    endResetModel();
    startOver();
}

void FenwaDeviceModel::startOver()
{
    // A ticked box over new rows would claim they are all selected, an arrow
    // an order the rows no longer have.
    header->checkBox()->setChecked(false);
    header->setSortIndicator(-1, header->sortIndicatorOrder());
}

void FenwaDeviceModel::announceAllRows()
{
    if (!rows.isEmpty())
        emit dataChanged(index(0, 0), index(rows.size() - 1, ColumnCount - 1));
}

void FenwaDeviceModel::refresh()
{
    // A batch may have moved a terminal onto, or off, another's address.
    findConflicts();
    announceAllRows();
}

void FenwaDeviceModel::allCheckBoxChecked(bool)
{
    // The box's state, not the signal's argument: a click that Qt reports
    // late must not undo a newer state.
    const bool checked = header->checkBox()->isChecked();
    for (FenwaDevice *device : rows)
        device->checked = checked;
    announceAllRows();
}
