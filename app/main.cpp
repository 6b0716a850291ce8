#include <QApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include "app/globals.h"
#include "app/main_window.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "platform/fonts.h"
#include "platform/program_dir.h"

using namespace kuvona;

namespace {

// Standard buttons and dialogs speak the user's language, as the system's own boxes do.
void loadToolkitTranslations(QApplication& app)
{
    auto* translator = new QTranslator(&app);
    if (translator->load(QLocale(), QStringLiteral("qtbase"), QStringLiteral("_"),
                         QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        QApplication::installTranslator(translator);
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    installFatalHandler();
    if (!initProgramDirectory())
        fatalRuntimeError(0, gbk("载入窗口模板数据段出错!"));
    // The program ends when its main window is gone, whatever boxes of workers are still shown.
    QApplication::setQuitOnLastWindowClosed(false);
    loadToolkitTranslations(app);
    QApplication::setFont(dialogFont());

    auto* window = new MainWindow;
    window->showCentred();
    QApplication::exec();
    exitProgram(0);
}
