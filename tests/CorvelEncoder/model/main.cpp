#include <QCoreApplication>

#include <gtest/gtest.h>

// The model needs a running event loop for its timers and for session reports.
int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
