// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include "link/FenwaSDK.h"

#include <QMainWindow>
#include <QModelIndex>
#include <QRect>
#include <QVariant>
#include <memory>

Q_DECLARE_METATYPE(FenwaDevice *)

class FenwaDeviceModel;
class FenwaLinkStatus;
class FenwaLiveSearch;
class FenwaSettingPages;
class FenwaSettingWidget;
class FenwaSiteActions;
class OrbTableView;
class OrbToast;
class QCheckBox;
class QLineEdit;
class QPushButton;
class QScrollArea;

// The workbench's only top-level window: the terminal link, the device
// table, the panel under it where a settings page shows (scrolling when the
// window is too small for the page), and the status bar with the link's
// line. It comes back at the size and place it was closed at.
//
// Threads: everything runs on the interface thread except the two observer
// calls, which come from the thread that issues commands (a batch's job
// thread) and only write the log.
class MainWindow : public QMainWindow, public FenwaCommandObserver
{
    Q_OBJECT
public:
    explicit MainWindow(QWidget *parent = nullptr);
    ~MainWindow() override;

    FenwaDeviceModel *deviceModel() const { return model; }
    OrbTableView *tableView() const { return table; }
    QLineEdit *filterEdit() const { return filter; }
    FenwaLinkStatus *linkStatus() const { return status; }
    FenwaSDK *sdk() const { return link.get(); }
    // Where the current settings page goes; while no page is shown the
    // table has that room too.
    QRect panelRect() const { return panel; }
    // The page's scrolling frame, at panelRect() while a page is shown.
    QScrollArea *panelArea() const { return panelScroll; }
    FenwaSettingWidget *currentPage() const { return page; }
    FenwaSiteActions *siteActions() const { return site; }
    // "Keep searching" beside Search, and the rounds it runs.
    QCheckBox *keepSearchingBox() const { return keepSearching; }
    FenwaLiveSearch *liveSearch() const { return live; }
    // Shows a page in the panel (nullptr empties it); the page shown before
    // is hidden and kept.
    void showPage(FenwaSettingWidget *widget);

    void onSendCommand(FenwaSDK *sdk, const char *text) override;
    void onRecvCommand(FenwaSDK *sdk, const char *text) override;

signals:
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
    // The close button pressed while a batch's dialog blocks the window:
    // asks whether to stop the batch, then stops it and closes.
    void closeRequestedDuringBatch();

protected:
    void resizeEvent(QResizeEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void openAdapter(const QPcapAdapter *adapter);
    void search();
    void layoutPanel();
    // The one-terminal batch of an in-cell edit of the name or MAC.
    void runCellEdit(FenwaDevice *device, int column, const QString &text);
    void runTestSound(FenwaDevice *device);
    void showNotice(const QString &text);
    // At most one line a second for what the link ignored: a neighbour's
    // flood must not fill the log.
    void logIgnoredFrames();

    std::unique_ptr<FenwaSDK> link; // goes first in the destructor: it calls this window
    QPushButton *networkButton;
    QPushButton *searchButton;
    QPushButton *rtpButton;
    QPushButton *settingButton;
    QPushButton *siteButton;
    QCheckBox *keepSearching;
    QLineEdit *filter;
    OrbTableView *table;
    FenwaDeviceModel *model;
    FenwaLinkStatus *status;
    QRect panel;
    QScrollArea *panelScroll;
    std::unique_ptr<FenwaSettingPages> pages;
    FenwaSettingWidget *page = nullptr;
    OrbToast *notice = nullptr;
    FenwaSiteActions *site;
    FenwaLiveSearch *live;
    bool askingToClose = false;
    int tableTop = 50; // under the buttons, or under the filter's own row
};
