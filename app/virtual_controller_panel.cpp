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
        m_latency->setValue(static_cast<int>(
            std::chrono::duration_cast<std::chrono::milliseconds>(unit.Latency()).count()));
    }
    const std::vector<std::string> refusals = unit.Refusals();
    QString state = QString::fromStdString(unit.Path()) + (plugged ? ": plugged in" : ": pulled out");
    state += QString(", firmware %1, %2 transfers")
                 .arg(QString::fromStdString(FormatFirmwareVersion(DecodeFirmwareVersion(memory.firmware1, memory.firmware2))))
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

QRect PanelPlace(const QRect& beside, int tabsBottom, const QSize& panel, const QRect& screen)
{
    constexpr int kGap = 12;
    const QRect candidates[] = {
        QRect(QPoint(beside.right() + 1 + kGap, beside.top()), panel),
        QRect(QPoint(beside.left() - kGap - panel.width(), beside.top()), panel),
        QRect(QPoint(beside.left(), beside.bottom() + 1 + kGap), panel),
        QRect(QPoint(beside.left(), beside.top() - kGap - panel.height()), panel),
    };
    for (const QRect& place : candidates) {
        if (screen.contains(place)) {
            return place;
        }
    }
    // No room beside it: over the dialog's lower part, never over its tabs where the screen allows.
    QRect place(QPoint(screen.right() - panel.width() + 1, std::max(tabsBottom + kGap, screen.top())), panel);
    if (place.bottom() > screen.bottom()) {
        place.moveBottom(screen.bottom());
    }
    place.moveLeft(std::max(place.left(), screen.left()));
    return place;
}

void CVirtualControllerPanel::ShowBeside(QWidget* dialog, int tabsBottom)
{
    show();
    const QRect screen = dialog->screen() ? dialog->screen()->availableGeometry() : QRect();
    const QRect frame = frameGeometry();
    const QRect place = PanelPlace(dialog->frameGeometry(), tabsBottom, frame.size(), screen);
    move(place.topLeft() + (pos() - frame.topLeft()));  // move() places the window, the frame goes around it
}
