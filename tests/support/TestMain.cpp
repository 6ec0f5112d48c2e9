#include <QApplication>
#include <gtest/gtest.h>

// One QApplication for every test program, so GUI and non-GUI tests share one runner.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
