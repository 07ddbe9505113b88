#include <QApplication>
#include <QIcon>

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/convert_command.h"
#include "app/tarvi_shell.h"
#include "app/version.h"
#include "telescope/motion_rules.h"

namespace {

std::vector<std::string> argumentsOf(const QStringList& list)
{
    std::vector<std::string> arguments;
    for (qsizetype i = 1; i < list.size(); ++i)
        arguments.push_back(list[i].toStdString());
    return arguments;
}

// --help and --version answer without a display.
bool answeredWithoutWindow(const tarvi::CommandLine& line, int& status)
{
    if (line.help) {
        std::fputs(tarvi::usageText("tarvi").c_str(), stdout);
        status = 0;
        return true;
    }
    if (line.version) {
        std::printf("tarvi %s (%s)\n", tarvi::tarviVersion, tarvi::tarviReleaseDate);
        status = 0;
        return true;
    }
    return false;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> raw(argv + 1, argv + argc);
    // Conversion runs in scripts and on machines with no display at all, so
    // it is done before Qt looks for one.
    if (!raw.empty() && raw.front() == "convert")
        return tarvi::runConvertCommand({raw.begin() + 1, raw.end()}, std::cout, std::cerr);
    int status = 0;
    if (answeredWithoutWindow(tarvi::parseCommandLine(raw), status))
        return status;

    QApplication application(argc, argv);  // takes Qt's own options off the line
    application.setWindowIcon(QIcon(QStringLiteral(":/icons/tarvi48.xpm")));
    const tarvi::CommandLine line = tarvi::parseCommandLine(argumentsOf(QCoreApplication::arguments()));
    if (!line.error.empty()) {
        std::fprintf(stderr, "tarvi: %s\nTry 'tarvi --help' for more information.\n", line.error.c_str());
        return 2;
    }

    // A menu starts programs in the home directory, which is no place for
    // tarvi.ini and the capture files: they go to the configuration
    // directory, and pictures saved by autoshoot to where the menu started it.
    const std::string here = tarvi::CTarviApp::currentDirectory();
    tarvi::TarviShell shell(line.desktop ? tarvi::motion::userConfigDirectory(std::getenv("XDG_CONFIG_HOME"),
                                                                               std::getenv("HOME"))
                                         : here);
    if (line.desktop)
        shell.app().fitsDirectory = shell.app().bmpDirectory = here;
    if (!shell.initInstance(line))
        return 1;
    status = QApplication::exec();
    shell.exitInstance();
    return status;
}
