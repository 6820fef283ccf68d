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
#include <vector>

class QComboBox;
class QLabel;
class QPushButton;
class QSpinBox;
class WaitNotifier;

// Where the dialog and the panel stand on `screen` (frames, in screen coordinates), both whole on it. The
// panel goes to the right of the dialog, else its left, else below or above it; where none of these has
// room, the dialog moves aside so the two stand side by side or one above the other; where they cannot
// stand apart at all, the dialog goes to the screen's left edge and the panel to its right edge, covering
// none of `keepClear` (the dialog's tabs and Close button, placed as `dialog` is) where the screen allows.
struct WindowPlaces {
    QRect dialog;
    QRect panel;
};
WindowPlaces PlaceBesideDialog(const QRect& dialog, const std::vector<QRect>& keepClear, const QSize& panel,
                               const QRect& screen);

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
    // Shows the panel at its place beside the dialog, which moves aside where the screen is too small for
    // both as they stand; `keepClear` as for PlaceBesideDialog, in the dialog's own coordinates. Once only:
    // where the user then moves either window is kept.
    void ShowBeside(QWidget* dialog, const std::vector<QRect>& keepClear);

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
