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

int main(int argc, char* argv[])
{
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
