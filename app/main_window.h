#pragma once

// The start window: the query controls, the progress list, the saved list, the menus.

#include <QMainWindow>

class QLabel;
class QLineEdit;
class QMenu;
class QPushButton;

namespace kuvona {

class CheckListBox;
class ReportListView;

class MainWindow : public QMainWindow
{
    Q_OBJECT

public:
    // Creates the window and its controls and runs onMainWindowCreated; does not show it.
    explicit MainWindow(QWidget* parent = nullptr);
    ~MainWindow() override;

    // Shows the window centred on the screen with the focus on 单号.
    void showCentred();

    QAction* autoSaveAction() const { return m_autoSave; }
    QAction* carrierSelectAction() const { return m_carrierSelect; }
    QAction* defaultSkinAction() const { return m_defaultSkin; }
    // The pop-up of the saved list, while it is shown; null otherwise.
    QMenu* savedListPopup() const { return m_popup; }

    // Pops up the saved list's menu at the pointer, 3 pixels right of and below it.
    void popupSavedListMenu();

    // The outer size the window would have with a Windows frame; the client area below the menu
    // bar is what the controls are placed in.
    static constexpr int kClientWidth = 710;
    static constexpr int kClientHeight = 501; // below the menu bar, status bar included

signals:
    // An item of the saved list's pop-up was chosen (0 添加单号 … 4 取消), after the menu closed.
    void savedListPopupChosen(int item);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    void createMenus();
    void onMainWindowCreated();
    void onMainWindowDestroy();

    QLineEdit* m_number = nullptr;
    CheckListBox* m_carriers = nullptr;
    QPushButton* m_queryButton = nullptr;
    QPushButton* m_stopButton = nullptr;
    QPushButton* m_clearButton = nullptr;
    ReportListView* m_progressList = nullptr;
    ReportListView* m_savedList = nullptr;
    QAction* m_autoSave = nullptr;
    QAction* m_carrierSelect = nullptr;
    QAction* m_defaultSkin = nullptr;
    QMenu* m_popup = nullptr;
    bool m_destroyed = false;
};

// The small commands of the window.
void showHelp();
void openHomepage();
void clearNumber();
void toggleAutoSave();
void detachSkin();

// The path whose temp.htm is deleted when the window closes; empty when TEMP is not set.
std::string leftoverTempFile();

} // namespace kuvona
