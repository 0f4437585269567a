// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/FenwaSDK.h"

#include <QMainWindow>
#include <QModelIndex>
#include <QRect>
#include <QVariant>

Q_DECLARE_METATYPE(FenwaDevice *)

class FenwaDeviceModel;
class OrbTableView;
class QPushButton;

// The workbench's only top-level window: the terminal link, the device
// table, and the panel under it where a settings page shows.
//
// Threads: everything runs on the interface thread except the two observer
// calls, which come from the link's capture and sending threads and only
// write the log.
class MainWindow : public QMainWindow, public FenwaCommandObserver
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    FenwaDeviceModel *deviceModel() const { return model; }
    OrbTableView *tableView() const { return table; }
    FenwaSDK *sdk() const { return link; }
    // Where the current settings page goes.
    QRect panelRect() const { return panel; }
    QWidget *currentPage() const { return page; }
    // Shows widget in the panel (nullptr empties it).
    void showPage(QWidget *widget);

    void onSendCommand(FenwaSDK *sdk, const char *text) override;
    void onRecvCommand(FenwaSDK *sdk, const char *text) override;

signals:
    // A Name or MAC cell was edited to a different text. The one-terminal
    // batch that sends it is connected here by the settings pages.
    void nameChangeRequested(FenwaDevice *device, const QString &name);
    void macChangeRequested(FenwaDevice *device, const QString &mac);
    // The automatic or a manual search has ended and the table is filled.
    void searchFinished(int found);

public slots:
    void onClickTableHeaderView(int section);
    void onClickTableViewIndex(const QModelIndex &index);
    void onModelModifyData(const QModelIndex &index, const QVariant &value, int role);
    void onClickNetworkButton(bool checked);
    void onClickSearchButton(bool checked);
    void onClickRtpButton(bool checked);
    void onClickSettingButton(bool checked);
    void autoSearch();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void openAdapter(const QPcapAdapter *adapter);
    void search();

    FenwaSDK *link;
    QPushButton *networkButton;
    QPushButton *searchButton;
    QPushButton *rtpButton;
    QPushButton *settingButton;
    OrbTableView *table;
    FenwaDeviceModel *model;
    QRect panel;
    QWidget *page = nullptr;
};
