// Entry of the menu-bar tests: one offscreen QApplication for all of them, with a fixed time zone (the
// locale is the tests' own: a Mac ignores LC_ALL), and Qt's test locations so no real user settings change.
#include <QApplication>
#include <QStandardPaths>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // Qt reads these when the application object is made.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    ::setenv("TZ", "UTC", 1);
    ::tzset();
    QStandardPaths::setTestModeEnabled(true);
    QApplication application(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
