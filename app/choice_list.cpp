#include "app/choice_list.h"

#include <QAbstractItemView>
#include <QKeyEvent>

#include <algorithm>

CChoiceList::CChoiceList(const QRect& room, QWidget* parent) : QComboBox(parent), m_room(room)
{
    setEditable(false);
    // Styles that open the list over the field, as tall as the screen allows (Fusion among them), ignore
    // the row limit; this property asks every style for the plain list below the field instead.
    setStyleSheet("QComboBox { combobox-popup: 0; }");
    // The closed field takes the platform's height, up to one row of the layout (an edit's 24 pixels, which a
    // style with taller fields such as Adwaita would pass); the rest of the rectangle is the drop-down's room.
    setGeometry(room.left(), room.top(), room.width(), ClosedHeight());
    setProperty("dropRect", room);
    setMaxVisibleItems(RowsThatFit());
}

int CChoiceList::ClosedHeight() const
{
    constexpr int kRowHeight = 24;
    return std::min(sizeHint().height(), kRowHeight);
}

int CChoiceList::RowsThatFit() const
{
    const int room = m_room.height() - height();
    const int hinted = view()->sizeHintForRow(0);
    const int row = std::max(1, hinted > 0 ? hinted : fontMetrics().height() + 8);
    const int frame = 2 * view()->frameWidth() + 4;
    return std::max(1, (room - frame) / row);
}

void CChoiceList::changeEvent(QEvent* event)
{
    QComboBox::changeEvent(event);
    if (event->type() == QEvent::FontChange) {
        setGeometry(m_room.left(), m_room.top(), m_room.width(), ClosedHeight());
    }
}

void CChoiceList::keyPressEvent(QKeyEvent* event)
{
    if (!isVisibleTo(window()) || !isEnabled()) {
        event->ignore();
        return;
    }
    QComboBox::keyPressEvent(event);
}

void CChoiceList::showPopup()
{
    if (!isVisibleTo(window())) {
        return;
    }
    setMaxVisibleItems(RowsThatFit());  // rows are measured once the list has entries
    QComboBox::showPopup();
}
