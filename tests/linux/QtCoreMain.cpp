// SPDX-FileCopyrightText: 2026 The Server Stats authors
// SPDX-License-Identifier: MIT

// GoogleTest's entry for tests that start processes through Qt, which wants its
// application object. Every exporter listens on 127.0.0.1: no proxy may stand between.

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
    setenv("no_proxy", "127.0.0.1,localhost", 1);
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
