#pragma once

// Where a user clicks in a check-list box.

#include <QPoint>
#include <QStyle>
#include <QStyleOptionViewItem>

#include "platform/check_list_box.h"

namespace kuvona::test {

// The centre of an item's check box, as the style places it.
inline QPoint checkBoxCentre(CheckListBox& box, int row)
{
    QStyleOptionViewItem option;
    option.initFrom(&box);
    option.rect = box.visualItemRect(box.item(row));
    option.features |= QStyleOptionViewItem::HasCheckIndicator;
    return box.style()->subElementRect(QStyle::SE_ItemViewItemCheckIndicator, &option, &box).center();
}

} // namespace kuvona::test
