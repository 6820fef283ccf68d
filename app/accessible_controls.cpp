#include "app/accessible_controls.h"

#include "app/choice_list.h"

#include <QAbstractItemView>
#include <QAccessibleWidget>
#include <QLabel>

namespace {

constexpr const char* kAnnouncedLine = "announcedLine";

// A closed choice list as a screen reader should hear it: "Outgoing Call Mode, Hotline Dial, combo box".
// (Qt's own interface names a list on Linux by its current entry, so the row label is never heard.)
class AccessibleChoiceList : public QAccessibleWidget {
public:
    explicit AccessibleChoiceList(CChoiceList* list) : QAccessibleWidget(list, QAccessible::ComboBox)
    {
        addControllingSignal(QLatin1String("activated(int)"));
    }

    QString text(QAccessible::Text t) const override
    {
        switch (t) {
        case QAccessible::Name:
            return List()->accessibleName();
        case QAccessible::Value:
            return List()->currentText();
        default:
            return QAccessibleWidget::text(t);
        }
    }

    QAccessible::State state() const override
    {
        QAccessible::State s = QAccessibleWidget::state();
        s.expandable = true;
        s.expanded = List()->view()->isVisible();
        s.collapsed = !s.expanded;
        return s;
    }

    // The drop-down list, whose entries a screen reader reads while it is open.
    int childCount() const override { return 1; }
    QAccessibleInterface* child(int index) const override
    {
        return index == 0 ? QAccessible::queryAccessibleInterface(List()->view()) : nullptr;
    }
    int indexOfChild(const QAccessibleInterface* child) const override
    {
        return child && child->object() == List()->view() ? 0 : -1;
    }

    QStringList actionNames() const override
    {
        return {QAccessibleActionInterface::showMenuAction(), QAccessibleActionInterface::pressAction()};
    }
    void doAction(const QString& action) override
    {
        if (action == QAccessibleActionInterface::showMenuAction() ||
            action == QAccessibleActionInterface::pressAction()) {
            List()->showPopup();
        }
    }

private:
    CChoiceList* List() const { return static_cast<CChoiceList*>(widget()); }
};

// A line of the window that tells an outcome: a status bar named by its text.
class AccessibleAnnouncedLine : public QAccessibleWidget {
public:
    explicit AccessibleAnnouncedLine(QLabel* line) : QAccessibleWidget(line, QAccessible::StatusBar) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name || t == QAccessible::Value) {
            return static_cast<QLabel*>(widget())->text();
        }
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface* ControlsFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("CChoiceList")) {
        if (auto* list = qobject_cast<CChoiceList*>(object)) {
            return new AccessibleChoiceList(list);
        }
    }
    if (className == QLatin1String("QLabel") && object->property(kAnnouncedLine).toBool()) {
        return new AccessibleAnnouncedLine(static_cast<QLabel*>(object));
    }
    return nullptr;
}

}  // namespace

void InstallAccessibleControls()
{
    QAccessible::installFactory(ControlsFactory);  // Qt keeps a factory once, however often it is given
}

void MakeAnnouncedLine(QLabel* line)
{
    line->setProperty(kAnnouncedLine, true);
    UseOwnAccessibleInterface(line);
}

void UseOwnAccessibleInterface(QWidget* control)
{
    // An interface Qt made before the control was ours to describe (while it was being built) is dropped,
    // so that the next look-up comes through the factory above.
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(control);
    const bool own = dynamic_cast<AccessibleChoiceList*>(iface) != nullptr ||
                     dynamic_cast<AccessibleAnnouncedLine*>(iface) != nullptr;
    if (iface != nullptr && !own) {
        QAccessible::deleteAccessibleInterface(QAccessible::uniqueId(iface));
    }
}

void SetAnnouncedText(QLabel* line, const QString& text)
{
    if (line->text() == text) {
        return;
    }
    line->setText(text);
    Announce(line);
}

void Announce(QLabel* line)
{
    QAccessibleEvent changed(line, QAccessible::NameChanged);
    QAccessible::updateAccessibility(&changed);
}

ReadOnlyTabStops::ReadOnlyTabStops()
{
    QAccessible::installActivationObserver(this);
}

ReadOnlyTabStops::~ReadOnlyTabStops()
{
    QAccessible::removeActivationObserver(this);
}

void ReadOnlyTabStops::Add(QWidget* field)
{
    m_fields.emplace_back(field);
    field->setFocusPolicy(QAccessible::isActive() ? Qt::StrongFocus : Qt::ClickFocus);
}

void ReadOnlyTabStops::accessibilityActiveChanged(bool active)
{
    for (const QPointer<QWidget>& field : m_fields) {
        if (field) {
            field->setFocusPolicy(active ? Qt::StrongFocus : Qt::ClickFocus);
        }
    }
}
