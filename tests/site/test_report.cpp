// SPDX-License-Identifier: GPL-3.0-or-later
// The handover report's contents and HTML, without a network or Qt Gui.
#include "link/FenwaDevice.h"
#include "site/FenwaReport.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace FenwaReport;

namespace {

FenwaDevice *terminal(const QString &name, const QString &mac, const QString &ip, const QString &type,
                      const QString &version)
{
    auto *d = new FenwaDevice;
    d->name = name, d->macText = mac, d->ip = ip, d->type = type, d->version = version;
    d->setMacFromText(mac);
    d->uid = QStringLiteral("U-") + name;
    d->netmask = QStringLiteral("255.255.255.0");
    d->gateway = QStringLiteral("192.168.1.1");
    d->ipMode = QStringLiteral("static");
    d->setExtra(QStringLiteral("micVolume"), QStringLiteral("50"));
    d->setExtra(QStringLiteral("outVolume"), QStringLiteral("60"));
    d->setPassword(QStringLiteral("21232f297a57a5a743894a0e4a801fc3")); // the web account's digest
    return d;
}

} // namespace

TEST(Report, RowsHoldAccountsWithoutPasswordsChannelsInUseAndConflicts)
{
    QList<FenwaDevice *> devices{terminal("Hall", "02:fe:00:00:00:01", "192.168.1.100", "VQ40", "2.4.1"),
                                 terminal("Gate", "02:fe:00:00:00:02", "192.168.1.101", "VQT40", "2.5.0"),
                                 terminal("Clone", "02:fe:00:00:00:01", "192.168.1.101", "VQ40", "2.4.1")};
    devices[1]->setExtra(QStringLiteral("autoMute"), QStringLiteral("1"));
    SipSettings sip[2];
    sip[0].account = QStringLiteral("801"), sip[0].serverHost = QStringLiteral("10.0.0.9");
    sip[0].password = QStringLiteral("s3cr3t");
    RtpSettings rtp[FENWA_RTP_CHANNELS];
    rtp[0].enable = 1, rtp[0].rtpIP = QStringLiteral("239.1.1.1"), rtp[0].rtpPort = 6000;
    rtp[1].enable = 0, rtp[1].rtpIP = QStringLiteral("239.1.1.2"), rtp[1].rtpPort = 6002; // set, not in use
    QList<Source> sources;
    for (FenwaDevice *d : devices)
        sources << Source{d, nullptr, nullptr, false, QString(), QString()};
    sources[0].sip = sip, sources[0].rtp = rtp;
    sources[2].offline = true, sources[2].status = QStringLiteral("offline since 10:42:13");
    Data data;
    data.siteName = QStringLiteral("Harbour Hotel");
    data.terminals = terminalsOf(sources);

    const Terminal &hall = data.terminals[0];
    EXPECT_TRUE(hall.settingsRead);
    EXPECT_EQ(hall.sip, QStringList{"801@10.0.0.9"});
    EXPECT_EQ(hall.rtp, QStringList{"239.1.1.1:6000"});
    EXPECT_EQ(hall.volumes, QStringLiteral("50 / 60"));
    EXPECT_EQ(data.terminals[1].volumes, QStringLiteral("50 / 60, auto mute"));
    EXPECT_FALSE(data.terminals[1].settingsRead);
    EXPECT_EQ(hall.conflicts, QStringList{"shares its MAC with Clone (UID U-Clone)"});
    EXPECT_EQ(data.terminals[1].conflicts, QStringList{"reports the address of Clone (02:fe:00:00:00:01) too"});
    EXPECT_EQ(data.terminals[2].conflicts.size(), 2);
    // The summary names each shared MAC and address once.
    const QString summary = html(data, Form::Pdf);
    EXPECT_EQ(summary.count(QLatin1String("MAC 02:fe:00:00:00:01 is shared by Hall, Clone")), 1);
    EXPECT_EQ(summary.count(QLatin1String("Address 192.168.1.101 is reported by Gate (02:fe:00:00:00:02), Clone")), 1);

    const QString page = html(data, Form::Browser);
    EXPECT_FALSE(page.contains(QLatin1String("s3cr3t")) || page.contains(QLatin1String("21232f29")));
    EXPECT_TRUE(page.contains(QLatin1String("not read"))); // Gate's accounts
    EXPECT_TRUE(page.contains(QLatin1String("2 answering, 1 offline")));
    EXPECT_TRUE(page.contains(QLatin1String("Clone (02:fe:00:00:00:01): offline since 10:42:13")));
    for (FenwaDevice *d : devices)
        d->release();
}

TEST(Report, CountsMostFirstThenByName)
{
    Data data;
    for (const char *version : {"2.4.1", "2.5.0", "2.5.0", "", "2.4.0", "2.5.0"}) {
        Terminal t;
        t.type = QStringLiteral("VQ40");
        t.version = QLatin1String(version);
        data.terminals << t;
    }
    QStringList counted;
    for (const Count &c : byVersion(data))
        counted << QStringLiteral("%1=%2").arg(c.label).arg(c.count);
    EXPECT_EQ(counted, QStringList({"2.5.0=3", "2.4.0=1", "2.4.1=1", "unknown=1"}));
    EXPECT_EQ(byType(data).size(), 1);
    const PdfJob job = pdfJob(data); // its charts count the same
    EXPECT_EQ(job.types.size() * 10 + job.versions.size(), 14);
}

// Whatever a terminal or the operator typed shows as text in the HTML, in
// the table and in the charts' labels alike, and makes nothing load or run.
TEST(Report, TerminalTextsStayText)
{
    for (const char *text : {"<img src=\"file:///etc/passwd\">", "<script>alert(1)</script>", "a&b \"c\" 'd' </td></tr></table>",
                             "<svg onload=x>"}) {
        const QString hostile = QString::fromUtf8(text);
        FenwaDevice *d = terminal(hostile, "02:fe:00:00:00:01", "192.168.1.100", hostile, hostile);
        SipSettings sip[2];
        sip[0].account = hostile, sip[0].serverHost = hostile;
        RtpSettings rtp[FENWA_RTP_CHANNELS];
        Data data;
        data.siteName = data.author = hostile;
        data.terminals = terminalsOf({Source{d, sip, rtp, false, QString(), hostile}});
        data.lastBatch = hostile;
        for (Form form : {Form::Browser, Form::Pdf}) {
            const QString page = html(data, form);
            EXPECT_FALSE(page.contains(hostile)) << page.toStdString();
            EXPECT_TRUE(page.contains(hostile.toHtmlEscaped())) << text;
            static const QRegularExpression tags(QStringLiteral("<(?:script|iframe|object|link|a )"),
                                                 QRegularExpression::CaseInsensitiveOption);
            EXPECT_FALSE(page.contains(tags)) << text;
            // The PDF form names the two charts and no other image.
            EXPECT_EQ(page.count(QLatin1String("<img ")), form == Form::Pdf ? 2 : 0) << text;
        }
        d->release();
    }
}

TEST(Report, PdfJobsRoundTripAndAnythingElseIsRefused)
{
    PdfJob job;
    job.html = QStringLiteral("<p>x</p>"), job.header = QStringLiteral("h"), job.footer = QStringLiteral("Page %1 of %2");
    job.title = QStringLiteral("交接报告");
    job.types = {Count{QStringLiteral("VQ40"), 3}};
    PdfJob back;
    QString error;
    ASSERT_TRUE(fromJson(toJson(job), &back, &error)) << error.toStdString();
    EXPECT_EQ(back.html, job.html);
    EXPECT_EQ(back.title, job.title);
    ASSERT_EQ(back.types.size(), 1);
    EXPECT_EQ(back.types[0].count, 3);
    EXPECT_TRUE(back.versions.isEmpty());
    const char *refused[] = {
        "", "[]", "{\"html\":1}", "not json",
        "{\"html\":\"\",\"header\":\"\",\"footer\":\"\",\"title\":\"\",\"types\":[[\"a\",-1]],\"versions\":[]}",
        "{\"html\":\"\",\"header\":\"\",\"footer\":\"\",\"title\":\"\",\"types\":[[\"a\"]],\"versions\":[]}",
        "{\"html\":\"\",\"header\":\"\",\"footer\":\"\",\"title\":\"\",\"types\":{},\"versions\":[]}"};
    for (const char *text : refused)
        EXPECT_FALSE(fromJson(QByteArray(text), &back, &error)) << text;
}
