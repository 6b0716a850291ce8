#include "platform/check_list_box.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionViewItem>

namespace kuvona {

CheckListBox::CheckListBox(QWidget* parent) : QListWidget(parent)
{
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSortingEnabled(false);
    setUniformItemSizes(true);
}

void CheckListBox::addCheckItem(const QString& text)
{
    auto* item = new QListWidgetItem(text, this);
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(Qt::Unchecked);
}

bool CheckListBox::isChecked(int index) const
{
    const auto* it = item(index);
    return it && it->checkState() == Qt::Checked;
}

void CheckListBox::setChecked(int index, bool checked)
{
    if (auto* it = item(index)) {
        it->setCheckState(checked ? Qt::Checked : Qt::Unchecked);
        if (checked)
            m_lastChecked = index;
    }
}

int CheckListBox::currentSelection() const
{
    const auto selected = selectedItems();
    return selected.isEmpty() ? -1 : row(selected.first());
}

void CheckListBox::setCurrentSelection(int index)
{
    if (index < -1 || count() == 0) {
        clearSelection();
        setCurrentRow(-1);
        return;
    }
    if (index == -1) {
        clearSelection();
        return;
    }
    setCurrentRow(std::min(index, count() - 1));
}

void CheckListBox::highlight(QListWidgetItem* it)
{
    // Straight through the selection model: the view's own command would deselect under Ctrl.
    selectionModel()->setCurrentIndex(indexFromItem(it), QItemSelectionModel::ClearAndSelect);
}

int CheckListBox::firstChecked() const
{
    for (int i = 0; i < count(); ++i)
        if (isChecked(i))
            return i;
    return -1;
}

void CheckListBox::enforceSingleCheck()
{
    int newlyChecked = -1;
    for (int i = 0; i < count(); ++i)
        if (isChecked(i) && i != m_lastChecked)
            newlyChecked = i;
    if (newlyChecked >= 0) {
        for (int i = 0; i < count(); ++i)
            if (i != newlyChecked && isChecked(i))
                item(i)->setCheckState(Qt::Unchecked);
        m_lastChecked = newlyChecked;
    } else if (firstChecked() < 0 && m_lastChecked >= 0 && m_lastChecked < count()) {
        item(m_lastChecked)->setCheckState(Qt::Checked);
    }
}

void CheckListBox::mousePressEvent(QMouseEvent* event)
{
    QListWidget::mousePressEvent(event);
    // A press anywhere on an item highlights it, its check box included: the item delegate takes
    // a press on the check box for itself, and the query reads the highlighted item.
    if (event->button() == Qt::LeftButton)
        if (auto* it = itemAt(event->position().toPoint()))
            highlight(it);
    enforceSingleCheck();
}

void CheckListBox::mouseReleaseEvent(QMouseEvent* event)
{
    QListWidget::mouseReleaseEvent(event);
    enforceSingleCheck();
}

void CheckListBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    QListWidget::mouseDoubleClickEvent(event);
    // A double click on an item toggles it, as a click on its check box does.
    // On the check box itself the clicks of the double click have toggled it already.
    const QPoint at = event->position().toPoint();
    if (auto* it = itemAt(at); it && event->button() == Qt::LeftButton) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.rect = visualItemRect(it);
        option.features |= QStyleOptionViewItem::HasCheckIndicator;
        const QRect check = style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, this);
        if (!check.contains(at))
            it->setCheckState(it->checkState() == Qt::Checked ? Qt::Unchecked : Qt::Checked);
    }
    enforceSingleCheck();
}

void CheckListBox::keyPressEvent(QKeyEvent* event)
{
    QListWidget::keyPressEvent(event);
    // Space ticks the focused item through the delegate, which leaves the highlight alone; the
    // ticked item becomes the highlighted one, as a press on its check box makes it.
    if (event->key() == Qt::Key_Space && currentItem())
        highlight(currentItem());
    enforceSingleCheck();
}

} // namespace kuvona
