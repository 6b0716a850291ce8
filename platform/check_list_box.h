#pragma once

// A list of check boxes in single-check mode: once the user has ticked an item, exactly one stays
// ticked. Ticks set by the program (setChecked) are not subject to that rule.

#include <QListWidget>

namespace kuvona {

class CheckListBox : public QListWidget
{
    Q_OBJECT

public:
    explicit CheckListBox(QWidget* parent = nullptr);

    void addCheckItem(const QString& text);
    bool isChecked(int index) const;
    // Positions that do not exist are skipped.
    void setChecked(int index, bool checked);
    // The highlighted row, or -1. Beyond the last row means the last row; below -1 means none.
    int currentSelection() const;
    void setCurrentSelection(int index);

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    // Applies the single-check rule after the user's action.
    void enforceSingleCheck();
    int firstChecked() const;
    // Makes the item the current selection.
    void highlight(QListWidgetItem* it);

    int m_lastChecked = -1; // the item the user's rule keeps ticked
};

} // namespace kuvona
