#include "touchstyle.h"

#include <QComboBox>
#include <QDialogButtonBox>
#include <QStyleFactory>

namespace {

// The rows of a combo box's list are drawn for the combo box itself, or for a view inside its popup.
bool belongsToComboBox(const QWidget *widget)
{
    for (const QWidget *w = widget; w; w = w->parentWidget()) {
        if (qobject_cast<const QComboBox *>(w) || w->inherits("QComboBoxPrivateContainer"))
            return true;
    }
    return false;
}

QSize atLeast(QSize size, int width, int height)
{
    return size.expandedTo(QSize(width, height));
}

} // namespace

TouchStyle::TouchStyle(QStyle *base)
    : QProxyStyle(base ? base : QStyleFactory::create(QStringLiteral("Fusion")))
{ }

QSize TouchStyle::sizeFromContents(
    ContentsType type, const QStyleOption *option, const QSize &size, const QWidget *widget) const
{
    const QSize designed = QProxyStyle::sizeFromContents(type, option, size, widget);
    switch (type) {
    case CT_PushButton:
        if (widget && qobject_cast<const QDialogButtonBox *>(widget->parentWidget()))
            return atLeast(designed, DialogButtonWidth, TouchTarget);
        return designed;
    case CT_ComboBox:
    case CT_LineEdit: return atLeast(designed, 0, TouchTarget);
    case CT_MenuItem:
    case CT_ItemViewItem:
        if (belongsToComboBox(widget))
            return atLeast(designed, 0, TouchTarget);
        return designed;
    default: return designed;
    }
}
