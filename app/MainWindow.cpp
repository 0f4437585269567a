// SPDX-License-Identifier: GPL-3.0-or-later
#include "MainWindow.h"

#include "FenwaAboutDialog.h"
#include "FenwaCloseRequest.h"
#include "FenwaLinkStatus.h"
#include "FenwaLiveSearch.h"
#include "FenwaSiteActions.h"
#include "OrbUtils/OrbConfigure.h"
#include "OrbUtils/OrbLog.h"
#include "OrbUtils/widgets/OrbTableView.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "OrbUtils/widgets/OrbWaitDialog.h"
#include "OrbUtils/OrbTranslate.h"
#include "multicast/OrbRtpMulticastDialog.h"
#include "settings/FenwaAudioSettingWidget.h"
#include "settings/FenwaDeviceSearchDialog.h"
#include "settings/FenwaNameSettingWidget.h"
#include "settings/FenwaSettingDialog.h"
#include "settings/FenwaSettingPages.h"
#include "settings/OrbNetworkDialog.h"
#include "link/FenwaTerminal.h"
#include "table/FenwaDeviceModel.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QEvent>
#include <QHeaderView>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollArea>
#include <QStatusBar>
#include <QTimer>
#include <QtDebug>
#include <memory>

MainWindow::MainWindow(QWidget *parent)
    : QMainWindow(parent), link(new FenwaSDK), networkButton(new QPushButton(this)),
      searchButton(new QPushButton(this)), rtpButton(new QPushButton(this)), settingButton(new QPushButton(this)),
      siteButton(new QPushButton(this)), keepSearching(new QCheckBox(this)), filter(new QLineEdit(this)),
      table(new OrbTableView(this)),
      model(new FenwaDeviceModel(table)), status(new FenwaLinkStatus(this, link.get())),
      panelScroll(new QScrollArea(this)), pages(new FenwaSettingPages(this, link.get(), model)),
      site(new FenwaSiteActions(this, link.get(), model)), live(new FenwaLiveSearch(this, link.get(), model))
{
    qRegisterMetaType<FenwaDevice *>();
    // The link first: the capture (or its helper) opens on the link's own
    // thread while the window is built and shown, and the first search can
    // go out as soon as the event loop runs.
    link->setCommandObserver(this);
    const QByteArray remembered = OrbConfigure().network().toUtf8();
    std::unique_ptr<QPcapAdapterList> adapters(FenwaSDK::adapters());
    const QPcapAdapter *adapter = findAdapter(adapters.get(), remembered.isEmpty() ? nullptr : remembered.constData());
    ORB_LOG("%d adapters listed, opening %s\n", adapters->count(), adapter ? adapter->name : "none");
    openAdapter(adapter);
    status->refresh(); // built before the link had an adapter

    networkButton->setText(translate("Network"));
    searchButton->setText(translate("Search"));
    rtpButton->setText(translate("RTP Multicast"));
    settingButton->setText(translate("Settings"));
    siteButton->setText(translate("Site"));
    filter->setPlaceholderText(translate("Filter by name, MAC, IP address or version")); // before the first layout
    siteButton->setMenu(site->menu());
    keepSearching->setText(translate("Keep searching"));
    keepSearching->setToolTip(
        translate("Search again every %1 s and mark the terminals that appear, change or stop answering")
            .arg(FenwaLiveSearch::INTERVAL_MS / 1000));
    keepSearching->setChecked(OrbConfigure().keepSearching());
    // Every job of a dialog (a batch, a search by hand) ends the round under
    // way first: the link has one issuing thread at a time.
    OrbWaitDialog::setBeforeJob([this] { live->stopRound(); });
    // A status bar spans the window: the line is not cut beside the buttons,
    // and takes a second row rather than being cut when the window is narrow.
    statusBar()->addWidget(status, 1);
    statusBar()->installEventFilter(this);
    panelScroll->setFrameShape(QFrame::NoFrame);
    panelScroll->setWidgetResizable(true);
    panelScroll->hide();
    // Small enough for a laptop beside another window; the panel scrolls.
    setMinimumSize(640, 480);
    const QByteArray placed = OrbConfigure().windowGeometry();
    if (placed.isEmpty() || !restoreGeometry(placed)) {
        resize(1000, 700);
        showMaximized();
    } else {
        show();
    }

    table->setSortingEnabled(true);
    connect(networkButton, &QPushButton::clicked, this, &MainWindow::onClickNetworkButton);
    connect(searchButton, &QPushButton::clicked, this, &MainWindow::onClickSearchButton);
    connect(rtpButton, &QPushButton::clicked, this, &MainWindow::onClickRtpButton);
    connect(settingButton, &QPushButton::clicked, this, &MainWindow::onClickSettingButton);
    connect(table->horizontalHeader(), &QHeaderView::sectionClicked, this, &MainWindow::onClickTableHeaderView);
    connect(table, &QTableView::clicked, this, &MainWindow::onClickTableViewIndex);
    connect(model, &FenwaDeviceModel::modifyData, this, &MainWindow::onModelModifyData);
    connect(model, &FenwaDeviceModel::conflictsChanged, this,
            [this] { status->setConflicts(model->sharingMac(), model->sharingIp()); });
    connect(model, &FenwaDeviceModel::liveChanged, this, [this] {
        const FenwaLiveList &rows = model->live();
        status->setLive(live->isEnabled(), rows.online(), rows.offline(), rows.fresh());
    });
    connect(keepSearching, &QCheckBox::toggled, this, [this](bool on) {
        OrbConfigure().setKeepSearching(on);
        live->setEnabled(on);
        const FenwaLiveList &rows = model->live();
        status->setLive(on, rows.online(), rows.offline(), rows.fresh());
    });
    live->setEnabled(keepSearching->isChecked());
    filter->setClearButtonEnabled(true);
    connect(filter, &QLineEdit::textChanged, model, &FenwaDeviceModel::setFilter);
    auto *ignoredTimer = new QTimer(this);
    connect(ignoredTimer, &QTimer::timeout, this, &MainWindow::logIgnoredFrames);
    ignoredTimer->start(1000);
    watchBlockedCloseRequests(this, [this] { closeRequestedDuringBatch(); });

    // As soon as the event loop runs: the search waits for the link's first
    // open by itself, and a fixed delay here only postponed the table.
    QTimer::singleShot(0, this, &MainWindow::autoSearch);
}

MainWindow::~MainWindow()
{
    // No round may use the link once it goes.
    OrbWaitDialog::setBeforeJob(nullptr);
    live->setEnabled(false);
    live->stopRound();
    // Stops the link threads before the observer (this window) goes.
    link.reset();
    ORB_LOG("link closed\n");
}

void MainWindow::openAdapter(const QPcapAdapter *adapter)
{
    link->open(adapter);
    const QString where =
        adapter ? OrbNetworkDialog::itemText(*adapter) : translate("no network adapter");
    setWindowTitle(QStringLiteral("%1 - %2").arg(translate("Fenwa Workbench"), where));
}

void MainWindow::showPage(FenwaSettingWidget *widget)
{
    if (page == widget)
        return;
    if (page) {
        // Kept, hidden, for the next time its column is clicked.
        panelScroll->takeWidget();
        page->setParent(this);
        page->hide();
    }
    page = widget;
    if (page) {
        panelScroll->setWidget(page);
        page->show();
    }
    panelScroll->setVisible(page != nullptr);
    layoutPanel();
}

void MainWindow::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    QPushButton *buttons[] = {networkButton, searchButton, rtpButton, settingButton, siteButton};
    const int count = int(sizeof buttons / sizeof buttons[0]);
    // 130 wide, 10 apart; narrower on a narrow window (at 640 wide every
    // button still shows), never narrower than a text needs. "Keep
    // searching" right after Search.
    int widest = 0;
    for (QPushButton *b : buttons)
        widest = std::max(widest, b->sizeHint().width());
    const int box = keepSearching->sizeHint().width() + 10;
    const int step = std::max(widest + 10, std::min(140, (width() - 10 - box) / count));
    int x = 10;
    for (QPushButton *b : buttons) {
        b->setGeometry(x, 10, step - 10, 30);
        x += step;
        if (b == searchButton) {
            keepSearching->setGeometry(x, 10, box - 10, 30);
            x += box;
        }
    }
    // The filter box above the table: beside the buttons when they leave it
    // room for its whole hint, else on a row of its own.
    const int room = width() - 10 - x;
    const int hint = filter->fontMetrics().horizontalAdvance(filter->placeholderText()) + 50; // frame, clear button
    if (room >= std::max(200, hint)) {
        filter->setGeometry(x, 12, std::min(std::max(420, hint), room), 26);
        tableTop = 50;
    } else {
        filter->setGeometry(10, 46, std::max(0, std::min(420, width() - 20)), 26);
        tableTop = 78;
    }
    layoutPanel();
}

bool MainWindow::eventFilter(QObject *watched, QEvent *event)
{
    // A wrapped status line makes the bar taller: the panel moves up.
    if (watched == statusBar() && event->type() == QEvent::Resize)
        layoutPanel();
    return QMainWindow::eventFilter(watched, event);
}

void MainWindow::layoutPanel()
{
    const int w = width(), h = height() - (statusBar()->isVisible() ? statusBar()->height() : 0);
    // The panel gives up height before the table drops below a few rows;
    // the page scrolls in what is left.
    const int panelHeight = std::max(150, std::min(300, h - tableTop - 150));
    panel = QRect(0, h - panelHeight, w, panelHeight);
    // No empty band under the table while no page is shown.
    table->setGeometry(0, tableTop, w, page ? h - tableTop - panelHeight : h - tableTop);
    panelScroll->setGeometry(panel);
}

void MainWindow::search()
{
    showPage(nullptr);
    model->clearDevices();
    model->refresh();

    FenwaDeviceSearchDialog dialog(this, link.get());
    dialog.moveToCenter(this);
    dialog.startJob();
    if (dialog.exec() != QDialog::Accepted) {
        ORB_LOG("search cancelled\n");
        status->searchEnded(0, dialog.otherTypes(), true);
        emit searchFinished(0);
        return;
    }
    QList<FenwaDevice *> devices;
    for (FenwaDevice *device : dialog.found()) {
        if (device->isValid())
            devices.append(device);
    }
    model->setDevices(devices); // takes its references; the dialog drops its own
    live->restartInterval();
    ORB_LOG("search found %d terminals, %d of other types, %d heard only on a repeat\n", int(devices.size()),
            dialog.otherTypes(), dialog.repeatOnly());
    status->searchEnded(devices.size(), dialog.otherTypes(), false);
    status->setRepeatOnly(dialog.repeatOnly());
    emit searchFinished(devices.size());
}

void MainWindow::autoSearch()
{
    search();
}

void MainWindow::onClickSearchButton(bool)
{
    search();
}

void MainWindow::onClickNetworkButton(bool)
{
    OrbNetworkDialog dialog(this);
    dialog.moveToCenter(this);
    dialog.setAdapters(FenwaSDK::adapters());
    if (dialog.exec() != QDialog::Accepted)
        return;
    live->stopRound();
    link->close();
    openAdapter(dialog.selectedAdapter());
    // The rows came from the old adapter: search the new one instead.
    status->adapterChanged();
    search();
}

void MainWindow::onClickRtpButton(bool)
{
    if (OrbRtpMulticastDialog *dialog = OrbRtpMulticastDialog::instance()) {
        dialog->show();
        dialog->setWindowState((dialog->windowState() & ~Qt::WindowMinimized) | Qt::WindowActive);
        dialog->raise();
        dialog->activateWindow();
        return;
    }
    auto *dialog = new OrbRtpMulticastDialog();
    dialog->moveToCenter(this);
    dialog->show();
}

void MainWindow::closeEvent(QCloseEvent *event)
{
    if (FenwaSettingDialog *batch = FenwaSettingDialog::running()) {
        // A batch's dialog runs over this window (a signal to end, or the
        // operator agreed): stop it without its report, and close once its
        // dialog has returned.
        ORB_LOG("window closing: stopping the batch under way first\n");
        batch->stopWithoutReport();
        event->ignore();
        QTimer::singleShot(0, this, &QWidget::close);
        return;
    }
    ORB_LOG("window closing\n");
    OrbConfigure().setWindowGeometry(saveGeometry());
    QMainWindow::closeEvent(event);
    // Without a parent the dialog would outlive the window and keep the
    // program (and its stream) running.
    OrbRtpMulticastDialog::closeInstance();
}

void MainWindow::closeRequestedDuringBatch()
{
    FenwaSettingDialog *batch = FenwaSettingDialog::running();
    if (batch == nullptr) {
        close(); // it ended meanwhile
        return;
    }
    if (askingToClose)
        return;
    askingToClose = true;
    QMessageBox box(QMessageBox::Question, translate("Please confirm"),
                    translate("A batch is under way. Stop it and close the window?"), QMessageBox::NoButton, batch);
    QPushButton *stop = box.addButton(translate("Stop and close"), QMessageBox::AcceptRole);
    box.setDefaultButton(box.addButton(translate("Continue"), QMessageBox::RejectRole));
    box.exec();
    askingToClose = false;
    if (box.clickedButton() == stop)
        close();
}

void MainWindow::logIgnoredFrames()
{
    const long ignored = link->takeIgnoredFrames();
    if (ignored > 0)
        ORB_LOG("ignored %ld frames in the last second\n", ignored);
}

void MainWindow::onClickSettingButton(bool)
{
    FenwaAboutDialog dialog(this);
    dialog.moveToCenter(this);
    dialog.exec();
}

void MainWindow::onClickTableHeaderView(int section)
{
    qDebug("section = %d", section);
}

void MainWindow::onClickTableViewIndex(const QModelIndex &index)
{
    if (!index.isValid())
        return;
    FenwaDevice *device = model->deviceAt(index.row());
    switch (FenwaSettingPages::choiceFor(index.column())) {
    case FenwaSettingPages::PlaySound:
        if (device)
            runTestSound(device);
        return;
    case FenwaSettingPages::KeepPage:
        if (page && !page->followsTicks())
            return;
        break;
    case FenwaSettingPages::HidePage:
        showPage(nullptr);
        break;
    case FenwaSettingPages::ShowPage:
        showPage(pages->pageFor(index.column()));
        break;
    }
    if (page)
        page->setDevice(device);
}

void MainWindow::onModelModifyData(const QModelIndex &index, const QVariant &value, int)
{
    if (value.type() != QVariant::String)
        return;
    FenwaDevice *device = model->deviceAt(index.row());
    if (device == nullptr)
        return;
    const QString text = value.toString();
    const int column = index.column();
    // Case counts: a terminal may need its MAC rewritten in capitals.
    const QString now = column == FenwaDeviceModel::NameColumn  ? device->name
                        : column == FenwaDeviceModel::MacColumn ? device->macText
                                                                : text;
    if (text == now)
        return;
    // After the editor has closed: a modal batch opened inside the commit
    // would take the editor's focus and make it commit a second time.
    // The reference goes with the call, also when the window closes first.
    device->addRef();
    const std::shared_ptr<FenwaDevice> held(device, [](FenwaDevice *d) { d->release(); });
    QMetaObject::invokeMethod(
        this,
        [this, held, column, text] {
            if (model->allDevices().contains(held.get())) // a search may have come first
                runCellEdit(held.get(), column, text);
        },
        Qt::QueuedConnection);
}

void MainWindow::runCellEdit(FenwaDevice *device, int column, const QString &text)
{
    QString why;
    std::unique_ptr<FenwaSettingDialog> dialog =
        column == FenwaDeviceModel::NameColumn ? FenwaNameSettingDialog::make(this, link.get(), text, 1, &why)
                                               : FenwaMacSettingDialog::make(this, link.get(), text, {device},
                                                                             model->allDevices(), &why);
    if (!dialog) {
        showNotice(why);
        return;
    }
    dialog->setDevices({device});
    dialog->runBatch(model, this, false);
}

void MainWindow::runTestSound(FenwaDevice *device)
{
    FenwaPlayVolumeDialog dialog(this, link.get());
    dialog.setDevices({device});
    dialog.runBatch(model, this, false);
}

void MainWindow::showNotice(const QString &text)
{
    if (notice == nullptr)
        notice = new OrbToast(this);
    notice->showText(this, text, OrbToast::Top | OrbToast::HCenter, 2000);
}

void MainWindow::onSendCommand(FenwaSDK *, const char *text)
{
    if (live->inRound())
        return; // a round every few seconds would bury the log; its events are logged instead
    const QByteArray line = "send " + FenwaTerminal::maskedText(text);
    writeLog(__FILE__, "MainWindow::onSendCommand", __LINE__, ORB_LOG_LEVEL, "%s\n", line.constData());
}

void MainWindow::onRecvCommand(FenwaSDK *, const char *text)
{
    if (live->inRound())
        return;
    const QByteArray line = "recv " + FenwaTerminal::maskedText(text);
    writeLog(__FILE__, "MainWindow::onRecvCommand", __LINE__, ORB_LOG_LEVEL, "%s\n", line.constData());
}
