#include <gtest/gtest.h>

#include <QCoreApplication>

#include "romcmd/RteRecords.h"

int main(int argc, char* argv[]) {
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    RomCmd::registerMetaTypes();
    return RUN_ALL_TESTS();
}
