#pragma once

// The courier selection window: 24 check boxes kept in set.ini, section "Set", one key per courier
// with the value "真" (ticked) or "假". Nothing else in the program reads these settings.

#include <QDialog>
#include <array>
#include <string>

class QCheckBox;

namespace kuvona {

class CarrierSelectWindow : public QDialog
{
    Q_OBJECT

public:
    // The couriers (UTF-8) in the order the window reads them when it opens, and the order "确定"
    // writes them, which is the order of the keys in a file written from scratch.
    static const std::array<const char*, 24> readOrder;
    static const std::array<const char*, 24> writeOrder;

    // `settingsFile` is the INI file the window reads and writes (set.ini in the program's directory).
    explicit CarrierSelectWindow(const std::string& settingsFile, QWidget* parent = nullptr);

    // The check box whose name (and key) is `utf8Name`; null when there is none.
    QCheckBox* checkBox(const char* utf8Name) const;

private:
    void onCreated();
    void onOkClicked();

    std::string m_settingsFile;
};

// programFile("set.ini").
std::string carrierSettingsFile();

// Opens CarrierSelectWindow modally on carrierSettingsFile(); returns when it has been closed.
void showCarrierSelectWindow(QWidget* parent);

} // namespace kuvona
