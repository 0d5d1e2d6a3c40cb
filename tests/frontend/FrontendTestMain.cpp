// The window tests' main: an offscreen QApplication (unless the caller chose
// a platform), settings in Qt's test folder under a home of this process's
// own (ctest runs tests in parallel processes, which must not share one
// settings file), then GoogleTest.
#include <QApplication>
#include <QStandardPaths>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

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
