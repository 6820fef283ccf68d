#include "app/virtual_controller_panel.h"

#include <QScreen>

#include "app/wait_notifier.h"
#include "device/reports.h"

#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>
#include <QTimer>
#include <QVBoxLayout>

#include <algorithm>
#include <cstdio>

namespace {
// Station models the panel offers, by model code.
constexpr int kModels[] = {0, 1, 7};
}  // namespace

CVirtualControllerPanel::CVirtualControllerPanel(sim::VirtualController& controller, QWidget* parent)
    : QWidget(parent, Qt::Window), m_commands(controller)
{
    setWindowTitle("Virtual controller");

    m_plug = new QPushButton("Plug in", this);
    m_unplug = new QPushButton("Pull out", this);
    connect(m_plug, &QPushButton::clicked, this, [this] {
        Unit().Plug();
        Refresh();
    });
    connect(m_unplug, &QPushButton::clicked, this, [this] {
        Unit().Unplug();
        Refresh();
    });
    auto* plugRow = new QHBoxLayout;
    plugRow->addWidget(m_plug);
    plugRow->addWidget(m_unplug);

    m_model = new QComboBox(this);
    m_model->addItems({"None", "7401", "7407"});
    m_version = new QSpinBox(this);
    m_version->setRange(0, 15);
    m_version->setPrefix("Version ");
    auto* stationRow = new QHBoxLayout;
    stationRow->addWidget(m_model);
    stationRow->addWidget(m_version);
    connect(m_model, &QComboBox::currentIndexChanged, this, [this] { ApplyStation(); });
    connect(m_version, &QSpinBox::valueChanged, this, [this] { ApplyStation(); });

    m_level = new QSpinBox(this);
    m_level->setRange(0, 255);
    m_levelPercent = new QLabel(this);
    auto* levelRow = new QHBoxLayout;
    levelRow->addWidget(m_level);
    levelRow->addWidget(m_levelPercent);
    connect(m_level, &QSpinBox::valueChanged, this, [this](int v) {
        if (!m_updating) {
            Unit().SetLineLevel(static_cast<uint8_t>(v));
        }
        m_levelPercent->setText(QString("%1 %").arg(DecodeLineLevelPercent(static_cast<uint8_t>(v))));
    });

    m_latency = new QSpinBox(this);
    m_latency->setRange(0, 1000);
    m_latency->setSuffix(" ms");
    connect(m_latency, &QSpinBox::valueChanged, this, [this](int v) {
        if (!m_updating) {
            Unit().SetLatency(std::chrono::milliseconds(v));
        }
    });

    auto* fail = new QPushButton("Fail the next transfer", this);
    connect(fail, &QPushButton::clicked, this, [this] { Unit().FailNthTransfer(1); });

    m_state = new QLabel(this);

    auto* form = new QFormLayout;
    form->addRow("Connection", plugRow);
    form->addRow("Station", stationRow);
    form->addRow("Line level byte", levelRow);
    form->addRow("Latency per transfer", m_latency);
    // The rows hold several controls each, so each carries its own name for assistive technology.
    m_model->setAccessibleName("Station model");
    m_version->setAccessibleName("Station version");
    m_level->setAccessibleName("Line level byte");
    m_latency->setAccessibleName("Latency per transfer");
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(fail);
    layout->addWidget(m_state);

    auto* timer = new QTimer(this);
    connect(timer, &QTimer::timeout, this, &CVirtualControllerPanel::Refresh);
    timer->start(500);
    Refresh();
}

CVirtualControllerPanel::~CVirtualControllerPanel() = default;

void CVirtualControllerPanel::ApplyStation()
{
    if (m_updating) {
        return;
    }
    const int model = kModels[std::max(0, m_model->currentIndex())];
    m_version->setEnabled(model != 0);
    Unit().SetStation(EncodeStation(model == 0 ? StationInfo{} : StationInfo{model, m_version->value()}));
}

void CVirtualControllerPanel::Refresh()
{
    m_updating = true;
    const sim::VirtualUnit unit = Unit();
    const bool plugged = unit.IsPlugged();
    m_plug->setEnabled(!plugged);
    m_unplug->setEnabled(plugged);
    const sim::Memory memory = unit.GetMemory();
    const StationInfo station = DecodeStation(memory.station);
    int modelIndex = -1;
    for (int i = 0; i < static_cast<int>(std::size(kModels)); ++i) {
        if (kModels[i] == station.model) {
            modelIndex = i;
        }
    }
    if (!m_model->hasFocus()) {
        m_model->setCurrentIndex(modelIndex);
    }
    m_version->setValue(station.version);
    m_version->setEnabled(station.model != 0);
    if (!m_level->hasFocus()) {
        m_level->setValue(memory.level);
    }
    if (!m_latency->hasFocus()) {
        m_latency->setValue(
            static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(unit.Latency()).count()));
    }
    const std::vector<std::string> refusals = unit.Refusals();
    QString state = QString::fromStdString(unit.Path()) + (plugged ? ": plugged in" : ": pulled out");
    state += QString(", firmware %1, %2 transfers")
                 .arg(QString::fromStdString(
                     FormatFirmwareVersion(DecodeFirmwareVersion(memory.firmware1, memory.firmware2))))
                 .arg(unit.TransferCount());
    if (!refusals.empty()) {
        state += "\nLast refused: " + QString::fromStdString(refusals.back());
    }
    m_state->setText(state);
    m_updating = false;
}

void CVirtualControllerPanel::RunCommand(const std::string& line)
{
    if (auto error = m_commands.Apply(line)) {
        std::fprintf(stderr, "virtual controller: %s\n", error->c_str());
    }
    Refresh();
}

void CVirtualControllerPanel::ReadCommandsFrom(int fd)
{
    m_commandInput = std::make_unique<portable::InputPump>(fd);
    m_commandWatch = std::make_unique<WaitNotifier>(m_commandInput->Handle());
    connect(m_commandWatch.get(), &WaitNotifier::Ready, this, &CVirtualControllerPanel::OnCommandsReadable);
}

void CVirtualControllerPanel::OnCommandsReadable()
{
    bool ended = false;
    const std::string bytes = m_commandInput->Read(ended);
    if (ended) {
        // End of input (or an error): the demo goes on without commands, and a last unterminated line counts.
        m_lines.Finish();
        m_commandWatch.reset();
        m_commandInput.reset();
        return;
    }
    m_lines.Feed(bytes);
}

WindowPlaces PlaceBesideDialog(const QRect& dialog, const std::vector<QRect>& keepClear, const QSize& panel,
                               const QRect& screen)
{
    constexpr int kGap = 12;
    const QRect beside[] = {
        QRect(QPoint(dialog.right() + 1 + kGap, dialog.top()), panel),
        QRect(QPoint(dialog.left() - kGap - panel.width(), dialog.top()), panel),
        QRect(QPoint(dialog.left(), dialog.bottom() + 1 + kGap), panel),
        QRect(QPoint(dialog.left(), dialog.top() - kGap - panel.height()), panel),
    };
    for (const QRect& place : beside) {
        if (screen.contains(place)) {
            return {dialog, place};
        }
    }
    // Whole on the screen, as near to `place` as it allows.
    auto onScreen = [&screen](QRect place) {
        place.moveLeft(std::max(screen.left(), std::min(place.left(), screen.right() - place.width() + 1)));
        place.moveTop(std::max(screen.top(), std::min(place.top(), screen.bottom() - place.height() + 1)));
        return place;
    };
    // Side by side, the pair centred across the screen and the gap as wide as the room allows.
    const int widthRoom = screen.width() - dialog.width() - panel.width();
    if (widthRoom >= 0) {
        const int gap = std::min(kGap, widthRoom);
        const QRect moved = onScreen(QRect(QPoint(screen.left() + (widthRoom - gap) / 2, dialog.top()), dialog.size()));
        return {moved, onScreen(QRect(QPoint(moved.right() + 1 + gap, moved.top()), panel))};
    }
    const int heightRoom = screen.height() - dialog.height() - panel.height();
    if (heightRoom >= 0) {
        const int gap = std::min(kGap, heightRoom);
        const QRect moved =
            onScreen(QRect(QPoint(dialog.left(), screen.top() + (heightRoom - gap) / 2), dialog.size()));
        return {moved, onScreen(QRect(QPoint(moved.left(), moved.bottom() + 1 + gap), panel))};
    }
    // They cannot stand apart: the panel covers the dialog's right margin, not what the user works with.
    const QRect moved = onScreen(QRect(QPoint(screen.left(), dialog.top()), dialog.size()));
    const QPoint shift = moved.topLeft() - dialog.topLeft();
    for (const int top : {moved.top(), moved.bottom() - panel.height() + 1, screen.top(), screen.bottom()}) {
        const QRect place = onScreen(QRect(QPoint(screen.right() - panel.width() + 1, top), panel));
        const bool clear = std::none_of(keepClear.begin(), keepClear.end(),
                                        [&](const QRect& part) { return part.translated(shift).intersects(place); });
        if (clear) {
            return {moved, place};
        }
    }
    return {moved, onScreen(QRect(QPoint(screen.right() - panel.width() + 1, moved.top()), panel))};
}

void CVirtualControllerPanel::ShowBeside(QWidget* dialog, const std::vector<QRect>& keepClear)
{
    show();
    const QRect screen = dialog->screen() ? dialog->screen()->availableGeometry() : QRect();
    const QRect dialogFrame = dialog->frameGeometry();
    // The parts to keep clear, from the dialog's own coordinates to the screen's.
    std::vector<QRect> parts;
    for (const QRect& part : keepClear) {
        parts.push_back(part.translated(dialog->mapToGlobal(QPoint(0, 0))));
    }
    const QRect frame = frameGeometry();
    const WindowPlaces places = PlaceBesideDialog(dialogFrame, parts, frame.size(), screen);
    // move() places the window; the frame goes around it.
    if (places.dialog != dialogFrame) {
        dialog->move(places.dialog.topLeft() + (dialog->pos() - dialogFrame.topLeft()));
    }
    move(places.panel.topLeft() + (pos() - frame.topLeft()));
}
