// The window tests' main: an offscreen QApplication (unless the caller chose
// a platform), settings in Qt's test folder under a home of this process's
// own (ctest runs tests in parallel processes, which must not share one
// settings file), then GoogleTest.
#include <QApplication>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

// Read by ThreadSanitizer at start-up (unused in other builds). Qt is not
// built with it: it sees the allocations that Qt's thread pools make and free
// on two threads but not Qt's own handover between them, and reports a race
// at the first repaint. Calls that Qt's libraries make into the sanitizer's
// allocator are therefore not watched; every access of our own code still is.
extern "C" const char* __tsan_default_suppressions() {
    return "called_from_lib:libQt6Core.so.6\ncalled_from_lib:libQt6Gui.so.6\n";
}

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    char home[] = "/tmp/pdemu-frontend-home-XXXXXX";
    if (mkdtemp(home) == nullptr)
        return 1;
    qputenv("HOME", home);
    for (const char* variable : {"XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qunsetenv(variable);
    QStandardPaths::setTestModeEnabled(true);
    QCoreApplication::setOrganizationName(QStringLiteral("Morvek"));
    QCoreApplication::setApplicationName(QStringLiteral("pdemu"));
    int result = 0;
    {
        QApplication app(argc, argv);
        ::testing::InitGoogleTest(&argc, argv);
        result = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
