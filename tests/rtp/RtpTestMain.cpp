// SPDX-License-Identifier: GPL-3.0-or-later
// Every test process first moves into a network namespace of its own, so the
// streams the tests send stay on its private lo and fixed ports are free.
#include "RtpTestSupport.h"

#include <QCoreApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    if (!::testing::GTEST_FLAG(list_tests))
        enterPrivateNetwork();
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
