#include <gtest/gtest.h>

#include <QApplication>

#include "tests/app/support/AppTestEnvironment.h"

int main(int argc, char** argv) {
    prepareAppTestEnvironment();
    QApplication application(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
