// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/FenwaLiveList.h"
#include "link/FenwaTerminal.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QList>
#include <QVector>

class FenwaDevice;
class FenwaDeviceModelDelegate;
class QCheckBoxHeaderView;
class QTableView;

// The terminals of the last search, one row each, and the selection the
// settings pages work on (the checked rows). A filter narrows the rows shown
// to those whose name, MAC, IP address or version holds the typed text; the
// records it hides stay in the table (allDevices) with their ticks, but the
// pages work on what is shown (shownDevices, checkedDevices). The last
// column holds each terminal's last batch result until the next search.
// Terminals that share a MAC or an address with another record are marked:
// the MAC or IP cell coloured, a tooltip naming the others (worked out again
// whenever the records change).
//
// Later search rounds (mergeRound: the live view, or a wait for restarting
// terminals) go through a FenwaLiveList: they update rows in place and
// append terminals not seen before, never remove, reorder or untick a row.
// The Status column says which rows are new, offline (greyed) or back;
// changed names, addresses and versions are coloured, the old value in the
// tooltip. setDevices (a search by hand) starts afresh.
//
// The model holds one reference to every record in it: setDevices takes it
// and the model drops it when the row goes; the caller keeps its own. It never changes a record's fields itself: in-cell edits
// of the name and MAC only raise modifyData, and a terminal batch writes the
// record when the terminal accepted the change.
class FenwaDeviceModel : public QAbstractTableModel
{
    Q_OBJECT
public:
    enum Column {
        CheckColumn,
        NumberColumn,
        PlayColumn,
        UidColumn,
        NameColumn,
        MacColumn,
        IpColumn,
        NetmaskColumn,
        GatewayColumn,
        SipColumn,
        RtpColumn,
        VersionColumn,
        VolumeColumn,
        SystemColumn,
        LastResultColumn,
        StatusColumn, // shown after the play icon (the view moves it)
        ColumnCount
    };
    // The check flag travels through the user role; what a column sorts by
    // (its value, not its text) through the sort role.
    enum { CheckRole = Qt::UserRole, SortRole };

    // Builds the delegate and the header and installs them and itself on
    // view.
    explicit FenwaDeviceModel(QTableView *view);
    ~FenwaDeviceModel() override;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role = Qt::EditRole) override;
    void sort(int column, Qt::SortOrder order = Qt::AscendingOrder) override;

    // nullptr when row is out of range.
    FenwaDevice *deviceAt(int row) const;
    // No list takes references of its own. Every record of the table, the
    // rows shown, and the checked rows among them.
    QList<FenwaDevice *> allDevices() const;
    QList<FenwaDevice *> shownDevices() const;
    QList<FenwaDevice *> checkedDevices() const;
    // Shows only the records whose name, MAC, IP address or version holds
    // text (without regard to case); empty shows every record.
    void setFilter(const QString &text);
    QString filter() const { return filterText; }
    // What the last column shows for device until the next search.
    void setLastResult(const FenwaDevice *device, const QString &text);
    QString lastResult(const FenwaDevice *device) const { return lastResults.value(device); }
    // The batch those results are of ("Rebooting, 10:42"), until the next search.
    void setLastBatch(const QString &text) { lastBatchText = text; }
    QString lastBatch() const { return lastBatchText; }
    // Both start a new table: every row unchecked, the header box unticked
    // and no sort arrow (the rows come in the search's MAC order).
    void setDevices(const QList<FenwaDevice *> &devices);
    void clearDevices();
    // A later search round's terminals (supported ones, one record each; the
    // caller keeps its references), begun at at. Returns what it changed.
    QList<FenwaLiveEvent> mergeRound(const QList<FenwaDevice *> &found, const QDateTime &at);
    const FenwaLiveList &live() const { return liveRows; }
    // What the Status column shows for device: "offline since 10:42:13",
    // "new", "back at ...", "changed", or nothing.
    QString statusText(const FenwaDevice *device) const;
    // Shows field values a batch has written into the records.
    void refresh();
    // Says that these terminals may hold other values than their page shows
    // (a batch, a plan's apply or a restore wrote to them): the page in the
    // panel shows (or reads) its terminal again when it is one of them.
    // Every batch that writes calls it once its results are in the records.
    void announceChanged(const QList<FenwaDevice *> &devices);

    QCheckBoxHeaderView *checkBoxHeader() const { return header; }
    FenwaDeviceModelDelegate *checkBoxDelegate() const { return delegate; }

    static int columnWidth(int column);
    // Whether sort() orders the rows by this column.
    static bool isSortable(int column);
    // What a sortable column's text sorts by, compared as plain text: IPv4
    // addresses and MACs by their numbers, other texts without regard to
    // case and with their digit runs by value (2.9 before 2.10, Terminal-9
    // before Terminal-10). Texts that are not an address come after those
    // that are.
    static QString sortKey(int column, const QString &text);

    // How many rows share a MAC with another, and how many an address.
    int sharingMac() const { return macShared; }
    int sharingIp() const { return ipShared; }

signals:
    // An edit of a Name or MAC cell was committed; the record is unchanged.
    void modifyData(const QModelIndex &index, const QVariant &value, int role);
    // The counts of sharingMac() and sharingIp() may have changed.
    void conflictsChanged();
    // See announceChanged.
    void terminalsChanged(const QList<FenwaDevice *> &devices);
    // The counts of live() may have changed.
    void liveChanged();

public slots:
    // Sets every row's check flag to the header box's current state.
    void allCheckBoxChecked(bool checked);

private:
    void releaseAll();
    void announceAllRows();
    void startOver();
    bool shows(const FenwaDevice *device) const;
    void pickRows();
    void findConflicts();
    QVariant conflictData(const FenwaDevice *device, int column, int role) const;
    QVariant liveData(const FenwaDevice *device, int column, int role) const;

    QVector<FenwaDevice *> records; // every record, in the table's order
    QVector<FenwaDevice *> rows;    // the ones the filter shows
    QString filterText;
    QHash<const FenwaDevice *, QString> lastResults;
    QString lastBatchText;
    QHash<const FenwaDevice *, FenwaTerminal::Conflicts> conflicts;
    FenwaLiveList liveRows;
    int macShared = 0, ipShared = 0;
    FenwaDeviceModelDelegate *delegate;
    QCheckBoxHeaderView *header;
    QTableView *view;
};
