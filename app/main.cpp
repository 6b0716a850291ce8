#include <QApplication>
#include <cstdio>
#include <string>

#include "app/app_icon.h"
#include "app/globals.h"
#include "app/main_window.h"
#include "app/test_actions.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "platform/fonts.h"
#include "platform/program_dir.h"
#include "platform/translations.h"

using namespace kuvona;

namespace {

constexpr char kUsage[] = "usage: kuvona [--version | --help]\n";

void printHelp()
{
    std::string error;
    const std::string files = initProgramDirectory(false, error) ? dataDirectory() : "none, " + error;
    std::printf("%s\n"
                "Kuvona follows parcels by their tracking numbers: type a number, tick the courier and\n"
                "press Enter. The numbers queried are saved with their courier and a remark.\n"
                "\n"
                "Options:\n"
                "  --version  print the version and exit\n"
                "  --help     print this text and exit\n"
                "\n"
                "Files: Danhao.edb (the saved numbers) and set.ini (the courier settings) are kept\n"
                "beside the program when its folder can be written to, else in $XDG_DATA_HOME/kuvona\n"
                "(~/.local/share/kuvona). For this program: %s\n"
                "Back up the saved numbers with: kuvona-store export --csv > numbers.csv\n",
                kUsage, files.c_str());
}

// The command line is answered before the toolkit starts, so --version and --help work without a
// display. -1 when the program goes on to open its window.
int answerCommandLine(int argc, char* argv[])
{
    if (argc < 2)
        return -1;
    const std::string arg = argv[1];
    if (argc == 2 && arg == "--version") {
        std::printf("Kuvona %s\n", KUVONA_VERSION);
        return 0;
    }
    if (argc == 2 && arg == "--help") {
        printHelp();
        return 0;
    }
    const bool known = arg == "--version" || arg == "--help";
    std::fprintf(stderr, "kuvona: unexpected argument '%s'\n%s", known ? argv[2] : argv[1], kUsage);
    return 2;
}

} // namespace

int main(int argc, char* argv[])
{
    if (const int status = answerCommandLine(argc, argv); status >= 0)
        return status;
    QApplication app(argc, argv);
    installFatalHandler();
    std::string error;
    if (!initProgramDirectory(true, error)) {
        std::fprintf(stderr, "kuvona: %s\n", error.c_str());
        fatalRuntimeError(0, gbk(error));
    }
    // The program ends when its main window is gone, whatever boxes of workers are still shown.
    QApplication::setQuitOnLastWindowClosed(false);
    QGuiApplication::setDesktopFileName(QStringLiteral("io.github.kuvona.Kuvona"));
    QApplication::setWindowIcon(applicationIcon());
    loadToolkitTranslations();
    QApplication::setFont(dialogFont());

    auto* window = new MainWindow;
    window->showCentred();
    runTestActionsFromEnvironment(window);
    QApplication::exec();
    exitProgram(0);
}
