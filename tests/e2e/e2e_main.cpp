// SPDX-License-Identifier: GPL-3.0-or-later
// The end-to-end suites' main: one segment for the run, made as root.
#include "e2e_segment.h"

#include <QCoreApplication>
#include <gtest/gtest.h>
#include <unistd.h>

E2eSegment *e2eSegment = nullptr;
QByteArray e2eSegmentError;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    E2eSegment segment;
    e2eSegment = &segment;
    if (geteuid() == 0 && !::testing::GTEST_FLAG(list_tests))
        e2eSegmentError = segment.create();
    const int rc = RUN_ALL_TESTS();
    segment.destroy();
    return rc;
}
