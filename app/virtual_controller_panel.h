// The "Virtual controller" window of the demo: plug the virtual controller in and pull it out, choose its
// station, set its line level and latency, and make the next transfer fail. The virtual controller's commands
// can come on standard input, one per line; the window shows and changes the unit they act on.
#pragma once

#include "portable/wait.h"
#include "sim/controller_commands.h"
#include "sim/line_reader.h"
#include "sim/virtual_controller.h"

#include <QWidget>

#include <cstdio>
#include <memory>
#include <string>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class WaitNotifier;

// Where the panel goes beside the dialog `beside` (frames, in screen coordinates), whole on `screen`: to
// its right, else its left, else below or above it, else in the screen's lower corner, below the dialog's
// tabs (`tabsBottom`) where there is room.
QRect PanelPlace(const QRect& beside, int tabsBottom, const QSize& panel, const QRect& screen);

class CVirtualControllerPanel : public QWidget {
    Q_OBJECT
public:
    explicit CVirtualControllerPanel(sim::VirtualController& controller, QWidget* parent = nullptr);
    ~CVirtualControllerPanel() override;

    // Reads commands from this descriptor (standard input in the demo) until its end or a read error.
    void ReadCommandsFrom(int fd);

    // Applies one command line; an unknown or malformed one prints one error line on standard error.
    void RunCommand(const std::string& line);

    void Refresh();
    // Shows the panel at its place beside the dialog.
    void ShowBeside(QWidget* dialog, int tabsBottom);

    // The unit the window shows and changes: the one the commands act on.
    sim::VirtualUnit Unit() const { return m_commands.Unit(); }

private:
    void ApplyStation();
    void OnCommandsReadable();

    sim::ControllerCommands m_commands;
    QPushButton* m_plug = nullptr;
    QPushButton* m_unplug = nullptr;
    QComboBox* m_model = nullptr;
    QSpinBox* m_version = nullptr;
    QSpinBox* m_level = nullptr;
    QLabel* m_levelPercent = nullptr;
    QSpinBox* m_latency = nullptr;
    QLabel* m_state = nullptr;
    sim::LineReader m_lines{[this](const std::string& line) { RunCommand(line); },
                            [] { std::fprintf(stderr, "doorphoneconfig: a command line over 4 KiB was ignored\n"); }};
    std::unique_ptr<portable::InputPump> m_commandInput;
    std::unique_ptr<WaitNotifier> m_commandWatch;  // after m_commandInput, so it goes first: it watches its handle
    bool m_updating = false;
};
