// Renders every window, menu and message box of the program to PNG files, for looking at them
// without a desktop: kuvona-screenshots OUTDIR

#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QTemporaryDir>
#include <QTimer>
#include <cstdio>
#include <memory>

#include "app/about_window.h"
#include "app/globals.h"
#include "app/main_window.h"
#include "common/fatal.h"
#include "common/gbk.h"
#include "common/listview.h"
#include "common/text.h"
#include "platform/check_list_box.h"
#include "platform/fonts.h"
#include "platform/message_box.h"
#include "platform/program_dir.h"
#include "platform/report_list_view.h"
#include "platform/translations.h"
#include "platform/ui_text.h"
#include "saved/number_windows.h"
#include "saved/store.h"
#include "settings/carrier_select_window.h"

using namespace kuvona;

namespace {

QString g_outDir;

void save(QWidget* widget, const QString& name)
{
    QApplication::processEvents();
    const QString path = g_outDir + QLatin1Char('/') + name + QStringLiteral(".png");
    widget->grab().save(path);
    std::printf("%s\n", qPrintable(path));
}

void saveMenu(QMenu* menu, const QString& name)
{
    menu->popup(QPoint(0, 0));
    save(menu, name);
    menu->hide();
}

void saveBox(const char* text, const char* title, int kind, const QString& name)
{
    std::unique_ptr<QMessageBox> box(createMessageBoxWidget(gbk(text), gbk(title), kind));
    box->show();
    save(box.get(), name);
}

void seedStore(const std::string& path)
{
    if (FILE* file = std::fopen(path.c_str(), "wb")) {
        std::fwrite(storeTemplate.data(), 1, storeTemplate.size(), file);
        std::fclose(file);
    }
    openStore(path);
    appendBlankRecord();
    writeField(gbk("单号"), "YT1234567890");
    writeField(gbk("公司"), gbk("圆通"));
    writeField(gbk("备注"), gbk("网购的书"));
    closeStore();
}

} // namespace

int main(int argc, char* argv[])
{
    QApplication app(argc, argv);
    g_outDir = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QDir::currentPath();
    QDir().mkpath(g_outDir);
    QApplication::setFont(dialogFont());
    loadToolkitTranslations();

    // A store of its own with one saved number, for the saved list and the edit window.
    QTemporaryDir storeDir;
    setProgramDirectory(storeDir.path().toStdString());
    seedStore(storeDir.filePath(QStringLiteral("Danhao.edb")).toStdString());

    MainWindow window;
    window.showCentred();
    // A query's number, courier and rows, as the README shows them.
    if (mainControls().number && mainControls().carriers) {
        mainControls().number->setText(QStringLiteral("YT1234567890"));
        mainControls().carriers->setChecked(5, true);
        mainControls().carriers->setCurrentSelection(5);
    }
    if (ReportListView* progress = mainControls().progressList) {
        const char* rows[][2] = {{"2026-12-08 09:12:03", "【深圳市】快件已被 宝安西乡网点 揽收"},
                                 {"2026-12-08 21:40:51", "【深圳市】快件已发往 杭州转运中心"},
                                 {"2026-12-10 06:05:17", "【杭州市】快件已到达 杭州转运中心"},
                                 {"2026-12-11 08:30:02", "【杭州市】快件正在派送中，派送员：王师傅"}};
        int n = 0;
        for (const auto& row : rows) {
            const int r = listAppendRow(*progress, integerToText(++n));
            listSetCellText(*progress, r, 1, gbk(row[0]));
            listSetCellText(*progress, r, 2, gbk(row[1]));
        }
    }
    save(&window, QStringLiteral("main-window"));
    const auto menus = window.menuBar()->findChildren<QMenu*>(QString(), Qt::FindDirectChildrenOnly);
    for (QMenu* menu : menus)
        if (!menu->objectName().isEmpty())
            saveMenu(menu, QStringLiteral("menu-") + menu->objectName());
    window.popupSavedListMenu();
    if (QMenu* popup = window.savedListPopup()) {
        save(popup, QStringLiteral("popup-saved-list"));
        popup->close();
    }

    AboutWindow about(&window);
    about.show();
    save(&about, QStringLiteral("about-window"));
    about.close();

    AddNumberWindow add(&window);
    add.show();
    save(&add, QStringLiteral("add-number-window"));
    add.close();

    editRecordNo = 1;
    EditNumberWindow edit(&window);
    edit.show();
    save(&edit, QStringLiteral("edit-number-window"));
    edit.close();
    closeStore();

    // Every message the program shows, by its kind: text, title (empty: the default), kind.
    const struct
    {
        const char* name;
        const char* text;
        const char* title;
        int kind;
    } boxes[] = {
        {"help", "这么简单的软件不用帮助吧……\r\n\r\n自己先摸索吧，有问题请到主页留言！", "帮助", 0},
        {"query-no-number", "请输入欲查询的快递单号！", "提示", 0},
        {"query-no-courier", "请选择欲查询的快递公司！", "提示", 0},
        {"worker-no-number", "请输入运单号码！", "温馨提示", 0},
        {"worker-not-found", "你输入的运单号码不存在！", "温馨提示", 0},
        {"worker-unsupported", "你选择的物流公司已经不支持！", "温馨提示", 0},
        {"delete-confirm", "您确认删除单号吗？", "删除提示", 49},
        {"delete-done", "删除成功！", "删除成功", 64},
        {"settings-saved", "修改成功！", "", 0},
        {"update-newer", "发现更新，是否访问主页进行下载？", "检查更新", 65},
        {"update-none", "本软件已是最新版本，不需要更新！", "无更新", 64},
    };
    for (const auto& b : boxes)
        saveBox(b.text, b.title, b.kind, QStringLiteral("box-") + QString::fromLatin1(b.name));
    {
        std::unique_ptr<QMessageBox> fatal(createMessageBoxWidget(
            fatalErrorText(0, gbk("无法找到指定DLL库文件“KillAD.dll”中的输出命令“SkinH_Detach”")),
            gbk("错误"), BoxErrorOk));
        fatal->show();
        save(fatal.get(), QStringLiteral("box-fatal-skin"));
    }

    CarrierSelectWindow carriers(carrierSettingsFile());
    carriers.show();
    save(&carriers, QStringLiteral("carrier-select-window"));
    return 0;
}
