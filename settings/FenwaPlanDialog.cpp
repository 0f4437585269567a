// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaPlanDialog.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaSDK.h"
#include "site/FenwaSheet.h"
#include "table/FenwaDeviceModel.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMap>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>
#include <algorithm>

using namespace FenwaPlan;

FenwaSettingsReadDialog::FenwaSettingsReadDialog(QWidget *parent, FenwaSDK *sdk, const QVector<Reading> &wanted)
    : FenwaSettingDialog(parent, sdk, translate("Reading terminals")), reads(wanted)
{
}

QList<FenwaRequest> FenwaSettingsReadDialog::requestsFor(int i)
{
    return reads.value(i).requests();
}

void FenwaSettingsReadDialog::replied(int i, int step, const FenwaReply &)
{
    reads[i].take(step, stepResult(i, step));
}

QString FenwaSettingsReadDialog::failureOf(int i, int step, const FenwaBatch::Result &result) const
{
    return reads[i].failure(step, result);
}

FenwaPlanReadDialog::FenwaPlanReadDialog(QWidget *parent, const QString &path) : OrbProgressDialog(parent), path(path)
{
    setWindowTitle(translate("Site plan"));
    setMessage(translate("Reading %1…").arg(QFileInfo(path).fileName()));
    resize(420, 60);
}

FenwaPlanReadDialog::~FenwaPlanReadDialog()
{
    stopJob(); // the job writes the plan
}

bool FenwaPlanReadDialog::readPlan(Plan *out, QString *why)
{
    if (parentWidget())
        moveToCenter(parentWidget()->window());
    startJob();
    const bool finished = exec() == QDialog::Accepted;
    stopJob();
    why->clear();
    if (!finished)
        return false;
    if (!read.load()) {
        *why = error;
        return false;
    }
    *out = std::move(plan);
    return true;
}

void FenwaPlanReadDialog::run()
{
    read = readFile(path, &plan, &error);
    finish();
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
    return requests(steps.at(i));
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
    return statusText(outcome(i));
}

Status FenwaPlanApplyDialog::outcome(int i) const
{
    return applied(steps.at(i), stepResults(i));
}

void FenwaPlanApplyDialog::writeBack()
{
    for (int i = 0; i < steps.size(); ++i)
        settle(devices().at(i), steps[i], stepResults(i));
}

// The preview's rows for the view: the plan's items, in the order that
// puts what needs a look first, optionally only those.
class FenwaPlanModel : public QAbstractTableModel
{
public:
    enum Column { TickColumn, LineColumn, MacColumn, NameColumn, StatusColumn, ChangesColumn, ColumnCount };

    FenwaPlanModel(QObject *parent, const Plan &plan, const Preview &preview)
        : QAbstractTableModel(parent), plan(plan), preview(preview), ticked(preview.items.size(), false),
          outcome(preview.items.size()), applied(preview.items.size(), false)
    {
        for (int i = 0; i < preview.items.size(); ++i)
            ticked[i] = sendable(i) && preview.items[i].doubts.isEmpty();
        arrange();
    }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : shown.size(); }
    int columnCount(const QModelIndex &parent = QModelIndex()) const override { return parent.isValid() ? 0 : ColumnCount; }

    QVariant headerData(int section, Qt::Orientation orientation, int role) const override
    {
        if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
            return QVariant();
        switch (section) {
        case LineColumn: return plan.siteFile ? translate("Terminal") : translate("Line");
        case MacColumn: return translate("MAC");
        case NameColumn: return translate("Name");
        case StatusColumn: return translate("Status");
        case ChangesColumn: return translate("Changes (current -> planned)");
        }
        return QVariant();
    }

    Qt::ItemFlags flags(const QModelIndex &index) const override
    {
        Qt::ItemFlags f = Qt::ItemIsEnabled | Qt::ItemIsSelectable;
        if (index.column() == TickColumn && sendable(item(index.row())))
            f |= Qt::ItemIsUserCheckable;
        return f;
    }

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (!index.isValid() || index.row() >= shown.size())
            return QVariant();
        const int i = shown[index.row()];
        const Item &it = preview.items[i];
        if (role == Qt::CheckStateRole && index.column() == TickColumn)
            return ticked[i] ? Qt::Checked : Qt::Unchecked;
        if (role == Qt::ToolTipRole)
            return details(i);
        if (role == Qt::ForegroundRole && index.column() == StatusColumn) {
            const Outcome o = status(i).outcome;
            if (o == Outcome::Refused || o == Outcome::Failed)
                return QBrush(Qt::red);
            if (o == Outcome::Doubtful || o == Outcome::NotFound || o == Outcome::NotTried)
                return QBrush(QColor(0xb0, 0x60, 0x00));
            return QVariant();
        }
        if (role != Qt::DisplayRole)
            return QVariant();
        switch (index.column()) {
        case LineColumn: return plan.rows[it.row].line;
        case MacColumn: return it.mac;
        case NameColumn: return it.device ? it.device->name : it.merged.value(Name);
        case StatusColumn: return statusText(status(i));
        case ChangesColumn: return changes(i, QStringLiteral("; "));
        }
        return QVariant();
    }

    bool setData(const QModelIndex &index, const QVariant &value, int role) override
    {
        if (role != Qt::CheckStateRole || index.column() != TickColumn || !(flags(index) & Qt::ItemIsUserCheckable))
            return false;
        ticked[shown[index.row()]] = value.toInt() == Qt::Checked;
        emit dataChanged(index, index, {Qt::CheckStateRole});
        return true;
    }

    // Whether item i has something to send and nothing against it (doubts
    // are for the operator to weigh).
    bool sendable(int i) const
    {
        const Item &it = preview.items[i];
        return it.device && it.problems.isEmpty() && !it.changes.isEmpty();
    }
    Status status(int i) const
    {
        if (applied[i])
            return outcome[i];
        Status s = statusOf(preview.items[i]);
        if (anyApplied && s.outcome == Outcome::Ready)
            s.outcome = Outcome::LeftOut;
        return s;
    }
    QString changes(int i, const QString &separator) const
    {
        QStringList out;
        for (const Change &c : preview.items[i].changes)
            out << QStringLiteral("%1: %2 -> %3")
                       .arg(columnName(c.field), shownValue(c.field, c.current), shownValue(c.field, c.planned));
        return out.join(separator);
    }
    QString details(int i) const
    {
        const Item &it = preview.items[i];
        QStringList lines{QStringLiteral("%1 %2 · %3%4")
                              .arg(plan.siteFile ? translate("Terminal") : translate("Line"))
                              .arg(plan.rows[it.row].line)
                              .arg(it.mac, it.device ? QStringLiteral(" · ") + it.device->name : QString()),
                          statusText(status(i))};
        if (!it.changes.isEmpty())
            lines << QString() << translate("Changes (current -> planned)") + QLatin1Char(':') << changes(i, QStringLiteral("\n"));
        if (!it.problems.isEmpty())
            lines << QString() << translate("Problems:") << it.problems;
        if (!it.doubts.isEmpty())
            lines << QString() << translate("To check (tick the row to send it as it stands):") << it.doubts;
        return lines.join(QLatin1Char('\n'));
    }
    int item(int shownRow) const { return shown.value(shownRow, -1); }
    int shownRowOf(int i) const { return shown.indexOf(i); }

    // What needs a look comes first: refused, to check, not found, then
    // after an apply what failed or was not tried.
    static int rank(Outcome o)
    {
        switch (o) {
        case Outcome::Refused: return 0;
        case Outcome::Doubtful: return 1;
        case Outcome::NotFound: return 2;
        case Outcome::Failed: return 3;
        case Outcome::NotTried: return 4;
        case Outcome::Ready: return 5;
        case Outcome::LeftOut: return 6;
        case Outcome::Done: return 7;
        case Outcome::Unchanged: return 8;
        }
        return 9;
    }
    static bool needsALook(Outcome o) { return rank(o) <= rank(Outcome::NotTried); }

    void arrange()
    {
        beginResetModel();
        QVector<int> ranks(preview.items.size());
        shown.clear();
        for (int i = 0; i < preview.items.size(); ++i) {
            ranks[i] = rank(status(i).outcome);
            if (!problemsOnly || needsALook(status(i).outcome))
                shown << i;
        }
        std::stable_sort(shown.begin(), shown.end(), [&ranks](int a, int b) { return ranks[a] < ranks[b]; });
        endResetModel();
    }

    // After the batch over items: their outcomes; what is done needs
    // nothing more, what failed stays ticked for the next apply.
    void settleApply(const QList<int> &items, const QList<Status> &outcomes)
    {
        anyApplied = true;
        for (int k = 0; k < items.size(); ++k) {
            const int i = items[k];
            outcome[i] = outcomes[k];
            applied[i] = true;
            if (outcomes[k].outcome == Outcome::Done)
                preview.items[i].changes.clear();
            ticked[i] = sendable(i) && outcomes[k].outcome != Outcome::Done;
        }
        arrange();
    }

    const Plan &plan;
    Preview preview;
    QVector<bool> ticked;
    QVector<Status> outcome;
    QVector<bool> applied;
    QVector<int> shown;
    bool problemsOnly = false;
    bool anyApplied = false;
};

FenwaPlanDialog::FenwaPlanDialog(QWidget *parent, FenwaSDK *sdk, FenwaDeviceModel *model, const Plan &plan,
                                 const Preview &preview, bool restore)
    : OrbDialog(parent), sdk(sdk), model(model), plan(plan), rows(new FenwaPlanModel(this, this->plan, preview)),
      table(new QTableView(this)), details(new QPlainTextEdit(this)),
      problemsOnly(new QCheckBox(translate("Show problems only"), this)), summary(new QLabel(this)),
      written(new QLabel(this)), applyButton(new QPushButton(translate("Apply"), this)),
      saveButton(new QPushButton(translate("Save result..."), this)), restore(restore)
{
    setWindowTitle(restore ? translate("Restore onto replacement...") : translate("Site plan"));
    auto *close = new QPushButton(translate("Close"), this);
    applyButton->setDefault(true);
    auto *buttons = new QHBoxLayout;
    buttons->addWidget(problemsOnly);
    buttons->addStretch();
    buttons->addWidget(applyButton);
    buttons->addWidget(saveButton);
    buttons->addWidget(close);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(table, 1);
    layout->addWidget(details);
    layout->addWidget(summary);
    layout->addWidget(written);
    layout->addLayout(buttons);
    for (QLabel *label : {summary, written}) {
        label->setWordWrap(true);
        label->setTextInteractionFlags(Qt::TextSelectableByMouse);
    }
    written->hide();
    problemsOnly->setVisible(!restore);

    table->setModel(rows);
    table->setSelectionBehavior(QAbstractItemView::SelectRows);
    table->setSelectionMode(QAbstractItemView::SingleSelection);
    table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table->setWordWrap(false);
    table->setTextElideMode(Qt::ElideRight);
    table->verticalHeader()->hide();
    // One line a terminal: a thousand rows scroll as one list.
    table->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table->verticalHeader()->setDefaultSectionSize(table->fontMetrics().height() + 6);
    const QFontMetrics fm = table->fontMetrics();
    table->setColumnWidth(FenwaPlanModel::TickColumn, 28);
    table->setColumnWidth(FenwaPlanModel::LineColumn, fm.horizontalAdvance(QStringLiteral("000000")) + 24);
    table->setColumnWidth(FenwaPlanModel::MacColumn, fm.horizontalAdvance(QStringLiteral("02:fe:00:00:00:00")) + 16);
    table->setColumnWidth(FenwaPlanModel::NameColumn, fm.horizontalAdvance(QLatin1Char('M')) * 12);
    table->setColumnWidth(FenwaPlanModel::StatusColumn, fm.horizontalAdvance(QLatin1Char('M')) * 20);
    table->horizontalHeader()->setStretchLastSection(true);
    details->setReadOnly(true);
    details->setMaximumHeight(fm.lineSpacing() * 5 + 12);
    details->setPlaceholderText(translate("Select a row to see its changes and problems"));

    connect(applyButton, &QPushButton::clicked, this, [this] { apply(); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    connect(rows, &QAbstractItemModel::dataChanged, this, [this] { updateButtons(); });
    connect(rows, &QAbstractItemModel::modelReset, this, [this] { updateButtons(); });
    connect(problemsOnly, &QCheckBox::toggled, this, [this](bool on) { setProblemsOnly(on); });
    connect(table->selectionModel(), &QItemSelectionModel::currentRowChanged, this, [this] { showDetails(); });
    connect(saveButton, &QPushButton::clicked, this, [this] {
        const bool workbook = this->plan.form.workbook && !this->plan.siteFile;
        const QString csv = translate("CSV files (*.csv)"), xlsx = translate("Workbooks (*.xlsx)");
        QString filter = workbook ? xlsx : csv;
        QString path = QFileDialog::getSaveFileName(this, translate("Save result..."), suggestedResultPath(),
                                                    workbook ? xlsx + QStringLiteral(";;") + csv
                                                             : csv + QStringLiteral(";;") + xlsx,
                                                    &filter);
        if (path.isEmpty())
            return;
        if (QFileInfo(path).suffix().isEmpty())
            path += filter == xlsx ? QStringLiteral(".xlsx") : QStringLiteral(".csv");
        QString error;
        if (!saveResult(path, &error)) {
            QMessageBox::warning(this, windowTitle(), error);
            return;
        }
        written->setText(translate("Result written to %1").arg(QDir::toNativeSeparators(path)));
        written->show();
    });
    // The preview names records of the table; a search while the dialog is
    // open must not free them under it.
    for (const Item &item : preview.items)
        if (item.device)
            item.device->addRef();
    for (FenwaDevice *d : preview.notInPlan)
        d->addRef();
    updateButtons();
    resize(1000, 640);
}

FenwaPlanDialog::~FenwaPlanDialog()
{
    for (const Item &item : rows->preview.items)
        if (item.device)
            item.device->release();
    for (FenwaDevice *d : rows->preview.notInPlan)
        d->release();
}

int FenwaPlanDialog::rowCount() const
{
    return rows->preview.items.size();
}

bool FenwaPlanDialog::isTicked(int row) const
{
    return rows->ticked.value(row);
}

void FenwaPlanDialog::setTicked(int row, bool ticked)
{
    const int at = rows->shownRowOf(row);
    if (at >= 0)
        rows->setData(rows->index(at, FenwaPlanModel::TickColumn), ticked ? Qt::Checked : Qt::Unchecked,
                      Qt::CheckStateRole);
    else if (rows->sendable(row))
        rows->ticked[row] = ticked;
    updateButtons();
}

bool FenwaPlanDialog::canApply() const
{
    return applyButton->isEnabled();
}

Status FenwaPlanDialog::status(int row) const
{
    return rows->status(row);
}

QString FenwaPlanDialog::statusText(int row) const
{
    return FenwaPlan::statusText(rows->status(row));
}

QList<int> FenwaPlanDialog::shownRows() const
{
    return rows->shown.toList();
}

void FenwaPlanDialog::setProblemsOnly(bool only)
{
    if (problemsOnly->isChecked() != only)
        problemsOnly->setChecked(only); // comes back here through toggled
    rows->problemsOnly = only;
    rows->arrange();
}

QString FenwaPlanDialog::detailsText(int row) const
{
    return rows->details(row);
}

void FenwaPlanDialog::select(int row)
{
    const int at = rows->shownRowOf(row);
    if (at >= 0)
        table->setCurrentIndex(rows->index(at, FenwaPlanModel::NameColumn));
}

void FenwaPlanDialog::showDetails()
{
    const int i = rows->item(table->currentIndex().row());
    details->setPlainText(i >= 0 ? rows->details(i) : QString());
}

QString FenwaPlanDialog::summaryText() const
{
    // Counted by outcome; after an apply, all that was not sent is "left out".
    QMap<int, int> count;
    for (int i = 0; i < rows->preview.items.size(); ++i) {
        Outcome o = rows->status(i).outcome;
        if (rows->anyApplied && (o == Outcome::Refused || o == Outcome::Doubtful || o == Outcome::NotFound))
            o = Outcome::LeftOut;
        ++count[int(o)];
    }
    const struct {
        Outcome outcome;
        QString word;
    } words[] = {{Outcome::Done, translate("done")},
                 {Outcome::Failed, translate("failed")},
                 {Outcome::NotTried, translate("not tried")},
                 {Outcome::Ready, translate("ready")},
                 {Outcome::Refused, translate("with problems")},
                 {Outcome::Doubtful, translate("to check")},
                 {Outcome::NotFound, translate("not found")},
                 {Outcome::LeftOut, translate("left out")},
                 {Outcome::Unchanged, translate("unchanged")}};
    QStringList parts{translate("Terminals in the plan: %1").arg(rows->preview.items.size())};
    for (const auto &w : words)
        if (count.value(int(w.outcome)) > 0 || (rows->anyApplied && (w.outcome == Outcome::Done || w.outcome == Outcome::Failed
                                                                      || w.outcome == Outcome::LeftOut)))
            parts << QStringLiteral("%1: %2").arg(w.word).arg(count.value(int(w.outcome)));
    return parts.join(QStringLiteral(" · "));
}

void FenwaPlanDialog::updateButtons()
{
    bool any = false;
    for (int i = 0; i < rows->ticked.size() && !any; ++i)
        any = rows->ticked[i] && rows->sendable(i);
    applyButton->setEnabled(any);
    saveButton->setEnabled(rows->anyApplied);
    QStringList lines{summaryText()};
    if (!restore && !rows->preview.notInPlan.isEmpty()) {
        QStringList names;
        for (const FenwaDevice *d : rows->preview.notInPlan)
            if (names.size() < 40)
                names << QStringLiteral("%1 (%2)").arg(d->name, d->macText);
        lines << translate("Found but not in the plan: %1").arg(rows->preview.notInPlan.size());
        summary->setToolTip(names.join(QLatin1Char('\n')));
    }
    summary->setText(lines.join(QLatin1Char('\n')));
}

bool FenwaPlanDialog::apply()
{
    QList<FenwaDevice *> devices;
    QList<QList<Step>> list;
    QList<int> sent;
    for (int i = 0; i < rows->preview.items.size(); ++i) {
        if (!rows->ticked[i] || !rows->sendable(i))
            continue;
        devices << rows->preview.items[i].device;
        list << steps(rows->preview.items[i]);
        sent << i;
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
    QList<Status> outcomes;
    for (int k = 0; k < sent.size(); ++k)
        outcomes << batch.outcome(k);
    rows->settleApply(sent, outcomes);
    details->clear();
    updateButtons();
    return true;
}

QString FenwaPlanDialog::suggestedResultPath() const
{
    const QFileInfo source(plan.path);
    const QString folder = plan.path.isEmpty() ? QDir::homePath() : source.absolutePath();
    QString base = plan.path.isEmpty() ? QStringLiteral("site") : source.completeBaseName();
    const QString tail = QStringLiteral("-result");
    if (base.endsWith(tail))
        base.chop(tail.size());
    const bool workbook = plan.form.workbook && !plan.siteFile;
    return QDir(folder).filePath(base + tail + (workbook ? QStringLiteral(".xlsx") : QStringLiteral(".csv")));
}

bool FenwaPlanDialog::saveResult(const QString &path, QString *error) const
{
    QStringList all;
    for (int r = 0; r < plan.rows.size(); ++r)
        all << QString();
    for (int i = 0; i < rows->preview.items.size(); ++i)
        all[rows->preview.items[i].row] = FenwaPlan::statusText(rows->status(i));
    const FenwaSheet::Form form =
        FenwaSheet::formFor(path, plan.siteFile || plan.form.workbook ? FenwaSheet::Form() : plan.form);
    QByteArray bytes;
    return resultSheet(plan, all, form, &bytes, error) && FenwaSheet::writeFile(path, bytes, true, error);
}
