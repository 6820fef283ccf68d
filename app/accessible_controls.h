// What assistive technology reads from the window beyond Qt's own: a choice list named by its row label
// with the shown entry as its value, the status and connection lines as status bars whose changes are
// announced, and the read-only fields as Tab stops while a screen reader is running.
#pragma once

#include <QAccessible>
#include <QPointer>
#include <QString>

#include <vector>

class QLabel;
class QWidget;

// Makes this program's accessible interfaces known to Qt; each call after the first does nothing new.
void InstallAccessibleControls();

// Makes sure the control is described by this program's interface where it has one (a choice list, an
// announced line), also when Qt described it before it was complete.
void UseOwnAccessibleInterface(QWidget* control);

// A line whose every change a screen reader speaks: its accessible role becomes a status bar.
void MakeAnnouncedLine(QLabel* line);
// Says to assistive technology that the line's text is new (the new name of a status bar).
void Announce(QLabel* line);
// Sets the line's text; when it changed, says so to assistive technology (the new name of a status bar).
void SetAnnouncedText(QLabel* line, const QString& text);

// Gives `fields` (read-only, reached by a click only) a Tab stop while assistive technology is active,
// so that a screen reader reads them in their row order, and takes it back when it ends.
class ReadOnlyTabStops : public QAccessible::ActivationObserver {
public:
    ReadOnlyTabStops();
    ~ReadOnlyTabStops() override;
    ReadOnlyTabStops(const ReadOnlyTabStops&) = delete;
    ReadOnlyTabStops& operator=(const ReadOnlyTabStops&) = delete;

    void Add(QWidget* field);
    void accessibilityActiveChanged(bool active) override;

private:
    std::vector<QPointer<QWidget>> m_fields;
};
