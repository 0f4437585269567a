// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliLink.h"
#include "CliWatch.h"

#include "link/FenwaDevice.h"
#include "link/FenwaLiveList.h"
#include "site/FenwaExport.h"

#include <cJSON.h>
#include <gtest/gtest.h>


namespace {

FenwaDevice *device(uint8_t last, const char *json)
{
    const uint8_t mac[6] = {0x02, 0xfe, 0, 0, 0, last};
    const uint8_t ip[4] = {192, 168, 1, last};
    cJSON *tree = cJSON_Parse(json);
    FenwaDevice *d = FenwaDevice::fromSearchReply(mac, ip, tree);
    cJSON_Delete(tree);
    return d;
}

TEST(CliOutput, JsonLineHoldsRecordLinkAddressesAndExtras)
{
    FenwaDevice *d = device(7, "{\"id\":3,\"method\":\"search\",\"name\":\"Gate \\\"7\\\"\",\"type\":\"VQ40\","
                               "\"ip\":\"10.0.0.5\",\"micVolume\":7}");
    cJSON *line = cJSON_Parse(deviceJsonLine(d).constData());
    ASSERT_NE(line, nullptr) << "not JSON: " << deviceJsonLine(d).constData();
    EXPECT_STREQ(cJSON_GetObjectItem(line, "name")->valuestring, "Gate \"7\"");
    EXPECT_STREQ(cJSON_GetObjectItem(line, "linkAddress")->valuestring, "192.168.1.7");
    EXPECT_STREQ(cJSON_GetObjectItem(line, "linkMac")->valuestring, "02:fe:00:00:00:07");
    EXPECT_STREQ(cJSON_GetObjectItem(cJSON_GetObjectItem(line, "extras"), "micVolume")->valuestring, "7");
    EXPECT_EQ(deviceJsonLine(d).indexOf('\n'), -1);
    cJSON_Delete(line);
    d->release();
}

// watch's lines: the event, its time with the offset from UTC, the
// terminal, and what only that event carries, a name with quotes intact.
TEST(CliOutput, WatchLinesCarryWhatEachEventNeeds)
{
    FenwaDevice *d = device(7, "{\"name\":\"Gate \\\"7\\\"\",\"type\":\"VQ40\",\"version\":\"2.5.0\",\"uid\":\"U7\"}");
    const QDateTime at = QDateTime(QDate(2026, 5, 4), QTime(10, 42, 13), Qt::OffsetFromUTC, 3600);
    const struct {
        FenwaLiveEvent::Kind kind;
        QList<FenwaLiveChange> changes;
        const char *line;
    } cases[] = {
        {FenwaLiveEvent::Appeared, {},
         "{\"event\":\"appeared\",\"time\":\"2026-05-04T10:42:13+01:00\",\"mac\":\"02:fe:00:00:00:07\",\"name\":"
         "\"Gate \\\"7\\\"\",\"ip\":\"192.168.1.7\",\"version\":\"2.5.0\",\"type\":\"VQ40\",\"uid\":\"U7\"}"},
        {FenwaLiveEvent::Changed, {{"ip", "192.168.1.7", "10.0.0.7"}, {"version", "2.4.1", "2.5.0"}},
         "{\"event\":\"changed\",\"time\":\"2026-05-04T10:42:13+01:00\",\"mac\":\"02:fe:00:00:00:07\",\"name\":"
         "\"Gate \\\"7\\\"\",\"changes\":{\"ip\":{\"old\":\"192.168.1.7\",\"new\":\"10.0.0.7\"},\"version\":"
         "{\"old\":\"2.4.1\",\"new\":\"2.5.0\"}}}"},
        {FenwaLiveEvent::Offline, {},
         "{\"event\":\"offline\",\"time\":\"2026-05-04T10:42:13+01:00\",\"mac\":\"02:fe:00:00:00:07\",\"name\":"
         "\"Gate \\\"7\\\"\",\"lastSeen\":\"2026-05-04T10:41:53+01:00\"}"},
        {FenwaLiveEvent::Back, {},
         "{\"event\":\"back\",\"time\":\"2026-05-04T10:42:13+01:00\",\"mac\":\"02:fe:00:00:00:07\",\"name\":"
         "\"Gate \\\"7\\\"\",\"offlineSince\":\"2026-05-04T10:42:03+01:00\"}"},
    };
    for (const auto &c : cases) {
        FenwaLiveEvent e;
        e.kind = c.kind;
        e.device = d;
        e.at = at;
        e.changes = c.changes;
        EXPECT_EQ(watchEventLine(e, at.addSecs(-20), at.addSecs(-10)), QByteArray(c.line));
    }
    d->release();
}

// A reply item as the search output shows it, from the JSON number or text
// a terminal sent: small, at and beyond int and unsigned, negative, a
// fraction, huge.
TEST(CliOutput, ReplyNumbersPrintWhole)
{
    const std::pair<const char *, const char *> cases[] = {
        {"7", "7"},   {"2147483647", "2147483647"}, {"3000000000", "3000000000"}, {"4294967296", "4294967296"},
        {"-3000000000", "-3000000000"}, {"1.5", "1.5"}, {"1e300", "1e+300"}};
    for (const auto &c : cases) {
        FenwaDevice *d = device(1, (QByteArray("{\"uptime\":") + c.first + "}").constData());
        EXPECT_EQ(d->extra(QStringLiteral("uptime")).toStdString(), c.second);
        d->release();
    }
}

// A search row in the sheet's columns; the quoting is the CSV writer's (its
// own cases are the sheet tests').
TEST(CliOutput, CsvRowIsMacNameTypeWithTheNameQuotedWhereNeeded)
{
    FenwaDevice *d = device(1, "{\"type\":\"VQT40\"}");
    d->name = QStringLiteral("Hall \"A\", east");
    const QString row = FenwaExport::searchCsvLine(d);
    EXPECT_TRUE(row.startsWith(QStringLiteral("02:fe:00:00:00:01,\"Hall \"\"A\"\", east\",VQT40,"))) << row.toStdString();
    d->release();
}

} // namespace
