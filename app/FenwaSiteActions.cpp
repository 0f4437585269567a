// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSiteActions.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"
#include "OrbUtils/widgets/OrbProgressDialog.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "link/FenwaAddressProbe.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "settings/FenwaPlanDialog.h"
#include "site/FenwaExport.h"
#include "site/FenwaPlanCheck.h"
#include "site/FenwaSheet.h"
#include "site/FenwaReport.h"
#include "site/pdf/FenwaReportPdf.h"
#include "settings/OrbNetworkDialog.h"
#include "OrbUtils/OrbConfigure.h"
#include "table/FenwaDeviceModel.h"

#include <QDateTime>
#include <QDialog>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>

using namespace FenwaPlan;

namespace {
// The segment as the workbench reaches it: each read and probe under its
// dialog, which the operator may close to stop it.
class GuiSegment : public Segment
{
public:
    GuiSegment(QWidget *window, FenwaSDK *sdk) : window(window), sdk(sdk) {}
    bool read(const QList<FenwaDevice *> &devices, QVector<Reading> *readings, QStringList *why) override
    {
        FenwaSettingsReadDialog dialog(window, sdk, *readings);
        dialog.setDevices(devices);
        const bool finished = dialog.runQuietly();
        for (int i = 0; i < devices.size(); ++i) {
            (*readings)[i] = dialog.read(i);
            const FenwaBatchResult &r = dialog.results().at(i);
            *why << (r.accepted ? QString() : r.detail);
        }
        return finished;
    }
    bool probe(const QStringList &addresses, QList<FenwaTerminal::AddressHolder> *answers) override
    {
        FenwaPlanProbeDialog dialog(window, sdk, addresses);
        if (!dialog.runProbe())
            return false;
        *answers = dialog.answers();
        return true;
    }

private:
    QWidget *window;
    FenwaSDK *sdk;
};

// The file name asked for, with the extension of the filter chosen when it
// has none.
QString withSuffix(const QString &path, const QString &filter, const QString &xlsxFilter)
{
    if (path.isEmpty() || !QFileInfo(path).suffix().isEmpty())
        return path;
    return path + (filter == xlsxFilter ? QStringLiteral(".xlsx") : QStringLiteral(".csv"));
}
} // namespace

FenwaSiteActions::FenwaSiteActions(QWidget *window, FenwaSDK *sdk, FenwaDeviceModel *model)
    : QObject(window), window(window), sdk(sdk), model(model), siteMenu(new QMenu(window))
{
    siteMenu->addAction(translate("Export..."), this, &FenwaSiteActions::askExport);
    siteMenu->addAction(translate("Backup..."), this, &FenwaSiteActions::askBackup);
    siteMenu->addAction(translate("Open plan..."), this, &FenwaSiteActions::askPlan);
    siteMenu->addAction(translate("Restore onto replacement..."), this, &FenwaSiteActions::askRestore);
    siteMenu->addSeparator();
    siteMenu->addAction(translate("Report..."), this, &FenwaSiteActions::askReport);
}

FenwaPlanDialog *FenwaSiteActions::planDialog() const
{
    return dialog;
}

void FenwaSiteActions::tell(const QString &text)
{
    if (!toast)
        toast = new OrbToast(window);
    toast->showText(window, text, OrbToast::Top | OrbToast::HCenter, 3000);
}

bool FenwaSiteActions::exportTo(const QString &path, QString *error)
{
    QByteArray sheet;
    return FenwaSheet::bytes(FenwaExport::searchSheet(model->allDevices()), FenwaSheet::formFor(path), &sheet, error)
           && FenwaSheet::writeFile(path, sheet, false, error);
}

int FenwaSiteActions::backupTo(const QString &path, QString *error, bool withPasswords, QStringList *shared)
{
    const QList<FenwaDevice *> checked = model->checkedDevices();
    // As every page: the ticked rows, else every row the filter shows.
    const QList<FenwaDevice *> targets = checked.isEmpty() ? model->shownDevices() : checked;
    if (targets.isEmpty()) {
        *error = model->allDevices().isEmpty() ? translate("No terminal in the table: search first")
                                               : translate("No terminal shown: clear the filter");
        return -1;
    }
    Reading both;
    both.wantSip = both.wantRtp = true;
    FenwaSettingsReadDialog read(window, sdk, QVector<Reading>(targets.size(), both));
    read.setWindowTitle(translate("Backup"));
    read.setDevices(targets);
    read.runBatch(model, window, true);
    QList<SiteTerminal> terminals;
    for (int i = 0; i < targets.size(); ++i)
        if (read.results().at(i).accepted)
            terminals << SiteTerminal{targets[i], read.read(i).sip, read.read(i).rtp};
    if (terminals.isEmpty()) {
        *error = translate("No terminal answered: nothing was written");
        return -1;
    }
    const QByteArray file = siteFile(terminals, QDateTime::currentDateTimeUtc().toString(Qt::ISODate), withPasswords);
    if (!FenwaSheet::writeFile(path, file, true, error))
        return -1;
    if (shared)
        *shared = sharedMacs(terminals);
    ORB_LOG("backup of %d terminals written\n", int(terminals.size()));
    return terminals.size();
}

bool FenwaSiteActions::openPlan(const QString &path, QString *error)
{
    Plan plan;
    FenwaPlanReadDialog read(window, path);
    if (!read.readPlan(&plan, error))
        return false;
    return previewPlan(plan);
}

bool FenwaSiteActions::previewPlan(const Plan &plan, bool restore)
{
    GuiSegment segment(window, sdk);
    Check check;
    const CheckResult result =
        FenwaPlan::check(plan, model->allDevices(), thisPcAddresses(sdk->currentAdapter()), &segment, true, &check);
    if (result == CheckResult::ProbeFailed)
        tell(translate("The addresses could not be checked: nothing was sent"));
    if (result != CheckResult::Done)
        return false;
    if (dialog)
        dialog->deleteLater();
    dialog = new FenwaPlanDialog(window, sdk, model, plan, check.preview, restore);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->moveToCenter(window);
    dialog->open();
    return true;
}

namespace {
// Writes a report's PDF on its job thread.
class ReportWriter : public OrbProgressDialog
{
public:
    ReportWriter(QWidget *parent, FenwaReport::PdfJob job, QString path)
        : OrbProgressDialog(parent), job(std::move(job)), path(std::move(path))
    {
        setWindowTitle(translate("Writing the report"));
        resize(320, 100);
    }
    ~ReportWriter() override { stopJob(); }
    void run() override
    {
        written = FenwaReportPdf::write(job, path, &why);
        finish();
    }
    const FenwaReport::PdfJob job;
    const QString path;
    bool written = false;
    QString why = translate("stopped");
};
} // namespace

bool FenwaSiteActions::reportTo(const QString &path, QString *error)
{
    const QList<FenwaDevice *> rows = model->allDevices();
    if (rows.isEmpty()) {
        *error = translate("No terminal in the table: search first");
        return false;
    }
    const auto isOffline = [this](const FenwaDevice *d) {
        const FenwaLiveList::Row *row = model->live().rowOf(d);
        return row && !row->online;
    };
    QList<FenwaDevice *> answering;
    for (FenwaDevice *d : rows)
        if (!isOffline(d))
            answering << d;
    // The last results before the read adds its own.
    QHash<const FenwaDevice *, QString> results;
    for (const FenwaDevice *d : rows)
        results.insert(d, model->lastResult(d));
    Reading both;
    both.wantSip = both.wantRtp = true;
    FenwaSettingsReadDialog read(window, sdk, QVector<Reading>(answering.size(), both));
    read.setWindowTitle(translate("Reading the terminals for the report"));
    read.setDevices(answering);
    if (!answering.isEmpty())
        read.runQuietly();
    FenwaReport::Data data;
    OrbConfigure store;
    data.siteName = store.siteName();
    data.author = store.reportAuthor();
    data.made = QDateTime::currentDateTime();
    data.adapter = sdk->currentAdapter() ? OrbNetworkDialog::itemText(*sdk->currentAdapter()) : QString();
    data.lastBatch = model->lastBatch();
    QList<FenwaReport::Source> sources;
    for (FenwaDevice *d : rows) {
        FenwaReport::Source s;
        s.device = d;
        s.offline = isOffline(d);
        const int at = answering.indexOf(d);
        if (at >= 0 && read.results().value(at).accepted) {
            s.sip = read.read(at).sip;
            s.rtp = read.read(at).rtp;
        } else {
            ++data.settingsUnread;
        }
        s.lastResult = results.value(d);
        s.status = model->statusText(d);
        sources << s;
    }
    data.terminals = FenwaReport::terminalsOf(sources);
    if (path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) || path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive))
        return FenwaSheet::writeFile(path, FenwaReport::html(data, FenwaReport::Form::Browser).toUtf8(), false, error);
    // A thousand terminals take seconds to lay out: on a job thread, under
    // a bar, so that the window stays alive.
    ReportWriter writer(window, FenwaReport::pdfJob(data), path);
    writer.moveToCenter(window);
    writer.startJob();
    writer.exec();
    if (writer.written)
        return true;
    *error = translate("Cannot write %1: %2").arg(path, writer.why);
    return false;
}

void FenwaSiteActions::askReport()
{
    const QString title = translate("Report...");
    if (model->allDevices().isEmpty()) {
        QMessageBox::information(window, title, translate("No terminal in the table: search first"));
        return;
    }
    // The site and the author are asked with what was remembered filled in:
    // one click on the same site, a new name on the next.
    OrbConfigure store;
    QDialog ask(window);
    ask.setWindowTitle(title);
    auto *site = new QLineEdit(store.siteName(), &ask);
    auto *author = new QLineEdit(store.reportAuthor().isEmpty() ? FenwaReport::defaultAuthor() : store.reportAuthor(),
                                 &ask);
    site->setMinimumWidth(260);
    auto *form = new QFormLayout(&ask);
    form->addRow(translate("Site"), site);
    form->addRow(translate("Made by"), author);
    auto *buttons = new QDialogButtonBox(&ask);
    buttons->addButton(translate("Save..."), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(translate("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, &ask, [&] {
        if (site->text().trimmed().isEmpty())
            tell(translate("Please name the site"));
        else
            ask.accept();
    });
    connect(buttons, &QDialogButtonBox::rejected, &ask, &QDialog::reject);
    form->addRow(buttons);
    if (ask.exec() != QDialog::Accepted)
        return;
    store.setSiteName(site->text().trimmed());
    store.setReportAuthor(author->text().trimmed());
    store.sync();
    QString path = QFileDialog::getSaveFileName(window, title, site->text().trimmed() + QStringLiteral(".pdf"),
                                                translate("PDF files (*.pdf);;HTML files (*.html)"));
    if (path.isEmpty())
        return;
    if (QFileInfo(path).suffix().isEmpty())
        path += QStringLiteral(".pdf");
    QString error;
    if (reportTo(path, &error))
        tell(translate("Report of %1 terminal written to %2", "Report of %1 terminals written to %2",
                       model->allDevices().size())
                 .arg(model->allDevices().size())
                 .arg(path));
    else
        QMessageBox::warning(window, title, error);
}

void FenwaSiteActions::askExport()
{
    const QString csv = translate("CSV files (*.csv)"), xlsx = translate("Workbooks (*.xlsx)");
    QString filter = csv;
    const QString path = withSuffix(QFileDialog::getSaveFileName(window, translate("Export..."),
                                                                 QStringLiteral("terminals.csv"),
                                                                 csv + QStringLiteral(";;") + xlsx, &filter),
                                    filter, xlsx);
    QString error;
    if (path.isEmpty())
        return;
    if (exportTo(path, &error))
        tell(translate("%1 terminal written to %2", "%1 terminals written to %2", model->allDevices().size())
                 .arg(model->allDevices().size())
                 .arg(path));
    else
        QMessageBox::warning(window, translate("Export..."), error);
}

void FenwaSiteActions::askBackup()
{
    const QString title = translate("Backup...");
    const QString path = QFileDialog::getSaveFileName(window, title, QStringLiteral("site.json"),
                                                      translate("Site files (*.json)"));
    if (path.isEmpty())
        return;
    // What a replacement needs to work at once, and what anyone who gets
    // hold of the file may read.
    QMessageBox ask(QMessageBox::Question, title,
                    translate("A backup holds the terminals' SIP passwords in clear (and the web password's digest); only you may read the file. Keep the passwords in it?"),
                    QMessageBox::NoButton, window);
    QPushButton *keep = ask.addButton(translate("Keep the passwords"), QMessageBox::AcceptRole);
    ask.addButton(translate("Leave the passwords out"), QMessageBox::RejectRole);
    QPushButton *cancel = ask.addButton(translate("Cancel"), QMessageBox::DestructiveRole);
    ask.setDefaultButton(keep);
    ask.exec();
    if (ask.clickedButton() == cancel)
        return;
    QString error;
    QStringList shared;
    const int written = backupTo(path, &error, ask.clickedButton() == keep, &shared);
    if (written <= 0) {
        QMessageBox::warning(window, title, error);
        return;
    }
    tell(translate("%1 terminal written to %2", "%1 terminals written to %2", written).arg(written).arg(path));
    if (!shared.isEmpty())
        QMessageBox::information(window, title,
                                 translate("These terminals share a MAC; the file tells them apart by their UID, and each can be restored onto a replacement:")
                                     + QStringLiteral("\n\n") + shared.join(QLatin1Char('\n')));
}

void FenwaSiteActions::askPlan()
{
    const QString path = QFileDialog::getOpenFileName(window, translate("Open plan..."), QString(),
                                                      translate("Plans (*.csv *.xlsx *.json)"));
    QString error;
    if (!path.isEmpty() && !openPlan(path, &error) && !error.isEmpty())
        QMessageBox::warning(window, translate("Open plan..."), error);
}

void FenwaSiteActions::askRestore()
{
    const QString title = translate("Restore onto replacement...");
    const QList<FenwaDevice *> checked = model->checkedDevices();
    if (checked.size() != 1) {
        QMessageBox::information(window, title, translate("Tick the one terminal that replaces the old one first."));
        return;
    }
    const QString path = QFileDialog::getOpenFileName(window, title, QString(), translate("Site files (*.json)"));
    Plan plan;
    QString error;
    if (path.isEmpty())
        return;
    if (!readFile(path, &plan, &error) || !plan.siteFile) {
        QMessageBox::warning(window, title, error.isEmpty() ? translate("%1 is not a site file").arg(path) : error);
        return;
    }
    // Terminals that shared a MAC are told apart by their UID.
    QStringList choices;
    for (const Row &row : plan.rows)
        choices << (row.sameMac.isEmpty() ? QStringLiteral("%1 (%2)").arg(row.values.value(Name), row.mac)
                                          : QStringLiteral("%1 (%2, UID %3)").arg(row.values.value(Name), row.mac, row.uid));
    bool ok = false;
    const QString choice = QInputDialog::getItem(window, title, translate("The terminal it replaces:"), choices, 0,
                                                 false, &ok);
    if (!ok)
        return;
    const int index = choices.indexOf(choice);
    const QString from = plan.rows.at(index).mac;
    const bool takeMac = QMessageBox::question(window, title,
                                               translate("Give the replacement the old MAC %1 as well?").arg(from),
                                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                         == QMessageBox::Yes;
    if (!restoreRow(&plan, index, checked.first()->macText, takeMac, &error)) {
        QMessageBox::warning(window, title, error);
        return;
    }
    previewPlan(plan, true);
}
