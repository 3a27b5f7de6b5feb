#include <QCoreApplication>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    const int rc = RUN_ALL_TESTS();
    const auto* unit = ::testing::UnitTest::GetInstance();
    std::printf("%d passed, %d failed\n", unit->successful_test_count(), unit->failed_test_count());
    return rc;
}
