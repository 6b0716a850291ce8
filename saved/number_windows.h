#pragma once

// The two dialogs of the saved list: one adds numbers to the store, one edits the record the edit
// command chose (editRecordNo).

#include <QDialog>
#include <QStringList>
#include <QValidator>
#include <optional>

#include "saved/saved_list.h"

class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;

namespace kuvona {

// Keeps an edit box's text within a number of GBK bytes, as the store's fields count them. Text
// typed or pasted beyond the limit is cut at the insertion point, whole characters at a time, so
// what was there before stays.
class ByteLimitValidator : public QValidator
{
public:
    ByteLimitValidator(int maxBytes, QObject* parent = nullptr);
    State validate(QString& input, int& pos) const override;

private:
    int m_maxBytes;
};

// The courier names of the two windows' 组合框1: the add window has 20, the edit window the first
// 17 of them.
const QStringList& addWindowCarrierNames();
QStringList editWindowCarrierNames();

// The number box's limit: the width of the store's 单号 field.
inline constexpr int kNumberByteLimit = 20;

// The controls the two windows share, at the same places.
class NumberWindow : public QDialog
{
    Q_OBJECT

public:
    QLineEdit* numberEdit() const { return m_number; }      // 编辑框_单号
    QComboBox* carrierBox() const { return m_carriers; }    // 组合框1
    QPlainTextEdit* remarkEdit() const { return m_remark; } // 编辑框_备注
    QPushButton* okButton() const { return m_ok; }          // 添加按钮 or 编辑按钮
    QPushButton* cancelButton() const { return m_cancel; }  // 取消单号保存

protected:
    NumberWindow(QWidget* parent, const QString& caption, const QStringList& carriers, int carrierLeft,
                 const QString& okName, const QString& okText);
    void showEvent(QShowEvent* event) override;

    QLineEdit* m_number;
    QComboBox* m_carriers;
    QPlainTextEdit* m_remark;
    QPushButton* m_ok;
    QPushButton* m_cancel;
};

// 添加快递单号: stays open after each number so that several can be added in a row.
class AddNumberWindow : public NumberWindow
{
    Q_OBJECT

public:
    explicit AddNumberWindow(QWidget* parent = nullptr);

    // 添加按钮: appends the trimmed number, the courier and the remark to the store, reports the
    // result, empties the two boxes for the next number and reloads the saved list.
    void addSavedNumber();
};

// 编辑快递单号: opens the store on the record that row editRecordNo - 1 of the saved list stands for
// when created, and leaves it open for the save, which works on that record.
class EditNumberWindow : public NumberWindow
{
    Q_OBJECT

public:
    explicit EditNumberWindow(QWidget* parent = nullptr);

    // The created step: fills the boxes from record editRecordNo.
    void fillEditNumberWindow();
    // 编辑按钮: writes the boxes over the record, the number exactly as typed; closes the window
    // on success; reloads the saved list either way. When the record is no longer the one the row
    // showed, it writes nothing, closes the window and says the list was out of date.
    void saveEditedNumber();

private:
    std::optional<SavedRow> m_shown;
};

// Open the windows modally; return when they have been closed.
void showAddNumberWindow();
void showEditNumberWindow();

} // namespace kuvona
