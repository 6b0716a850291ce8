#include "platform/report_list_view.h"

#include <QApplication>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <algorithm>

namespace kuvona {

ReportListModel::ReportListModel(QObject* parent) : QAbstractTableModel(parent) {}

void ReportListModel::setColumns(const QStringList& titles)
{
    beginResetModel();
    m_titles = titles;
    m_columnImages.assign(static_cast<std::size_t>(titles.size()), -1);
    endResetModel();
}

void ReportListModel::setHeaderImages(const std::vector<QPixmap>& images)
{
    m_images = images;
    if (!m_titles.isEmpty())
        emit headerDataChanged(Qt::Horizontal, 0, static_cast<int>(m_titles.size()) - 1);
}

int ReportListModel::columnImage(int column) const
{
    if (column < 0 || column >= static_cast<int>(m_columnImages.size()))
        return -1;
    return m_columnImages[static_cast<std::size_t>(column)];
}

void ReportListModel::setColumnImage(int column, int image)
{
    if (column < 0 || column >= static_cast<int>(m_columnImages.size()))
        return;
    m_columnImages[static_cast<std::size_t>(column)] = image < 0 ? -1 : image;
    emit headerDataChanged(Qt::Horizontal, column, column);
}

void ReportListModel::removeAllRows()
{
    if (m_rows.empty())
        return;
    beginResetModel();
    m_rows.clear();
    endResetModel();
}

int ReportListModel::appendRow(const QString& label)
{
    const int row = static_cast<int>(m_rows.size());
    beginInsertRows({}, row, row);
    m_rows.push_back(Row{{label}, 0, 0});
    endInsertRows();
    return row;
}

void ReportListModel::removeRowAt(int row)
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return;
    beginRemoveRows({}, row, row);
    m_rows.erase(m_rows.begin() + row);
    endRemoveRows();
}

QString ReportListModel::cell(int row, int column) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0)
        return {};
    const auto& cells = m_rows[static_cast<std::size_t>(row)].cells;
    return column < static_cast<int>(cells.size()) ? cells[static_cast<std::size_t>(column)] : QString();
}

void ReportListModel::setCell(int row, int column, const QString& text)
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()) || column < 0 || column >= columnCount())
        return;
    auto& cells = m_rows[static_cast<std::size_t>(row)].cells;
    if (static_cast<int>(cells.size()) <= column)
        cells.resize(static_cast<std::size_t>(column) + 1);
    cells[static_cast<std::size_t>(column)] = text;
    const QModelIndex at = index(row, column);
    emit dataChanged(at, at, {Qt::DisplayRole});
}

std::int32_t ReportListModel::value(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return 0;
    return m_rows[static_cast<std::size_t>(row)].value;
}

void ReportListModel::setValue(int row, std::int32_t value)
{
    if (row >= 0 && row < static_cast<int>(m_rows.size()))
        m_rows[static_cast<std::size_t>(row)].value = value;
}

std::int32_t ReportListModel::tag(int row) const
{
    if (row < 0 || row >= static_cast<int>(m_rows.size()))
        return 0;
    return m_rows[static_cast<std::size_t>(row)].tag;
}

void ReportListModel::resetRows(std::vector<std::vector<QString>> rows, const std::vector<std::int32_t>& tags)
{
    beginResetModel();
    m_rows.clear();
    m_rows.reserve(rows.size());
    for (std::size_t i = 0; i < rows.size(); ++i)
        m_rows.push_back(Row{std::move(rows[i]), 0, i < tags.size() ? tags[i] : 0});
    endResetModel();
}

void ReportListModel::sortRows(const std::function<int(std::int32_t, std::int32_t)>& compare)
{
    const int count = static_cast<int>(m_rows.size());
    if (count < 2)
        return;
    std::vector<int> order(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        order[static_cast<std::size_t>(i)] = i;
    // A merge sort: O(n log n) calls of `compare`, and no step outside the rows even if `compare` is
    // not transitive, as long as it answers the same for the same pair. The rows are only touched
    // once the order is known, so a `compare` that throws leaves them as they were.
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) {
        return compare(m_rows[static_cast<std::size_t>(a)].value, m_rows[static_cast<std::size_t>(b)].value) <
               0;
    });
    emit layoutAboutToBeChanged({}, QAbstractItemModel::VerticalSortHint);
    std::vector<int> newRowOf(static_cast<std::size_t>(count));
    std::vector<Row> sorted;
    sorted.reserve(m_rows.size());
    for (int i = 0; i < count; ++i) {
        newRowOf[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])] = i;
        sorted.push_back(std::move(m_rows[static_cast<std::size_t>(order[static_cast<std::size_t>(i)])]));
    }
    m_rows = std::move(sorted);
    const QModelIndexList before = persistentIndexList();
    QModelIndexList after;
    after.reserve(before.size());
    for (const QModelIndex& at : before)
        after.push_back(index(newRowOf[static_cast<std::size_t>(at.row())], at.column()));
    changePersistentIndexList(before, after);
    emit layoutChanged({}, QAbstractItemModel::VerticalSortHint);
}

int ReportListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int ReportListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_titles.size());
}

QVariant ReportListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid())
        return {};
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
        return cell(index.row(), index.column());
    if (role == Qt::TextAlignmentRole)
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    return {};
}

QVariant ReportListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || section < 0 || section >= static_cast<int>(m_titles.size()))
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return m_titles[section];
    case Qt::DecorationRole: {
        const int image = columnImage(section);
        if (image >= 0 && image < static_cast<int>(m_images.size()))
            return m_images[static_cast<std::size_t>(image)];
        return {};
    }
    case Qt::TextAlignmentRole:
        return QVariant::fromValue(Qt::AlignLeft | Qt::AlignVCenter);
    default:
        return {};
    }
}

ReportListView::ReportListView(QWidget* parent) : QTableView(parent), m_model(new ReportListModel(this))
{
    setModel(m_model);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setShowGrid(true);
    setWordWrap(false);
    setTabKeyNavigation(false);
    setDragEnabled(false);
    setCornerButtonEnabled(false);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    verticalHeader()->setVisible(false);
    verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 4);
    auto* header = horizontalHeader();
    header->setSectionsClickable(true);
    header->setHighlightSections(false);
    header->setStretchLastSection(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setSectionResizeMode(QHeaderView::Interactive);
    header->setMinimumSectionSize(0);
    connect(header, &QHeaderView::sectionClicked, this, &ReportListView::columnClicked);
    QPalette pal = palette();
    pal.setColor(QPalette::Base, Qt::white);
    pal.setColor(QPalette::Text, Qt::black);
    setPalette(pal);
}

int ReportListView::currentSelection() const
{
    const auto rows = selectionModel()->selectedRows();
    return rows.isEmpty() ? -1 : rows.first().row();
}

void ReportListView::setCurrentSelection(int row)
{
    if (row < 0 || row >= m_model->rowCount()) {
        selectionModel()->clearSelection();
        return;
    }
    const QModelIndex at = m_model->index(row, 0);
    selectionModel()->setCurrentIndex(at, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
}

void ReportListView::setMousePointer(int pointer)
{
    if (pointer == MovePointer)
        viewport()->setCursor(Qt::SizeAllCursor);
    else
        viewport()->unsetCursor();
}

QPoint ReportListView::toListPoint(QPoint viewportPoint) const
{
    return viewport()->mapTo(this, viewportPoint);
}

int ReportListView::hitTestRow(QPoint point) const
{
    const QPoint inViewport = viewport()->mapFrom(this, point);
    if (!viewport()->rect().contains(inViewport))
        return -1;
    const QModelIndex at = indexAt(inViewport);
    return at.isValid() ? at.row() : -1;
}

void ReportListView::makeRowVisible(int row)
{
    if (row < 0 || row >= m_model->rowCount())
        return;
    scrollTo(m_model->index(row, 0), QAbstractItemView::EnsureVisible);
}

void ReportListView::setColumnWidth(int column, int width)
{
    if (column < 0 || column >= m_model->columnCount())
        return;
    if (width == -2) {
        resizeColumnToContents(column); // takes the title's width into account as well
        return;
    }
    QTableView::setColumnWidth(column, std::max(0, width));
}

int virtualKeyOf(int qtKey)
{
    if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9)
        return qtKey;
    if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z)
        return qtKey;
    switch (qtKey) {
    case Qt::Key_Backspace:
        return 8;
    case Qt::Key_Tab:
        return 9;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 13;
    case Qt::Key_Escape:
        return 27;
    case Qt::Key_Space:
        return 32;
    case Qt::Key_PageUp:
        return 33;
    case Qt::Key_PageDown:
        return 34;
    case Qt::Key_End:
        return 35;
    case Qt::Key_Home:
        return 36;
    case Qt::Key_Left:
        return 37;
    case Qt::Key_Up:
        return 38;
    case Qt::Key_Right:
        return 39;
    case Qt::Key_Down:
        return 40;
    case Qt::Key_Insert:
        return 45;
    case Qt::Key_Delete:
        return 46;
    default:
        return 0;
    }
}

int modifierFlags(Qt::KeyboardModifiers modifiers)
{
    return (modifiers & Qt::ControlModifier ? 1 : 0) | (modifiers & Qt::ShiftModifier ? 2 : 0) |
           (modifiers & Qt::AltModifier ? 4 : 0);
}

void ReportListView::keyPressEvent(QKeyEvent* event)
{
    emit keyDown(virtualKeyOf(event->key()), modifierFlags(event->modifiers()));
    QTableView::keyPressEvent(event);
}

void ReportListView::mousePressEvent(QMouseEvent* event)
{
    const QPoint at = toListPoint(event->position().toPoint());
    const int flags = modifierFlags(event->modifiers());
    if (event->button() == Qt::LeftButton) {
        m_pressed = true;
        m_moved = false;
        m_pressPoint = event->position().toPoint();
        emit leftButtonDown(at.x(), at.y(), flags);
    }
    QTableView::mousePressEvent(event);
    if (event->button() == Qt::RightButton)
        emit rightClicked();
}

void ReportListView::mouseMoveEvent(QMouseEvent* event)
{
    const QPoint at = toListPoint(event->position().toPoint());
    if (m_pressed &&
        (event->position().toPoint() - m_pressPoint).manhattanLength() >= QApplication::startDragDistance())
        m_moved = true;
    emit mouseMoved(at.x(), at.y(), modifierFlags(event->modifiers()));
    // The list's own drag-selection would fight the commands' drag, so moves with the button held
    // are not handed to the list.
    if (!(event->buttons() & Qt::LeftButton))
        QTableView::mouseMoveEvent(event);
}

void ReportListView::mouseReleaseEvent(QMouseEvent* event)
{
    const QPoint at = toListPoint(event->position().toPoint());
    const bool click = event->button() == Qt::LeftButton && m_pressed && !m_moved;
    if (event->button() == Qt::LeftButton) {
        m_pressed = false;
        emit leftButtonUp(at.x(), at.y(), modifierFlags(event->modifiers()));
    }
    QTableView::mouseReleaseEvent(event);
    if (click)
        emit leftClicked();
}

void ReportListView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTableView::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        emit doubleClickedAnywhere();
}

} // namespace kuvona
