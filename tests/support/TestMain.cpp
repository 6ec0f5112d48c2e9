#include <QApplication>
#include <gtest/gtest.h>

// One QApplication for every test program, so GUI and non-GUI tests share one runner. Without a
// platform chosen, the offscreen one: a plain ctest, even its listing of the tests, needs no display.
int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
