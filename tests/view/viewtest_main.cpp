// main() of the viewer's widget and program tests: a QApplication on Qt's
// offscreen platform (unless the environment names another), then the
// GoogleTest cases. QtTest provides the input events and waits; its own
// runner is not used, because the watchdog thread it starts ends through
// Qt's uninstrumented wait, which ThreadSanitizer reports as a race.
#include <gtest/gtest.h>

#include <QtWidgets/QApplication>

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
