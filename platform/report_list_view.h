#pragma once

// A report-style list: column headers that can be clicked and show an image, whole-row single
// selection, grid lines, and a 32-bit value kept with each row. Each row also carries a tag for its
// owner (the saved list keeps the record a row stands for there), apart from the value, which the
// column sort takes over.
//
// It reports the events the commands bind to, in the order the commands expect: mouse and key
// events before the list handles them, the left click after the list has updated its selection.

#include <QAbstractTableModel>
#include <QPixmap>
#include <QTableView>
#include <cstdint>
#include <functional>
#include <vector>

namespace kuvona {

class ReportListModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ReportListModel(QObject* parent = nullptr);

    void setColumns(const QStringList& titles);
    void setHeaderImages(const std::vector<QPixmap>& images);
    int columnImage(int column) const;
    void setColumnImage(int column, int image);

    void removeAllRows();
    int appendRow(const QString& label);
    void removeRowAt(int row);
    QString cell(int row, int column) const;
    void setCell(int row, int column, const QString& text);
    std::int32_t value(int row) const;
    void setValue(int row, std::int32_t value);
    // 0 for a row that was never tagged or is out of range.
    std::int32_t tag(int row) const;
    // Replaces every row at once; far cheaper than appending one by one for a long list. Row i gets
    // tags[i] when given, else 0.
    void resetRows(std::vector<std::vector<QString>> rows, const std::vector<std::int32_t>& tags = {});
    // Reorders the rows as the platform's sort with a comparison callback does: `compare` gets the
    // values of two rows and returns a negative number when the first goes before the second. Rows
    // that compare equal keep their order; the selection and the current row move with their rows.
    void sortRows(const std::function<int(std::int32_t, std::int32_t)>& compare);

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    struct Row
    {
        std::vector<QString> cells;
        std::int32_t value = 0;
        std::int32_t tag = 0;
    };
    QStringList m_titles;
    std::vector<int> m_columnImages;
    std::vector<QPixmap> m_images;
    std::vector<Row> m_rows;
};

class ReportListView : public QTableView
{
    Q_OBJECT

public:
    enum MousePointer
    {
        NormalPointer = 0,
        MovePointer = 8,
    };

    explicit ReportListView(QWidget* parent = nullptr);

    ReportListModel* listModel() const { return m_model; }

    // The selected row, or -1. Setting selects and focuses the row; -1 clears the selection.
    int currentSelection() const;
    void setCurrentSelection(int row);
    void setMousePointer(int pointer);
    // The row under a point in the list's own coordinates (header included), or -1.
    int hitTestRow(QPoint point) const;
    void makeRowVisible(int row);
    // -2 fits the column to its content and title.
    void setColumnWidth(int column, int width);

signals:
    void columnClicked(int column);
    void leftClicked();
    void rightClicked();
    void keyDown(int virtualKey, int modifiers);
    void leftButtonDown(int x, int y, int modifiers);
    void mouseMoved(int x, int y, int modifiers);
    void leftButtonUp(int x, int y, int modifiers);
    void doubleClickedAnywhere();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    QPoint toListPoint(QPoint viewportPoint) const;

    ReportListModel* m_model;
    QPoint m_pressPoint;
    bool m_pressed = false;
    bool m_moved = false;
};

// Windows virtual-key code of a Qt key (46 for Delete), 0 when it has none.
int virtualKeyOf(int qtKey);
// 1 Ctrl, 2 Shift, 4 Alt.
int modifierFlags(Qt::KeyboardModifiers modifiers);

} // namespace kuvona
