// What a user does to message boxes: clicks and keys sent through the window system, which drops them
// for a window that a modal one blocks; and a helper that answers every box that opens.
#pragma once

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTest>
#include <QTimer>

#include <functional>
#include <string>
#include <vector>

// What a user does: a press and release of the mouse, or a key, sent to the window as the window system
// would, so a window that a modal one blocks does not get it.
inline void ClickAsUser(QWidget* widget)
{
    QWidget* window = widget->window();
    QTest::mouseClick(window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window, widget->rect().center()));
}
inline void PressAsUser(QWidget* window, Qt::Key key)
{
    QTest::keyClick(window->windowHandle(), key);
}

// Types into an edit as a user does: a click into it, Ctrl+A, then one key per character.
inline void TypeAsUser(QWidget* edit, const QString& text)
{
    QWidget* window = edit->window();
    ClickAsUser(edit);
    QTest::keyClick(window->windowHandle(), Qt::Key_A, Qt::ControlModifier);
    for (QChar c : text) {
        QTest::keyClick(window->windowHandle(), c.toLatin1());
    }
}

// The message boxes on screen now.
inline std::vector<QMessageBox*> OpenBoxes()
{
    std::vector<QMessageBox*> boxes;
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) {
            boxes.push_back(box);
        }
    }
    return boxes;
}

// Answers each box that opens, from inside whatever event loop runs at the time, the way a user would: the
// confirmation with a click on OK, the "Error" box with Return, any other with a click on its OK.
class BoxAnswerer : public QObject {
public:
    std::vector<std::string> seen;                   // "caption: text", in order
    std::vector<std::string> details;                // each box's informative text, in the same order
    std::vector<int> widths;                         // each box's width as shown
    std::function<void(QMessageBox*)> beforeAnswer;  // what happens while a box is open, before the answer

    BoxAnswerer()
    {
        connect(&timer_, &QTimer::timeout, this, [this] { Answer(); });
        timer_.start(20);
    }

private:
    void Answer()
    {
        for (QMessageBox* box : OpenBoxes()) {
            if (answered_.contains(box)) {
                continue;
            }
            answered_.push_back(box);
            const std::string caption = box->windowTitle().toStdString();
            seen.push_back(caption + ": " + box->text().toStdString());
            details.push_back(box->informativeText().toStdString());
            widths.push_back(box->width());
            if (beforeAnswer) {
                beforeAnswer(box);
            }
            if (caption == "Error" && box->icon() == QMessageBox::Information) {
                PressAsUser(box, Qt::Key_Return);
            } else {
                ClickAsUser(box->button(QMessageBox::Ok));
            }
            // A box that did not close took no input: said so, and closed for the user so the test goes on.
            if (box->isVisible()) {
                seen.back() += " (took no input)";
                box->reject();
            }
        }
    }

    QTimer timer_;
    QList<QPointer<QMessageBox>> answered_;
};
