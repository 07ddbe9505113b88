#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <gtest/gtest.h>

namespace {

QtMessageHandler standardHandler = nullptr;

// The offscreen platform warns about every window feature it lacks; those
// warnings say nothing about the program.
void quietHandler(QtMsgType type, const QMessageLogContext& context, const QString& message)
{
    if (message.startsWith(QLatin1String("This plugin does not support")))
        return;
    if (standardHandler != nullptr)
        standardHandler(type, context, message);
    else
        std::fprintf(stderr, "%s\n", qPrintable(message));
}

}  // namespace

int main(int argc, char** argv)
{
    // Widgets are tested without a display.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    // The recent-file list and other desktop settings go to a directory of
    // this run's own, never to the user's.
    char settings[] = "/tmp/tarvi-settings-XXXXXX";
    if (::mkdtemp(settings) != nullptr)
        ::setenv("XDG_CONFIG_HOME", settings, 1);
    standardHandler = qInstallMessageHandler(quietHandler);
    ::testing::InitGoogleTest(&argc, argv);
    int status = 0;
    {
        QApplication application(argc, argv);
        status = RUN_ALL_TESTS();
    }
    std::error_code ignored;
    std::filesystem::remove_all(settings, ignored);
    return status;
}
