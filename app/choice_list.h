// A choice list whose drop-down opens below its field and stays inside the room the layout gives it,
// whatever the Qt style: some styles otherwise open a screen-high list over the field.
#pragma once

#include <QComboBox>
#include <QRect>

class CChoiceList : public QComboBox {
    Q_OBJECT
public:
    // `room`: the list's whole rectangle in its parent's coordinates, the closed field at its top.
    CChoiceList(const QRect& room, QWidget* parent);

    // How many rows the drop-down shows at most.
    int RowsThatFit() const;

    void showPopup() override;

protected:
    // A list that is not on screen takes no key: it changes nothing and opens nothing.
    void keyPressEvent(QKeyEvent* event) override;
    // The closed field keeps the platform's height for its font.
    void changeEvent(QEvent* event) override;

private:
    int ClosedHeight() const;

    QRect m_room;
};
