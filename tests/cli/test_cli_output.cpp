// SPDX-License-Identifier: GPL-3.0-or-later
#include "CliLink.h"

#include "link/FenwaDevice.h"

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
    EXPECT_STREQ(cJSON_GetObjectItem(line, "ip")->valuestring, "10.0.0.5");
    EXPECT_STREQ(cJSON_GetObjectItem(line, "linkAddress")->valuestring, "192.168.1.7");
    EXPECT_STREQ(cJSON_GetObjectItem(line, "linkMac")->valuestring, "02:fe:00:00:00:07");
    const cJSON *extras = cJSON_GetObjectItem(line, "extras");
    EXPECT_STREQ(cJSON_GetObjectItem(extras, "micVolume")->valuestring, "7");
    EXPECT_STREQ(cJSON_GetObjectItem(extras, "method")->valuestring, "search");
    EXPECT_EQ(deviceJsonLine(d).indexOf('\n'), -1);
    cJSON_Delete(line);
    d->release();
}

TEST(CliOutput, CsvQuotesOnlyWhatNeedsIt)
{
    FenwaDevice *d = device(1, "{\"name\":\"Hall, east \\\"A\\\"\",\"type\":\"VQT40\"}");
    const QString row = deviceCsvLine(d);
    EXPECT_TRUE(row.startsWith(QStringLiteral("02:fe:00:00:00:01,\"Hall, east \"\"A\"\"\",VQT40,"))) << row.toStdString();
    EXPECT_EQ(row.count(QLatin1Char(',')) - 1 /* inside the quoted name */, csvHeader().count(QLatin1Char(',')));
    d->release();
}

} // namespace
