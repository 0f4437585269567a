// SPDX-License-Identifier: GPL-3.0-or-later
#include "FenwaReport.h"

#include "OrbUtils/OrbTranslate.h"
#include "link/FenwaDevice.h"
#include "link/FenwaTerminal.h"

#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QMap>
#include <algorithm>
#include <pwd.h>
#include <unistd.h>

namespace FenwaReport {

namespace {

// Dates as the report's language writes them.
QLocale reportLocale()
{
    return currentLanguage().startsWith(QLatin1String("cn")) ? QLocale(QLocale::Chinese, QLocale::China) : QLocale();
}

QString esc(const QString &text)
{
    return text.toHtmlEscaped();
}

// Escaped lines of one cell.
QString lines(const QStringList &texts)
{
    QStringList out;
    for (const QString &t : texts)
        out << esc(t);
    return out.join(QStringLiteral("<br/>"));
}

QString volumesOf(const FenwaDevice *d)
{
    const QString mic = d->extra(QStringLiteral("micVolume")), out = d->extra(QStringLiteral("outVolume"));
    if (mic.isEmpty() && out.isEmpty())
        return QString();
    QString text = QStringLiteral("%1 / %2").arg(mic, out);
    if (d->autoMute() != 0)
        text += translate(", auto mute");
    return text;
}

QList<Count> countBy(const Data &data, QString Terminal::*field)
{
    QHash<QString, int> counts;
    QStringList order;
    for (const Terminal &t : data.terminals) {
        const QString key = (t.*field).isEmpty() ? translate("unknown") : t.*field;
        if (!counts.contains(key))
            order << key;
        ++counts[key];
    }
    QList<Count> out;
    for (const QString &key : order)
        out << Count{key, counts.value(key)};
    std::stable_sort(out.begin(), out.end(), [](const Count &a, const Count &b) {
        return a.count != b.count ? a.count > b.count : a.label < b.label;
    });
    return out;
}

// The PDF writer sets the fonts itself (Latin, then Chinese) and pads the
// cells by the table's attribute; a browser gets them named and padded.
const char kBrowserCss[] = "body{font-family:'DejaVu Sans','Noto Sans CJK SC','Noto Sans CJK',sans-serif}"
                           "table.grid th,table.grid td{padding:2pt 4pt}table.meta td{padding:1pt 10pt 1pt 0}";
const char kCss[] = "body{font-size:10pt;color:#1a1a1a}"
                    "h1{font-size:18pt;margin:0 0 6pt 0}h2{font-size:13pt;margin:14pt 0 4pt 0}"
                    "h3{font-size:10.5pt;margin:8pt 0 2pt 0}"
                    "table.grid{border-collapse:collapse}"
                    "table.grid th{background:#e4ebf2;text-align:left}"
                    "table.grid th,table.grid td{border:1px solid #9aa7b4;vertical-align:top;font-size:7.5pt}"
                    "tr.offline td{color:#888888}.note{color:#555555}";

QString chartCell(const QString &title, const QList<Count> &counts, const QString &image, Form form)
{
    QString cell = QStringLiteral("<td valign=\"top\" width=\"50%\"><h3>%1</h3>").arg(esc(title));
    if (counts.isEmpty())
        return cell + QStringLiteral("<p class=\"note\">%1</p></td>").arg(esc(translate("none")));
    if (form == Form::Browser)
        return cell + svgChart(counts) + QStringLiteral("</td>");
    // The PDF writer draws it at this size in points.
    return cell + QStringLiteral("<p><img src=\"%1\" width=\"240\" height=\"%2\"/></p></td>")
                      .arg(image)
                      .arg(16 * counts.size() + 8);
}

} // namespace

QString defaultAuthor()
{
    const struct passwd *entry = getpwuid(getuid());
    if (entry == nullptr)
        return QString();
    const QString full = QString::fromLocal8Bit(entry->pw_gecos ? entry->pw_gecos : "").section(QLatin1Char(','), 0, 0);
    return full.trimmed().isEmpty() ? QString::fromLocal8Bit(entry->pw_name) : full.trimmed();
}

QList<Terminal> terminalsOf(const QList<Source> &sources)
{
    QList<FenwaDevice *> devices;
    for (const Source &s : sources)
        devices << const_cast<FenwaDevice *>(s.device);
    const QHash<const FenwaDevice *, FenwaTerminal::Conflicts> conflicts = FenwaTerminal::conflictsOf(devices);
    QList<Terminal> out;
    for (const Source &s : sources) {
        const FenwaDevice *d = s.device;
        Terminal t;
        t.name = d->name;
        t.mac = d->macText;
        t.type = d->type;
        t.ip = d->ip;
        t.netmask = d->netmask;
        t.gateway = d->gateway;
        t.ipMode = d->ipMode;
        t.version = d->version;
        t.volumes = volumesOf(d);
        t.offline = s.offline;
        t.status = s.status;
        t.lastResult = s.lastResult;
        t.settingsRead = s.sip && s.rtp;
        if (s.sip) {
            for (int i = 0; i < 2; ++i)
                if (!s.sip[i].account.isEmpty())
                    t.sip << QStringLiteral("%1@%2").arg(s.sip[i].account, s.sip[i].serverHost);
        }
        if (s.rtp) {
            for (int i = 0; i < FENWA_RTP_CHANNELS; ++i)
                if (s.rtp[i].enable && s.rtp[i].isSet())
                    t.rtp << FenwaTerminal::rtpChannelText(s.rtp[i]);
        }
        // One line for each kind, however many share: a site where dozens
        // share one MAC must not grow a list of every pair.
        const FenwaTerminal::Conflicts c = conflicts.value(d);
        QStringList names;
        for (const FenwaDevice *other : c.sameMac)
            names << QStringLiteral("%1 (UID %2)").arg(other->name, other->uid);
        if (!names.isEmpty()) {
            t.conflicts << translate("shares its MAC with %1").arg(names.join(QStringLiteral(", ")));
            t.sharedMac = FenwaTerminal::linkMacText(d);
        }
        names.clear();
        for (const FenwaDevice *other : c.sameIp)
            names << FenwaTerminal::terminalLabel(other);
        if (!names.isEmpty()) {
            t.conflicts << translate("reports the address of %1 too").arg(names.join(QStringLiteral(", ")));
            t.sharedIp = d->ip;
        }
        out << t;
    }
    return out;
}

QList<Count> byType(const Data &data)
{
    return countBy(data, &Terminal::type);
}

QList<Count> byVersion(const Data &data)
{
    return countBy(data, &Terminal::version);
}

QString svgChart(const QList<Count> &counts)
{
    int most = 1;
    for (const Count &c : counts)
        most = std::max(most, c.count);
    const int row = 16, labelWidth = 90, barWidth = 120, width = labelWidth + barWidth + 40;
    QString svg = QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\" "
                                 "font-size=\"9\" font-family=\"DejaVu Sans, Noto Sans CJK SC, sans-serif\">")
                      .arg(width)
                      .arg(row * counts.size() + 4);
    for (int i = 0; i < counts.size(); ++i) {
        const int y = i * row + 2, bar = std::max(1, barWidth * counts[i].count / most);
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>"
                              "<rect x=\"%4\" y=\"%5\" width=\"%6\" height=\"%7\" fill=\"#4f7fb0\"/>"
                              "<text x=\"%8\" y=\"%2\">%9</text>")
                   .arg(labelWidth - 6)
                   .arg(y + 11)
                   .arg(esc(counts[i].label))
                   .arg(labelWidth)
                   .arg(y + 2)
                   .arg(bar)
                   .arg(row - 4)
                   .arg(labelWidth + bar + 4)
                   .arg(counts[i].count);
    }
    return svg + QStringLiteral("</svg>");
}

QString html(const Data &data, Form form)
{
    const QLocale locale = reportLocale();
    int offline = 0;
    QStringList offlineLines, batchLines;
    // Each shared MAC or address once, with every terminal on it.
    QMap<QString, QStringList> onMac, onIp;
    for (const Terminal &t : data.terminals) {
        const QString label = QStringLiteral("%1 (%2)").arg(t.name, t.mac);
        if (t.offline) {
            ++offline;
            offlineLines << QStringLiteral("%1: %2").arg(label, t.status);
        }
        if (!t.sharedMac.isEmpty())
            onMac[t.sharedMac] << t.name;
        if (!t.sharedIp.isEmpty())
            onIp[t.sharedIp] << label;
        if (!t.lastResult.isEmpty())
            batchLines << QStringLiteral("%1: %2").arg(label, t.lastResult);
    }
    QStringList conflictLines;
    for (auto it = onMac.constBegin(); it != onMac.constEnd(); ++it)
        conflictLines << translate("MAC %1 is shared by %2: a command to one reaches all")
                             .arg(it.key(), it.value().join(QStringLiteral(", ")));
    for (auto it = onIp.constBegin(); it != onIp.constEnd(); ++it)
        conflictLines << translate("Address %1 is reported by %2").arg(it.key(), it.value().join(QStringLiteral(", ")));
    const auto list = [](const QStringList &items) {
        if (items.isEmpty())
            return QStringLiteral("<p class=\"note\">%1</p>").arg(esc(translate("none")));
        QString ul = QStringLiteral("<ul>");
        for (const QString &item : items)
            ul += QStringLiteral("<li>%1</li>").arg(esc(item));
        return ul + QStringLiteral("</ul>");
    };

    QString h = QStringLiteral("<!DOCTYPE html><html><head><meta charset=\"utf-8\"/><title>%1</title>"
                               "<style>%2%3</style></head><body>")
                    .arg(esc(translate("Handover report: %1").arg(data.siteName)), QLatin1String(kCss),
                         form == Form::Browser ? QLatin1String(kBrowserCss) : QLatin1String(""));
    h += QStringLiteral("<h1>%1</h1>").arg(esc(translate("Handover report: %1").arg(data.siteName)));
    h += QStringLiteral("<table class=\"meta\" cellpadding=\"1\" cellspacing=\"2\">");
    const QString made = locale.toString(data.made, QLocale::LongFormat);
    const QList<QPair<QString, QString>> meta = {{translate("Site"), data.siteName},
                                                 {translate("Date"), made},
                                                 {translate("Adapter"), data.adapter},
                                                 {translate("Made by"), data.author},
                                                 {translate("Terminals"), QString::number(data.terminals.size())}};
    for (const auto &m : meta)
        h += QStringLiteral("<tr><td width=\"90\"><b>%1</b></td><td>%2</td></tr>").arg(esc(m.first), esc(m.second));
    h += QStringLiteral("</table>");

    h += QStringLiteral("<h2>%1</h2>").arg(esc(translate("Summary")));
    h += QStringLiteral("<p>%1</p>")
             .arg(esc(translate("%1 terminal: %2 answering, %3 offline.", "%1 terminals: %2 answering, %3 offline.",
                                data.terminals.size())
                          .arg(data.terminals.size())
                          .arg(data.terminals.size() - offline)
                          .arg(offline)));
    if (data.settingsUnread > 0)
        h += QStringLiteral("<p class=\"note\">%1</p>")
                 .arg(esc(translate("The SIP accounts and RTP channels of %1 terminal could not be read.",
                                    "The SIP accounts and RTP channels of %1 terminals could not be read.",
                                    data.settingsUnread)
                              .arg(data.settingsUnread)));
    h += QStringLiteral("<table width=\"100%\"><tr>");
    h += chartCell(translate("By type"), byType(data), QStringLiteral("chart:types"), form);
    h += chartCell(translate("By firmware version"), byVersion(data), QStringLiteral("chart:versions"), form);
    h += QStringLiteral("</tr></table>");
    h += QStringLiteral("<h3>%1</h3>").arg(esc(translate("Conflicts"))) + list(conflictLines);
    h += QStringLiteral("<h3>%1</h3>").arg(esc(translate("Offline"))) + list(offlineLines);

    h += QStringLiteral("<h2>%1</h2>").arg(esc(translate("Terminals")));
    // A browser pads the cells by the style sheet, the PDF writer by the
    // attribute (in its pixels, 300 to the inch).
    h += QStringLiteral("<table class=\"grid\" width=\"100%\" border=\"1\" cellspacing=\"0\" cellpadding=\"3\"><thead><tr>");
    // Widths in percent; MACs and addresses are never broken.
    const struct {
        QString head;
        int width;
    } columns[] = {{translate("No."), 4},           {translate("Name"), 12},
                   {translate("MAC"), 12},          {translate("IP address / netmask / gateway"), 11},
                   {translate("Addressing"), 8},    {translate("Version"), 7},
                   {translate("SIP accounts"), 13}, {translate("RTP channels"), 11},
                   {translate("Volume mic / speaker"), 8}, {translate("Status"), 14}};
    for (const auto &c : columns)
        h += QStringLiteral("<th bgcolor=\"#e4ebf2\"%1>%2</th>")
                 .arg(c.width > 0 ? QStringLiteral(" width=\"%1%\"").arg(c.width) : QString(), esc(c.head));
    h += QStringLiteral("</tr></thead><tbody>");
    const QString notRead = translate("not read");
    for (int i = 0; i < data.terminals.size(); ++i) {
        const Terminal &t = data.terminals[i];
        const QString mode = t.ipMode.compare(QLatin1String("dhcp"), Qt::CaseInsensitive) == 0 ? translate("DHCP")
                             : t.ipMode.isEmpty()                                             ? QString()
                                                                                              : translate("static");
        QStringList status;
        if (!t.status.isEmpty())
            status << t.status;
        status << t.conflicts;
        const QString color = t.offline ? QStringLiteral(" style=\"color:#888888\"") : QString();
        h += QStringLiteral("<tr%1%2>").arg(t.offline ? QStringLiteral(" class=\"offline\"") : QString(), color);
        const QStringList cells = {
            QString::number(i + 1),
            esc(t.name),
            esc(t.mac),
            lines({t.ip, t.netmask, t.gateway}),
            esc(mode),
            esc(t.version),
            t.settingsRead ? (t.sip.isEmpty() ? esc(translate("none")) : lines(t.sip)) : esc(notRead),
            t.settingsRead ? (t.rtp.isEmpty() ? esc(translate("none")) : lines(t.rtp)) : esc(notRead),
            esc(t.volumes),
            lines(status)};
        for (int c = 0; c < cells.size(); ++c)
            h += QStringLiteral("<td%1>%2</td>")
                     .arg(c == 2 || c == 3 ? QStringLiteral(" style=\"white-space:nowrap%1\"")
                                                 .arg(t.offline ? QStringLiteral(";color:#888888") : QString())
                                           : color,
                          cells[c]);
        h += QStringLiteral("</tr>");
    }
    h += QStringLiteral("</tbody></table>");

    h += QStringLiteral("<h2>%1</h2>").arg(esc(translate("Last batch")));
    if (data.lastBatch.isEmpty() || batchLines.isEmpty())
        h += QStringLiteral("<p class=\"note\">%1</p>").arg(esc(translate("No batch since the last search.")));
    else
        h += QStringLiteral("<p>%1</p>").arg(esc(data.lastBatch)) + list(batchLines);
    return h + QStringLiteral("</body></html>");
}

PdfJob pdfJob(const Data &data)
{
    PdfJob job;
    job.html = html(data, Form::Pdf);
    job.title = translate("Handover report: %1").arg(data.siteName);
    job.header = QStringLiteral("%1 \u2014 %2").arg(job.title, reportLocale().toString(data.made, QLocale::ShortFormat));
    job.footer = translate("Page %1 of %2");
    job.types = byType(data);
    job.versions = byVersion(data);
    return job;
}

namespace {
QJsonArray countsJson(const QList<Count> &counts)
{
    QJsonArray a;
    for (const Count &c : counts)
        a.append(QJsonArray{c.label, c.count});
    return a;
}

bool countsFrom(const QJsonValue &value, QList<Count> *out)
{
    if (!value.isArray())
        return false;
    for (const QJsonValue &item : value.toArray()) {
        const QJsonArray pair = item.toArray();
        if (pair.size() != 2 || !pair[0].isString() || !pair[1].isDouble() || pair[1].toInt(-1) < 0)
            return false;
        out->append(Count{pair[0].toString(), pair[1].toInt()});
    }
    return true;
}
} // namespace

QByteArray toJson(const PdfJob &job)
{
    QJsonObject o{{QStringLiteral("html"), job.html},     {QStringLiteral("header"), job.header},
                  {QStringLiteral("footer"), job.footer}, {QStringLiteral("title"), job.title},
                  {QStringLiteral("types"), countsJson(job.types)},
                  {QStringLiteral("versions"), countsJson(job.versions)}};
    return QJsonDocument(o).toJson(QJsonDocument::Compact);
}

bool fromJson(const QByteArray &text, PdfJob *job, QString *error)
{
    QJsonParseError parse;
    const QJsonDocument doc = QJsonDocument::fromJson(text, &parse);
    const QJsonObject o = doc.object();
    PdfJob j;
    const bool texts = o.value(QStringLiteral("html")).isString() && o.value(QStringLiteral("header")).isString()
                       && o.value(QStringLiteral("footer")).isString() && o.value(QStringLiteral("title")).isString();
    if (text.size() > PDF_JOB_MAX || !doc.isObject() || !texts
        || !countsFrom(o.value(QStringLiteral("types")), &j.types)
        || !countsFrom(o.value(QStringLiteral("versions")), &j.versions)) {
        *error = QStringLiteral("not a report job");
        return false;
    }
    j.html = o.value(QStringLiteral("html")).toString();
    j.header = o.value(QStringLiteral("header")).toString();
    j.footer = o.value(QStringLiteral("footer")).toString();
    j.title = o.value(QStringLiteral("title")).toString();
    *job = j;
    return true;
}

} // namespace FenwaReport
