#include <gtest/gtest.h>

#include <QCoreApplication>

// The controller reads the application folder, so a core application must exist.
int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
