// SPDX-License-Identifier: GPL-3.0-or-later
// The default adapter choice.
#include "QPcapAdapterList.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <vector>

namespace {

QPcapAdapter adapter(const char *name, uint8_t a, uint8_t b, uint8_t c)
{
    QPcapAdapter x;
    std::memset(&x, 0, sizeof x);
    std::snprintf(x.name, sizeof x.name, "%s", name);
    x.address[0] = a, x.address[1] = b, x.address[2] = c, x.address[3] = a ? 7 : 0;
    return x;
}

const QPcapAdapter kTen = adapter("eth0", 10, 0, 0), kFifty = adapter("eth1", 192, 168, 50),
                   kOne = adapter("eth2", 192, 168, 1), kThirty = adapter("eth3", 192, 168, 30),
                   kNone = adapter("eth4", 0, 0, 0);

} // namespace

TEST(AdapterChoice, PicksByNameThenLowSubnetThenAny192168ThenFirst)
{
    const struct {
        const char *label;
        std::vector<QPcapAdapter> adapters;
        const char *remembered;
        const char *expected; // nullptr: none
    } cases[] = {
        {"ThirdNumberAtMost30Wins", {kTen, kFifty, kOne}, nullptr, "eth2"},
        {"Exactly30Counts", {kFifty, kThirty}, "", "eth3"},
        {"Any192168WhenNoneIsLow", {kTen, kFifty}, nullptr, "eth1"},
        {"FirstWhenNoneIs192168", {kTen, kNone}, nullptr, "eth0"},
        {"RememberedNameWinsOverRules", {kTen, kFifty, kOne}, "eth1", "eth1"},
        {"RememberedNameMatchesExactly", {kTen, kFifty, kOne}, "eth", "eth2"},
        {"VanishedNameFallsBack", {kTen, kFifty}, "wlan9", "eth1"},
        {"EmptyListGivesNone", {}, "eth0", nullptr},
    };
    for (const auto &c : cases) {
        QPcapAdapterList list;
        for (const QPcapAdapter &a : c.adapters)
            list.append(a);
        const QPcapAdapter *chosen = findAdapter(&list, c.remembered);
        EXPECT_STREQ(chosen ? chosen->name : nullptr, c.expected) << c.label;
        EXPECT_EQ(findAdapter(nullptr, c.remembered), nullptr) << c.label;
    }
}
