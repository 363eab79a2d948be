// main() of the viewer's widget and program tests: a QApplication on Qt's
// offscreen platform (unless the environment names another), then the
// GoogleTest cases. QtTest provides the input events and waits; its own
// runner is not used, because the watchdog thread it starts ends through
// Qt's uninstrumented wait, which ThreadSanitizer reports as a race.
#include <gtest/gtest.h>

#include <QtWidgets/QApplication>

// Consulted by AddressSanitizer's leak check only, in builds with it. Qt's
// offscreen platform never frees its screen and cursor, and fontconfig keeps
// its configuration to the end of the process; both are allocated far below
// Qt's own frames, so the whole stack is recorded (Qt has no frame pointers)
// and exactly those two origins are left out. Leaks of the viewer and the
// tests are reported as ever.
extern "C" const char* __asan_default_options()
{
    return "fast_unwind_on_malloc=0";
}

extern "C" const char* __lsan_default_suppressions()
{
    return "leak:QGuiApplicationPrivate::createPlatformIntegration\n"
           "leak:libfontconfig.so\n";
}

int main(int argc, char* argv[])
{
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
