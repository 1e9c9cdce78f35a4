#include <gtest/gtest.h>

#include <QCoreApplication>

#include "tests/app/support/AppTestEnvironment.h"

int main(int argc, char** argv) {
    prepareAppTestEnvironment();
    QCoreApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
