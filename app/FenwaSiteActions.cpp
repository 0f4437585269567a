// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaSiteActions.h"

#include "OrbUtils/OrbLog.h"
#include "OrbUtils/OrbTranslate.h"
#include "OrbUtils/widgets/OrbToast.h"
#include "link/FenwaAddressProbe.h"
#include "link/FenwaDevice.h"
#include "link/FenwaSDK.h"
#include "settings/FenwaPlanDialog.h"
#include "site/FenwaExport.h"
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
bool writeFile(const QString &path, const QByteArray &bytes, QString *error)
{
    // Whole or not at all: a sheet cut short by a full disk reads as a
    // smaller site.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    *error = translate("Cannot write %1: %2").arg(path, file.errorString());
    return false;
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
    QByteArray sheet = FenwaExport::searchCsvHeader().toUtf8() + "\r\n";
    for (const FenwaDevice *d : model->allDevices())
        sheet += FenwaExport::searchCsvLine(d).toUtf8() + "\r\n";
    return writeFile(path, sheet, error);
}

int FenwaSiteActions::backupTo(const QString &path, QString *error)
{
    const QList<FenwaDevice *> checked = model->checkedDevices();
    // As every page: the ticked rows, else every row the filter shows.
    const QList<FenwaDevice *> targets = checked.isEmpty() ? model->shownDevices() : checked;
    if (targets.isEmpty()) {
        *error = model->allDevices().isEmpty() ? translate("No terminal in the table: search first")
                                               : translate("No terminal shown: clear the filter");
        return -1;
    }
    FenwaSettingsReadDialog read(window, sdk, true, true);
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
    if (!writeFile(path, siteFile(terminals, QDateTime::currentDateTimeUtc().toString(Qt::ISODate)), error))
        return -1;
    ORB_LOG("backup of %d terminals written\n", int(terminals.size()));
    return terminals.size();
}

bool FenwaSiteActions::openPlan(const QString &path, QString *error)
{
    Plan plan;
    if (!readFile(path, &plan, error))
        return false;
    return previewPlan(plan);
}

bool FenwaSiteActions::previewPlan(const Plan &plan)
{
    // The current SIP accounts and channels, read only for the terminals
    // whose row sets any of them.
    QList<FenwaDevice *> targets;
    QList<Found> found;
    for (FenwaDevice *d : model->allDevices()) {
        found << Found{d, currentValues(d)};
        for (const Row &row : plan.rows)
            if (rowIsFor(row, d) && (needsSip(row) || needsRtp(row)) && !targets.contains(d))
                targets << d;
    }
    if (!targets.isEmpty()) {
        // Both in one batch: a row that sets one of them is rare enough.
        FenwaSettingsReadDialog read(window, sdk, true, true);
        read.setDevices(targets);
        QString why;
        read.runRead(&why);
        for (int i = 0; i < targets.size(); ++i) {
            const Reading &r = read.read(i);
            for (Found &f : found)
                if (f.device == targets[i])
                    f.current = currentValues(f.device, r.sipRead ? r.sip : nullptr, r.rtpRead ? r.rtp : nullptr);
        }
    }
    // This PC's addresses, then whatever answers a probe for the addresses
    // the plan hands out anew.
    const QList<FenwaTerminal::AddressHolder> held =
        FenwaTerminal::addressHolders({}, thisPcAddresses(sdk->currentAdapter()));
    Preview shown = preview(plan, found, held);
    const QStringList fresh = newAddresses(shown);
    if (!fresh.isEmpty()) {
        FenwaPlanProbeDialog probe(window, sdk, fresh);
        if (!probe.runProbe()) {
            tell(translate("The addresses could not be checked: nothing was sent"));
            return false;
        }
        shown = preview(plan, found, held + probe.answers());
    }
    if (dialog)
        dialog->deleteLater();
    dialog = new FenwaPlanDialog(window, sdk, model, plan, shown);
    dialog->setAttribute(Qt::WA_DeleteOnClose);
    dialog->moveToCenter(window);
    dialog->open();
    return true;
}

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
    FenwaSettingsReadDialog read(window, sdk, true, true);
    read.setWindowTitle(translate("Reading the terminals for the report"));
    read.setDevices(answering);
    if (!answering.isEmpty()) {
        QString why;
        read.runRead(&why);
    }
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
        const FenwaLiveList::Row *row = model->live().rowOf(d);
        const int shown = model->shownDevices().indexOf(d);
        s.status = shown >= 0 ? model->index(shown, FenwaDeviceModel::StatusColumn).data().toString()
                   : row && !row->online ? translate("offline since %1").arg(row->offlineSince.toString(QStringLiteral("HH:mm:ss")))
                                         : QString();
        sources << s;
    }
    data.terminals = FenwaReport::terminalsOf(sources);
    if (path.endsWith(QLatin1String(".html"), Qt::CaseInsensitive) || path.endsWith(QLatin1String(".htm"), Qt::CaseInsensitive))
        return writeFile(path, FenwaReport::html(data, FenwaReport::Form::Browser).toUtf8(), error);
    QString why;
    if (FenwaReportPdf::write(FenwaReport::pdfJob(data), path, &why))
        return true;
    *error = translate("Cannot write %1: %2").arg(path, why);
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
        tell(translate("Report of %1 terminals written to %2").arg(model->allDevices().size()).arg(path));
    else
        QMessageBox::warning(window, title, error);
}

void FenwaSiteActions::askExport()
{
    const QString path = QFileDialog::getSaveFileName(window, translate("Export..."), QStringLiteral("terminals.csv"),
                                                      translate("CSV files (*.csv)"));
    QString error;
    if (path.isEmpty())
        return;
    if (exportTo(path, &error))
        tell(translate("%1 terminals written to %2").arg(model->allDevices().size()).arg(path));
    else
        QMessageBox::warning(window, translate("Export..."), error);
}

void FenwaSiteActions::askBackup()
{
    const QString path = QFileDialog::getSaveFileName(window, translate("Backup..."), QStringLiteral("site.json"),
                                                      translate("Site files (*.json)"));
    QString error;
    if (path.isEmpty())
        return;
    const int written = backupTo(path, &error);
    if (written > 0)
        tell(translate("%1 terminals written to %2").arg(written).arg(path));
    else
        QMessageBox::warning(window, translate("Backup..."), error);
}

void FenwaSiteActions::askPlan()
{
    const QString path = QFileDialog::getOpenFileName(window, translate("Open plan..."), QString(),
                                                      translate("Plans (*.csv *.json)"));
    QString error;
    if (!path.isEmpty() && !openPlan(path, &error))
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
    QStringList choices;
    for (const Row &row : plan.rows)
        choices << QStringLiteral("%1 (%2)").arg(row.values.value(Name), row.mac);
    bool ok = false;
    const QString choice = QInputDialog::getItem(window, title, translate("The terminal it replaces:"), choices, 0,
                                                 false, &ok);
    if (!ok)
        return;
    const QString from = plan.rows.at(choices.indexOf(choice)).mac;
    const bool takeMac = QMessageBox::question(window, title,
                                               translate("Give the replacement the old MAC %1 as well?").arg(from),
                                               QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
                         == QMessageBox::Yes;
    if (!restoreOnto(&plan, from, checked.first()->macText, takeMac, &error)) {
        QMessageBox::warning(window, title, error);
        return;
    }
    previewPlan(plan);
}
