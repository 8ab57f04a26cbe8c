#include <QApplication>

#include <gtest/gtest.h>

// Widgets need a QApplication; the tests run headless unless the caller
// chose a platform (xvfb-run with QT_QPA_PLATFORM=xcb, for instance).
int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
