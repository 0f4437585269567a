// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaPlanDialog.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaSDK.h"
#include "table/FenwaDeviceModel.h"

#include <QFile>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

using namespace FenwaPlan;

FenwaSettingsReadDialog::FenwaSettingsReadDialog(QWidget *parent, FenwaSDK *sdk, bool sip, bool rtp)
    : FenwaSettingDialog(parent, sdk, translate("Reading terminals")), sip(sip), rtp(rtp)
{
}

QList<FenwaRequest> FenwaSettingsReadDialog::requestsFor(int i)
{
    if (reads.size() != devices().size())
        reads.resize(devices().size()); // first call, before the job
    reads[i].wantSip = sip;
    reads[i].wantRtp = rtp;
    return reads[i].requests();
}

void FenwaSettingsReadDialog::replied(int i, int step, const FenwaReply &)
{
    reads[i].take(step, stepResult(i, step));
}

QString FenwaSettingsReadDialog::failureOf(int i, int step, const FenwaBatch::Result &result) const
{
    return reads[i].failure(step, result);
}

FenwaPlanProbeDialog::FenwaPlanProbeDialog(QWidget *parent, FenwaSDK *sdk, const QStringList &addresses)
    : OrbProgressDialog(parent), probe(sdk), addresses(addresses)
{
    setWindowTitle(translate("Site plan"));
    setMessage(translate("Checking addresses…"));
}

FenwaPlanProbeDialog::~FenwaPlanProbeDialog()
{
    stopJob(); // the job writes the answers
}

bool FenwaPlanProbeDialog::runProbe()
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    startJob();
    return exec() == QDialog::Accepted && probed.load();
}

void FenwaPlanProbeDialog::run()
{
    probed = probe.probe(addresses, &heard) == 0;
    finish();
}

void FenwaPlanProbeDialog::interrupt()
{
    OrbProgressDialog::interrupt();
    probe.cancel();
}

FenwaPlanApplyDialog::FenwaPlanApplyDialog(QWidget *parent, FenwaSDK *sdk, const QList<QList<Step>> &steps)
    : FenwaSettingDialog(parent, sdk, translate("Applying the plan")), steps(steps)
{
}

QList<FenwaRequest> FenwaPlanApplyDialog::requestsFor(int i)
{
    QList<FenwaRequest> out;
    for (const Step &s : steps.at(i))
        out << stepRequest(s);
    return out;
}

QList<FenwaBatch::Result> FenwaPlanApplyDialog::stepResults(int i) const
{
    QList<FenwaBatch::Result> out;
    for (int s = 0; s < stepCount(i); ++s)
        out << stepResult(i, s);
    return out;
}

QString FenwaPlanApplyDialog::failureOf(int i, int, const FenwaBatch::Result &) const
{
    return outcome(i);
}

QString FenwaPlanApplyDialog::outcome(int i) const
{
    return outcomeText(steps.at(i), stepResults(i));
}

void FenwaPlanApplyDialog::writeBack()
{
    for (int i = 0; i < steps.size(); ++i)
        for (int s = 0; s < stepCount(i); ++s)
            if (stepResult(i, s).accepted())
                stepAccepted(devices().at(i), steps[i][s]);
}

namespace {
enum Column { TickColumn, LineColumn, MacColumn, NameColumn, StatusColumn, ChangesColumn, ColumnCount };
}

FenwaPlanDialog::FenwaPlanDialog(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model, const Plan &plan,
                                 const Preview &preview)
    : OrbDialog(parent), sdk(sdk), model(model), plan(plan), preview(preview), table(new QTableWidget(this)),
      summary(new QLabel(this)), applyButton(new QPushButton(translate("Apply"), this)),
      saveButton(new QPushButton(translate("Save result..."), this))
{
    setWindowTitle(translate("Site plan"));
    auto *close = new QPushButton(translate("Close"), this);
    applyButton->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(applyButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table, 1);
    layout->addWidget(summary);
    layout->addLayout(buttons);
    summary->setWordWrap(true);
    summary->setTextInteractionFlags(Qt::TextSelectableByMouse);
    table->setColumnCount(ColumnCount);
    table->setHorizontalHeaderLabels({QString(), translate("Line"), translate("MAC"), translate("Name"),
                                      translate("Status"), translate("Changes (current -> planned)")});
    table->verticalHeader()->hide();
    // Rows follow their cells' height as the columns settle.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(true);
    table->horizontalHeader()->setStretchLastSection(true);
    for (int i = 0; i < this->plan.rows.size(); ++i)
        outcomes << QString();
    connect(applyButton, &QPushButton::clicked, this, [this] { apply(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(table, &QTableWidget::itemChanged, this, [this] { updateButtons(); });
    connect(saveButton, &QPushButton::clicked, this, [this] {
        const QString path = QFileDialog::getSaveFileName(this, translate("Save result..."), QString(),
                                                          translate("CSV files (*.csv)"));
        QString error;
        if (!path.isEmpty() && !saveResult(path, &error))
            QMessageBox::warning(this, windowTitle(), error);
    });
    // The preview names records of the table; a search while the dialog is
    // open must not free them under it.
    for (const Item &item : this->preview.items)
        if (item.device)
            item.device->addRef();
    for (FenwaDevice *d : this->preview.notInPlan)
        d->addRef();
    fill();
    resize(1000, 520);
}

FenwaPlanDialog::~FenwaPlanDialog()
{
    for (const Item &item : preview.items)
        if (item.device)
            item.device->release();
    for (FenwaDevice *d : preview.notInPlan)
        d->release();
}

void FenwaPlanDialog::fill()
{
    const QSignalBlocker block(table);
    table->setRowCount(preview.items.size());
    for (int r = 0; r < preview.items.size(); ++r) {
        const Item &item = preview.items[r];
        auto *tick = new QTableWidgetItem;
        const bool sendable = item.device && item.problems.isEmpty() && !item.changes.isEmpty();
        tick->setFlags(sendable ? Qt::ItemIsUserCheckable | Qt::ItemIsEnabled : Qt::NoItemFlags);
        // What failed stays ticked, so that "Apply" again retries only that.
        tick->setCheckState(sendable ? Qt::Checked : Qt::Unchecked);
        table->setItem(r, TickColumn, tick);
        table->setItem(r, LineColumn, new QTableWidgetItem(QString::number(plan.rows[item.row].line)));
        table->setItem(r, MacColumn, new QTableWidgetItem(item.mac));
        table->setItem(r, NameColumn, new QTableWidgetItem(item.device ? item.device->name : QString()));
        QStringList changes;
        for (const Change &c : item.changes)
            changes << QStringLiteral("%1: %2 -> %3")
                           .arg(columnName(c.field), shownValue(c.field, c.current), shownValue(c.field, c.planned));
        table->setItem(r, ChangesColumn, new QTableWidgetItem(changes.join(QLatin1Char('\n'))));
        auto *status = new QTableWidgetItem(statusText(r));
        if (!item.problems.isEmpty())
            status->setForeground(Qt::red);
        table->setItem(r, StatusColumn, status);
    }
    // Problems wrap in a column of their own width; the changes take the rest.
    for (int c = TickColumn; c < StatusColumn; ++c)
        table->resizeColumnToContents(c);
    table->setColumnWidth(StatusColumn, 260);
    QStringList lines{summaryText()};
    if (preview.notFound())
        lines << translate("Not found by the search: %1").arg(preview.notFound());
    QStringList others;
    for (const FenwaDevice *d : preview.notInPlan)
        others << QStringLiteral("%1 (%2)").arg(d->name, d->macText);
    if (!others.isEmpty())
        lines << translate("Found but not in the plan: %1").arg(others.join(QStringLiteral(", ")));
    summary->setText(lines.join(QLatin1Char('\n')));
    updateButtons();
}

int FenwaPlanDialog::rowCount() const
{
    return table->rowCount();
}

bool FenwaPlanDialog::isTicked(int row) const
{
    return table->item(row, TickColumn)->checkState() == Qt::Checked;
}

void FenwaPlanDialog::setTicked(int row, bool ticked)
{
    QTableWidgetItem *tick = table->item(row, TickColumn);
    if (tick->flags() & Qt::ItemIsUserCheckable)
        tick->setCheckState(ticked ? Qt::Checked : Qt::Unchecked);
}

bool FenwaPlanDialog::canApply() const
{
    return applyButton->isEnabled();
}

QString FenwaPlanDialog::statusText(int row) const
{
    const Item &item = preview.items[row];
    if (!outcomes[item.row].isEmpty())
        return outcomes[item.row];
    if (!item.device)
        return translate("not found");
    if (!item.problems.isEmpty())
        return translate("refused: %1").arg(item.problems.join(QStringLiteral("; ")));
    return item.changes.isEmpty() ? translate("unchanged") : translate("ready");
}

QString FenwaPlanDialog::summaryText() const
{
    return translate("%1 terminals in the plan, %2 with problems (left out)")
        .arg(preview.items.size())
        .arg(preview.problemRows());
}

void FenwaPlanDialog::updateButtons()
{
    bool any = false;
    for (int r = 0; r < table->rowCount(); ++r)
        any = any || isTicked(r);
    applyButton->setEnabled(any);
    saveButton->setEnabled(std::any_of(outcomes.cbegin(), outcomes.cend(), [](const QString &o) { return !o.isEmpty(); }));
}

bool FenwaPlanDialog::apply()
{
    QList<FenwaDevice *> devices;
    QList<QList<Step>> list;
    QList<int> rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        if (!isTicked(r))
            continue;
        devices << preview.items[r].device;
        list << steps(preview.items[r]);
        rows << r;
    }
    if (devices.isEmpty())
        return false;
    // Exactly the terminals that failed stay ticked in the table afterwards.
    for (FenwaDevice *d : model->allDevices())
        d->checked = false;
    FenwaPlanApplyDialog batch(this, sdk, list);
    batch.setDevices(devices);
    // Writes back every step accepted and tells the page in the panel.
    batch.runBatch(model, parentWidget(), true);
    for (int i = 0; i < rows.size(); ++i) {
        const Item &item = preview.items[rows[i]];
        outcomes[item.row] = batch.results().at(i).reached ? batch.outcome(i) : translate("not tried");
    }
    // What is done needs nothing more; the rest is for the next apply.
    for (Item &item : preview.items)
        if (outcomes[item.row] == translate("done"))
            item.changes.clear();
    fill();
    return true;
}

bool FenwaPlanDialog::saveResult(const QString &path, QString *error) const
{
    QStringList all;
    for (int i = 0; i < plan.rows.size(); ++i) {
        QString o = outcomes[i];
        for (const Item &item : preview.items)
            if (item.row == i && o.isEmpty())
                o = !item.device ? translate("not found")
                    : !item.problems.isEmpty() ? translate("refused: %1").arg(item.problems.join(QStringLiteral("; ")))
                    : item.changes.isEmpty() ? translate("unchanged") : translate("left out");
        all << o;
    }
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(resultSheet(plan, all)) < 0
        || !file.flush()) {
        *error = translate("Cannot write %1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}
