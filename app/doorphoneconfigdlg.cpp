#include "app/doorphoneconfigdlg.h"

#include "app/choice_list.h"

#include <QApplication>

#include "device/reports.h"
#include "resources/strings.h"
#include "settings/catalogue.h"
#include "settings/entry_rules.h"
#include "ui/internal_check.h"

#include <QComboBox>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QSocketNotifier>

#include <QCoreApplication>
#include <QEventLoop>

#include <cstring>
#include <future>
#include <system_error>
#include <thread>

namespace {

enum class Kind { ReadOnlyField, EntryField, ChoiceList, CommandButton };

struct ControlSpec {
    int id;
    Kind kind;
    int left, top, right, bottom;
    int tab;
    const char* text;
};

// The value controls and command buttons in creation order; the position is the registry slot.
constexpr ControlSpec kControls[] = {
    {2000, Kind::ReadOnlyField, 240, 100, 570, 124, 0, ""},
    {2001, Kind::ReadOnlyField, 240, 140, 390, 164, 0, ""},
    {2005, Kind::CommandButton, 420, 140, 570, 164, 0, "Install FW"},
    {2002, Kind::ReadOnlyField, 240, 180, 570, 204, 0, ""},
    {2003, Kind::ReadOnlyField, 240, 220, 570, 244, 0, ""},
    {2004, Kind::EntryField, 240, 260, 570, 284, 0, ""},
    {2006, Kind::CommandButton, 270, 300, 540, 324, 0, "Restore All Default Settings"},
    {2008, Kind::ChoiceList, 240, 100, 570, 225, 1, nullptr},
    {2009, Kind::ChoiceList, 240, 140, 570, 265, 1, nullptr},
    {2010, Kind::ChoiceList, 240, 180, 570, 305, 1, nullptr},
    {2011, Kind::ChoiceList, 240, 220, 570, 345, 1, nullptr},
    {2012, Kind::EntryField, 240, 260, 570, 284, 1, ""},
    {2013, Kind::ChoiceList, 240, 300, 570, 425, 1, nullptr},
    {2014, Kind::ChoiceList, 240, 100, 570, 225, 2, nullptr},
    {2015, Kind::ChoiceList, 240, 140, 570, 265, 2, nullptr},
    {2016, Kind::ChoiceList, 240, 180, 570, 305, 2, nullptr},
    {2017, Kind::ChoiceList, 240, 220, 570, 345, 2, nullptr},
    {2018, Kind::ChoiceList, 240, 260, 570, 385, 2, nullptr},
    {2019, Kind::EntryField, 240, 100, 570, 124, 3, ""},
    {2020, Kind::ChoiceList, 240, 140, 570, 265, 3, nullptr},
    {2021, Kind::ChoiceList, 240, 180, 570, 305, 3, nullptr},
    {2022, Kind::EntryField, 240, 220, 570, 244, 3, ""},
    {2023, Kind::EntryField, 240, 260, 570, 284, 3, ""},
    {2024, Kind::ChoiceList, 240, 300, 570, 425, 3, nullptr},
    {2025, Kind::EntryField, 240, 340, 570, 364, 3, ""},
    {2026, Kind::ChoiceList, 240, 100, 570, 225, 4, nullptr},
    {2027, Kind::ChoiceList, 240, 140, 570, 265, 4, nullptr},
    {2028, Kind::ChoiceList, 240, 180, 570, 305, 4, nullptr},
    {2029, Kind::ChoiceList, 240, 220, 570, 345, 4, nullptr},
    {2030, Kind::ChoiceList, 240, 260, 570, 385, 4, nullptr},
    {2031, Kind::ChoiceList, 240, 300, 570, 425, 4, nullptr},
    {2032, Kind::ChoiceList, 240, 340, 570, 465, 4, nullptr},
    {2033, Kind::ChoiceList, 240, 380, 570, 505, 4, nullptr},
    {2034, Kind::ChoiceList, 240, 100, 570, 225, 5, nullptr},
    {2035, Kind::ChoiceList, 240, 140, 570, 265, 5, nullptr},
    {2036, Kind::EntryField, 240, 180, 570, 204, 5, ""},
    {2037, Kind::ChoiceList, 240, 100, 570, 225, 6, nullptr},
    {2038, Kind::ChoiceList, 240, 140, 570, 265, 6, nullptr},
    {2039, Kind::ChoiceList, 240, 180, 570, 305, 6, nullptr},
    {2040, Kind::ChoiceList, 240, 220, 570, 345, 6, nullptr},
    {2041, Kind::ChoiceList, 240, 260, 570, 385, 6, nullptr},
};
static_assert(std::size(kControls) == dlg::kRegisteredControls);

// The shared row labels: id, initial text, and the tabs each is attached to.
struct LabelSpec {
    int id;
    const char* text;
    std::initializer_list<int> tabs;
};
const LabelSpec kLabels[] = {
    {1001, "init 1", {0, 1, 2, 3, 4, 5, 6}}, {1002, "init 2", {0, 1, 2, 3, 4, 5, 6}},
    {1003, "init 3", {0, 1, 2, 3, 4, 5, 6}}, {1004, "init 4", {0, 1, 2, 3, 4, 6}},
    {1005, "init 5", {0, 1, 2, 3, 4, 6}},    {1006, "init 6", {1, 3, 4}},
    {1010, "init 7", {3, 4}},                {1011, "init 8", {4}},
};

QRect Rect(int left, int top, int right, int bottom)
{
    return QRect(left, top, right - left, bottom - top);
}

// Row r's label sits at 40, 65 + 40r, 225, 84 + 40r.
QRect LabelRect(int row)
{
    return Rect(40, 65 + 40 * row, 225, 84 + 40 * row);
}

void DefaultErrorBox(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::NoIcon, "Error", text, QMessageBox::Ok, owner);
    box.exec();
}

bool DefaultConfirm(QWidget* owner, const QString& text, const QString& caption)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, owner);
    box.setDefaultButton(QMessageBox::Cancel);
    return box.exec() == QMessageBox::Ok;
}

void DefaultApplicationMessage(QWidget* owner, const QString& text)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
    box.exec();
}

// Texts are 8-bit on the wire; characters outside Latin-1 become '?' and are then refused by the rules.
std::string EightBit(const QString& text)
{
    return text.toLatin1().toStdString();
}

}  // namespace

CDoorphoneConfigDlg::CDoorphoneConfigDlg(DeviceLink& link, MonitorFactory monitorFactory, DialogHooks hooks,
                                         QWidget* parent)
    : QDialog(parent), m_link(link), m_monitorFactory(std::move(monitorFactory)), m_hooks(std::move(hooks))
{
    if (!m_hooks.error) {
        m_hooks.error = DefaultErrorBox;
    }
    if (!m_hooks.confirm) {
        m_hooks.confirm = DefaultConfirm;
    }
    if (!m_hooks.applicationMessage) {
        m_hooks.applicationMessage = DefaultApplicationMessage;
    }
    if (!m_hooks.startThread) {
        m_hooks.startThread = [](std::function<void()> work) { return std::thread(std::move(work)); };
    }
    // The icons live in a static library; this keeps the linker from dropping them.
    Q_INIT_RESOURCE(resources);
    m_hIcon.addFile(":/icons/doorphoneconfig-16.png", QSize(16, 16));
    m_hIcon.addFile(":/icons/doorphoneconfig-32.png", QSize(32, 32));
    OnInitDialog();
}

CDoorphoneConfigDlg::~CDoorphoneConfigDlg()
{
    OnDestroy();
}

void CDoorphoneConfigDlg::OnInitDialog()
{
    setWindowTitle(dlg::kTitle);
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowMinimizeButtonHint |
                   Qt::WindowCloseButtonHint);
    setFixedSize(dlg::kClientWidth, dlg::kClientHeight);
    setWindowIcon(m_hIcon);

    CreateControls();
    NameSettingControls();
    if (m_hooks.afterCreateControls) {
        m_hooks.afterCreateControls(*this);
    }
    FillChoiceLists();

    // "Arial Bold" 12 pt; fontconfig substitutes the nearest sans face where Arial is missing.
    m_statusFont = QFont("Arial", 12, QFont::Bold);
    m_statusFont.setStyleHint(QFont::SansSerif);
    GetDlgItem(dlg::kStatusLineId)->setFont(m_statusFont);
    Item<QLabel>(dlg::kStatusLineId)->setText(dlg::kConnectPrompt);

    ProbeDevice();
    RegisterForDeviceNotifications();
}

void CDoorphoneConfigDlg::RegisterItem(int id, QWidget* widget)
{
    widget->setProperty("controlId", id);
    widget->setObjectName(QString("id%1").arg(id));
    m_items[id] = widget;
}

QWidget* CDoorphoneConfigDlg::GetDlgItem(int id) const
{
    auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second.data();
}

void CDoorphoneConfigDlg::CreateControls()
{
    // 1-3: the tab control, its font and its seven items; items first, since attaching checks the count.
    m_tabCtrl = new CSTabCtrl(this);
    m_tabCtrl->setGeometry(Rect(15, 30, 650, 445));
    m_tabCtrl->setFocusPolicy(Qt::TabFocus);
    // A click on a tab takes the focus, as a tab control does on other platforms: an edit the user was in
    // is then left by that click, before the tab change hides it.
    m_tabCtrl->tabBar()->setFocusPolicy(Qt::StrongFocus);
    RegisterItem(dlg::kTabCtrlId, m_tabCtrl);
    m_uiFont = QFont("MS Sans Serif");
    m_uiFont.setPointSize(8);
    m_uiFont.setStyleHint(QFont::SansSerif);
    m_tabCtrl->setFont(m_uiFont);
    for (int i = 0; i < kTabCount; ++i) {
        m_tabCtrl->InsertItem(i, kTabNames[static_cast<std::size_t>(i)]);
    }
    connect(m_tabCtrl, &CSTabCtrl::SelChange, this, &CDoorphoneConfigDlg::OnTabChanged);

    // 4-6: the eight row labels, attached tab by tab.
    int running = 0;
    for (const LabelSpec& item : kLabels) {
        auto* label = new QLabel(item.text, this);
        LabelControls[static_cast<std::size_t>(running)] = label;
        label->setGeometry(LabelRect(running + 1));
        label->setAlignment(Qt::AlignRight | Qt::AlignTop);
        RegisterItem(item.id, label);
        ++running;
    }
    for (const QPointer<QLabel>& label : LabelControls) {
        label->setFont(m_uiFont);
    }
    for (int tab = 0; tab < kTabCount; ++tab) {
        for (std::size_t i = 0; i < std::size(kLabels); ++i) {
            for (int t : kLabels[i].tabs) {
                if (t == tab) {
                    m_tabCtrl->AddControl(LabelControls[i], tab);
                }
            }
        }
    }

    // 7: the value controls and command buttons, registered and attached; the progress bar after Install FW.
    running = 0;
    for (const ControlSpec& item : kControls) {
        QWidget* control = nullptr;
        switch (item.kind) {
        case Kind::ReadOnlyField:
        case Kind::EntryField: {
            auto* edit = new QLineEdit(item.text, this);
            edit->setReadOnly(item.kind == Kind::ReadOnlyField);
            edit->setFocusPolicy(item.kind == Kind::ReadOnlyField ? Qt::ClickFocus : Qt::StrongFocus);
            edit->setGeometry(Rect(item.left, item.top, item.right, item.bottom));
            edit->installEventFilter(this);
            control = edit;
            break;
        }
        case Kind::ChoiceList: {
            auto* combo = new CChoiceList(Rect(item.left, item.top, item.right, item.bottom), this);
            combo->setFocusPolicy(Qt::StrongFocus);
            combo->installEventFilter(this);
            const int id = item.id;
            connect(combo, &QComboBox::currentIndexChanged, this, [this, id] {
                if (m_programmaticSelection == 0) {
                    OnChoiceChanged(id);
                }
            });
            control = combo;
            break;
        }
        case Kind::CommandButton: {
            auto* button = new QPushButton(item.text, this);
            button->setAutoDefault(false);
            button->setFocusPolicy(Qt::StrongFocus);
            button->setGeometry(Rect(item.left, item.top, item.right, item.bottom));
            control = button;
            break;
        }
        }
        RegisterItem(item.id, control);
        ControlRegistry[static_cast<std::size_t>(running)] = control;
        m_tabCtrl->AddControl(ControlRegistry[static_cast<std::size_t>(running)], item.tab);
        ++running;
        if (running >= dlg::kControlRegistrySize) {
            DPC_FAILED_CHECK("control registry full");
        }
        if (item.id == dlg::kInstallFirmwareId) {
            m_progressCtrl = new QProgressBar(this);
            m_progressCtrl->setRange(0, 100);
            m_progressCtrl->setTextVisible(false);
            m_progressCtrl->setGeometry(Rect(400, 140, 570, 164));
            m_progressCtrl->hide();
            RegisterItem(dlg::kProgressBarId, m_progressCtrl);
        }
    }
    connect(Item<QPushButton>(dlg::kRestoreDefaultsId), &QPushButton::clicked, this,
            &CDoorphoneConfigDlg::OnRestoreDefaults);
    connect(Item<QPushButton>(dlg::kInstallFirmwareId), &QPushButton::clicked, this,
            &CDoorphoneConfigDlg::OnInstallFirmware);

    // 8-11: the three lines and the Close button.
    auto* status = new QLabel("init 1", this);
    status->setGeometry(Rect(10, 145, 655, 224));
    status->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    status->setWordWrap(true);  // room for the access advice
    status->setFont(m_uiFont);
    RegisterItem(dlg::kStatusLineId, status);

    auto* version = new QLabel("init 2", this);
    version->setGeometry(Rect(40, 468, 220, 492));
    version->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    version->setFont(m_uiFont);
    version->setText(kVersionLineText);
    RegisterItem(dlg::kVersionLineId, version);

    auto* connection = new QLabel("init 3", this);
    connection->setGeometry(Rect(240, 468, 440, 492));
    connection->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    connection->setFont(m_uiFont);
    RegisterItem(dlg::kConnectionLineId, connection);

    auto* close = new QPushButton("Close", this);
    close->setGeometry(Rect(575, 463, 650, 487));
    close->setFont(m_uiFont);
    close->setAutoDefault(false);
    close->setFocusPolicy(Qt::ClickFocus);  // no tab stop
    connect(close, &QPushButton::clicked, this, &QDialog::accept);
    RegisterItem(dlg::IDOK, close);
}

void CDoorphoneConfigDlg::NameSettingControls()
{
    // The row labels are shared between tabs, so a screen reader learns a control's meaning from the
    // control itself; UI tests find it by its catalogue key.
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (QWidget* control = GetDlgItem(entry.controlId)) {
            control->setObjectName(QString::fromUtf8(entry.key));
            control->setAccessibleName(QString::fromUtf8(entry.label));
        }
    }
}

void CDoorphoneConfigDlg::FillChoiceLists()
{
    ++m_programmaticSelection;
    for (const CatalogueEntry& entry : ParameterCatalogue()) {
        if (entry.kind != EntryKind::Choice) {
            continue;
        }
        auto* combo = Item<QComboBox>(entry.controlId);
        for (const std::string& text : entry.list->Entries()) {
            combo->addItem(QString::fromStdString(text));
        }
        combo->setCurrentIndex(-1);  // nothing selected before the first read
    }
    --m_programmaticSelection;
}

void CDoorphoneConfigDlg::DestroyRegisteredControls()
{
    for (QPointer<QWidget>& slot : ControlRegistry) {
        if (slot) {
            delete slot.data();
        }
    }
}

void CDoorphoneConfigDlg::OnDestroy()
{
    // A worker still streaming stops before its next transfer; once it has returned nothing more can be
    // posted to this dialog. It never waits for the dialog once the stop is requested.
    StopInstall();
    if (m_worker.joinable()) {
        m_worker.join();
    }
    // The registration goes next, so no notification reaches controls that are being destroyed.
    m_devNotifyWatch.reset();
    m_hDevNotify.reset();
    DestroyRegisteredControls();
}

void CDoorphoneConfigDlg::keyPressEvent(QKeyEvent* event)
{
    switch (event->key()) {
    case Qt::Key_Escape:
    case Qt::Key_Return:
    case Qt::Key_Enter:
        event->accept();  // neither key closes the window or runs a command
        return;
    default:
        QDialog::keyPressEvent(event);
    }
}

bool CDoorphoneConfigDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::Wheel) {
        // A wheel turned over a closed list the user is not in would write a setting by accident.
        auto* combo = qobject_cast<QComboBox*>(watched);
        if (combo && !combo->hasFocus()) {
            event->ignore();
            return true;
        }
    }
    if (event->type() == QEvent::FocusOut) {
        auto* edit = qobject_cast<QLineEdit*>(watched);
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        // The user left the edit: by key, mouse or shortcut. A window deactivation or a popup is not leaving
        // it, and neither is the focus that Qt moves on when the dialog hides or disables the edit (its
        // state has changed by the time the focus leaves, and Qt gives the move the Tab reason).
        const bool left = reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
                          reason == Qt::MouseFocusReason || reason == Qt::ShortcutFocusReason;
        const bool stillThere = edit && !edit->isHidden() && edit->isEnabled();
        if (edit && left && stillThere && !m_ignoreFocusLoss && !m_inEditKillFocus) {
            // Run after the focus change has finished, so a message box never opens inside it.
            m_pendingEdits.push_back(edit->property("controlId").toInt());
            QMetaObject::invokeMethod(this, [this] { WritePendingEdits(); }, Qt::QueuedConnection);
        }
    }
    return QDialog::eventFilter(watched, event);
}

// An edit is written when the user leaves it, so its write goes out before whatever the user did next
// (a click on a button, a list or a tab): a restore of the defaults is never followed by an edit's old text.
void CDoorphoneConfigDlg::WritePendingEdits()
{
    while (!m_pendingEdits.empty() && !m_inEditKillFocus) {
        const int id = m_pendingEdits.front();
        m_pendingEdits.erase(m_pendingEdits.begin());
        OnEditKillFocus(id);
    }
}

// ---- Read-back ----

void CDoorphoneConfigDlg::OnTabChanged()
{
    WritePendingEdits();
    const int index = m_tabCtrl->currentIndex();
    LabelTab(index);
    ReadSettings(index);
}

void CDoorphoneConfigDlg::LabelTab(int tab)
{
    for (const QPointer<QLabel>& label : LabelControls) {
        label->setText("");
    }
    m_progressCtrl->hide();
    if (tab < 0 || tab >= kTabCount) {
        return;
    }
    for (const RowLabel& row : RowLabelsOfTab(tab)) {
        if (row.stationOnly && m_stationModel != kKeypadStationModel) {
            continue;
        }
        LabelControls[static_cast<std::size_t>(row.row - 1)]->setText(row.text);
    }
}

void CDoorphoneConfigDlg::SelectEntry(QComboBox* combo, int position)
{
    ++m_programmaticSelection;
    combo->setCurrentIndex(position < combo->count() ? position : -1);
    --m_programmaticSelection;
}

void CDoorphoneConfigDlg::ReadSettings(int tab)
{
    auto& settings = SettingsImage.settings;
    auto& pool = SettingsImage.pool;
    settings[0] = report::kSettingsId;
    if (!m_link.GetFeature(settings.data(), report::kSettingsLength)) {
        return;
    }
    pool[0] = report::kStringPoolId;
    if (!m_link.GetFeature(pool.data(), report::kStringPoolLength)) {
        return;
    }
    m_stationModel = settings[report::kStationByte] >> 4;

    const std::span<const uint8_t> poolReport(pool.data(), report::kStringPoolLength);
    auto textAt = [&](int byte) {
        return QString::fromLatin1(StringPoolText(poolReport, settings[static_cast<std::size_t>(byte)]).c_str());
    };

    if (tab == 0) {
        const FirmwareVersion fw =
            DecodeFirmwareVersion(settings[report::kFirmwareByte1], settings[report::kFirmwareByte2]);
        Item<QLineEdit>(2000)->setText(QString::asprintf("  Version %d.%02d.%d", fw.major, fw.minor, fw.build));
        Item<QLineEdit>(2001)->setText(QString::asprintf("  Version %s", kFirmwareImageVersion));
        const StationInfo station = DecodeStation(settings[report::kStationByte]);
        Item<QLineEdit>(2002)->setText(
            station.model == 0 ? QString(dlg::kNoneConnected)
                               : QString::asprintf("  Model 74%02d   Version %d", station.model, station.version));
        const int percent = DecodeLineLevelPercent(settings[report::kLevelByte]);
        Item<QLineEdit>(2003)->setText(QString::asprintf("  %d%%", percent));
        if (percent < 1) {
            Item<QLineEdit>(2002)->setText(dlg::kNoneConnected);
        }
        Item<QLineEdit>(2004)->setText(textAt(5));
        return;
    }
    if (tab < 0 || tab >= kTabCount) {
        return;
    }
    for (const CatalogueEntry* entry : EntriesOfTab(tab)) {
        QWidget* control = GetDlgItem(entry->controlId);
        if (entry->kind == EntryKind::Choice) {
            SelectEntry(qobject_cast<QComboBox*>(control), settings[static_cast<std::size_t>(entry->settingsByte)]);
        } else if (entry->kind == EntryKind::Text) {
            qobject_cast<QLineEdit*>(control)->setText(textAt(entry->settingsByte));
        }
        if (entry->stationOnly) {
            control->setVisible(m_stationModel == kKeypadStationModel);
        }
    }
    if (tab == 6) {
        const int disconnectType = settings[static_cast<std::size_t>(FindEntryByControlId(kDisconnectTypeControlId)->settingsByte)];
        GetDlgItem(kLoopDisconnectControlId)->setEnabled(disconnectType == 0);
    }
}

// ---- Write-back ----

void CDoorphoneConfigDlg::OnChoiceChanged(int id)
{
    WritePendingEdits();
    const CatalogueEntry* entry = FindEntryByControlId(id);
    if (entry == nullptr || entry->kind != EntryKind::Choice) {
        return;
    }
    const int position = Item<QComboBox>(id)->currentIndex();
    if (position < 0) {
        return;  // nothing selected: there is no value to send
    }
    const bool sent = m_link.SendNumericParameter(entry->address.group, entry->address.index, position);
    if (id == kDisconnectTypeControlId) {
        GetDlgItem(kLoopDisconnectControlId)->setEnabled(position == 0);
    }
    if (!sent) {
        ReportFailedWrite();
    }
}

void CDoorphoneConfigDlg::OnEditKillFocus(int id)
{
    const CatalogueEntry* entry = FindEntryByControlId(id);
    auto* edit = Item<QLineEdit>(id);
    if (entry == nullptr || entry->kind != EntryKind::Text || edit == nullptr || m_inEditKillFocus) {
        return;
    }
    m_inEditKillFocus = true;
    const std::string text = EightBit(edit->text()).substr(0, 63);
    const EntryVerdict verdict = CheckTextEntry(*entry, text);
    if (verdict.message) {
        m_hooks.error(this, QString::fromStdString(*verdict.message));
    }
    if (verdict.focusBack) {
        m_ignoreFocusLoss = true;
        edit->setFocus(Qt::OtherFocusReason);
        m_ignoreFocusLoss = false;
    }
    m_lastEditRejected = !verdict.send;
    if (verdict.send && !m_link.SendStringParameter(entry->address.group, entry->address.index,
                                                    static_cast<int>(text.size()), text.c_str())) {
        ReportFailedWrite();
    }
    m_inEditKillFocus = false;
}

void CDoorphoneConfigDlg::OnRestoreDefaults()
{
    WritePendingEdits();
    if (!m_link.SendRestoreDefaults()) {
        ReportFailedWrite();
    }
}

void CDoorphoneConfigDlg::ReportFailedWrite()
{
    // A controller the dialog already knows is gone has been announced by the disconnected view.
    if (m_connectionState != dlg::kConnected) {
        return;
    }
    const std::string reason = DeviceLink::LastError();
    m_hooks.error(this, reason.empty() ? QString(dlg::kWriteNotTaken) : QString::fromStdString(reason));
    // Every control then shows what the controller holds; if this read fails too, they keep what they showed.
    ReadSettings(m_tabCtrl->currentIndex());
}

// ---- Connection state ----

void CDoorphoneConfigDlg::ShowConnectedView()
{
    Item<QLabel>(dlg::kConnectionLineId)->setText(dlg::kDeviceConnected);
    Item<QLabel>(dlg::kStatusLineId)->setText(dlg::kConnectPrompt);
    GetDlgItem(dlg::kStatusLineId)->hide();
    m_tabCtrl->show();
    LabelTab(0);
    ReadSettings(0);
    m_tabCtrl->SetCurSel(0);
    if (m_updatePending) {
        m_link.SendRestoreDefaults();
        m_updatePending = false;
    }
}

void CDoorphoneConfigDlg::ShowDisconnectedView()
{
    Item<QLabel>(dlg::kConnectionLineId)->setText(dlg::kDeviceDisconnected);
    m_tabCtrl->hide();
    for (const QPointer<QWidget>& control : ControlRegistry) {
        if (control) {
            control->hide();
        }
    }
    for (const QPointer<QLabel>& label : LabelControls) {
        label->hide();
    }
    m_progressCtrl->hide();  // an install's bar would cover the status line
    GetDlgItem(dlg::kStatusLineId)->show();
}

void CDoorphoneConfigDlg::ProbeDevice()
{
    if (!m_link.FindDevice() || !m_link.GetShortReport(report::kStatusId)) {
        m_connectionState = dlg::kDisconnected;
        ShowDisconnectedView();
        ShowAccessAdvice();
        return;
    }
    // Byte 5 of the status report is looked at, but nothing depends on it.
    [[maybe_unused]] const bool byte5Clear = m_link.ReportBuffer()[5] == 0;
    m_connectionState = dlg::kConnected;
    ShowConnectedView();
}

bool CDoorphoneConfigDlg::RegisterForDeviceNotifications()
{
    if (!m_monitorFactory) {
        return false;
    }
    m_hDevNotify = m_monitorFactory();
    if (!m_hDevNotify || m_hDevNotify->Fd() < 0) {
        m_hDevNotify.reset();
        return false;
    }
    m_devNotifyWatch = std::make_unique<QSocketNotifier>(m_hDevNotify->Fd(), QSocketNotifier::Read);
    connect(m_devNotifyWatch.get(), &QSocketNotifier::activated, this, &CDoorphoneConfigDlg::OnHotplugEvents);
    return true;
}

void CDoorphoneConfigDlg::OnHotplugEvents()
{
    if (!m_hDevNotify) {
        return;
    }
    for (const HotplugEvent& event : m_hDevNotify->ReadEvents()) {
        switch (event.action) {
        case HotplugAction::Add:
            OnDeviceChange(DBT_DEVICEARRIVAL, event.devicePath.c_str());
            break;
        case HotplugAction::Remove:
            OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, event.devicePath.c_str());
            break;
        case HotplugAction::Other:
            break;
        }
    }
}

void CDoorphoneConfigDlg::ShowAccessAdvice()
{
    // Only the disconnected view's prompt gives way to the advice, never an install's outcome text.
    auto* status = Item<QLabel>(dlg::kStatusLineId);
    const std::string denied = m_link.InaccessiblePath();
    const QString text = status->text();
    const bool showsPromptOrAdvice = text == dlg::kConnectPrompt || text == m_accessAdvice;
    if (m_connectionState != dlg::kDisconnected || !showsPromptOrAdvice) {
        return;
    }
    m_accessAdvice = denied.empty() ? QString() : QString::fromStdString(controller::AccessAdvice(denied));
    status->setText(denied.empty() ? QString(dlg::kConnectPrompt) : m_accessAdvice);
}

int CDoorphoneConfigDlg::OnDeviceChange(unsigned event, const char* devicePath)
{
    if (devicePath == nullptr || devicePath[0] == '\0' || std::strlen(devicePath) < 5) {
        return 1;
    }
    const bool present = m_link.FindDevice();
    auto connectAfterSettling = [this] {
        std::this_thread::sleep_for(m_arrivalSettleTime);
        m_connectionState = dlg::kConnected;
        ShowConnectedView();
    };
    auto disconnect = [this] {
        m_connectionState = dlg::kDisconnected;
        ShowDisconnectedView();
    };
    switch (event) {
    case DBT_DEVNODES_CHANGED:
        present ? connectAfterSettling() : disconnect();
        break;
    case DBT_DEVICEARRIVAL:
        if (present) {
            connectAfterSettling();
        }
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        if (!present) {
            disconnect();
        }
        break;
    default:
        break;
    }
    ShowAccessAdvice();
    return 1;
}

// ---- Firmware install ----

void CDoorphoneConfigDlg::OnInstallFirmware()
{
    WritePendingEdits();
    if (!m_hooks.confirm(this, kInstallQuestion, dlg::kTitle)) {
        return;
    }
    m_updatePending = true;
    // Locking moves the focus from control to control; none of that is the user leaving an edit.
    m_ignoreFocusLoss = true;
    m_tabCtrl->setFocus(Qt::OtherFocusReason);
    GetDlgItem(dlg::kInstallFirmwareId)->hide();
    m_tabCtrl->setEnabled(false);
    GetDlgItem(dlg::IDOK)->setEnabled(false);
    m_progressCtrl->show();
    m_ignoreFocusLoss = false;

    std::FILE* trace = m_hooks.firmwareTrace ? m_hooks.firmwareTrace : stdout;
    auto stream = m_hooks.firmwareImage ? std::make_shared<FirmwareStream>(m_link, nullptr, trace, m_hooks.firmwareImage)
                                        : std::make_shared<FirmwareStream>(m_link, nullptr, trace);
    m_activeStream = stream;
    auto param = std::make_unique<UpdateThreadParam>(UpdateThreadParam{this, stream});
    if (m_worker.joinable()) {
        m_worker.join();  // the last install's worker, which has already posted its outcome
    }
    try {
        m_worker = m_hooks.startThread([p = std::make_shared<std::unique_ptr<UpdateThreadParam>>(std::move(param))] {
            FirmwareUpdateThread(std::move(*p));
        });
    } catch (const std::system_error&) {
        // Nothing would ever unlock the window: end the install as a failed one.
        OnUpdateFailed();
    }
}

unsigned CDoorphoneConfigDlg::FirmwareUpdateThread(std::unique_ptr<UpdateThreadParam> param)
{
    CDoorphoneConfigDlg* dialog = param->dialog;
    FirmwareStream& stream = *param->stream;

    // A failed write is shown on the GUI thread; the worker waits for its dismissal, or for a stop.
    auto onChunkError = [dialog, &stream](const std::string& text) {
        auto dismissed = std::make_shared<std::promise<void>>();
        std::future<void> done = dismissed->get_future();
        const QString message = QString::fromLocal8Bit(text.c_str());
        QMetaObject::invokeMethod(
            dialog,
            [dialog, message, dismissed] {
                dialog->ShowFirmwareError(message);
                dismissed->set_value();
            },
            Qt::QueuedConnection);
        while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
            if (stream.StopRequested()) {
                return;
            }
        }
    };
    stream.SetErrorHook(onChunkError);

    stream.SendBootReport();
    // Only posts that move the bar are made: about a hundred instead of one per byte.
    int lastPosition = -1;
    const bool ok = stream.StreamFirmwareImage([dialog, &lastPosition](uint32_t consumed, uint32_t total) {
        const int position = static_cast<int>(static_cast<uint64_t>(consumed) * 100 / total);
        if (position != lastPosition) {
            lastPosition = position;
            QMetaObject::invokeMethod(
                dialog, [dialog, consumed, total] { dialog->OnUpdateProgress(consumed, total); }, Qt::QueuedConnection);
        }
    });
    if (!stream.StopRequested()) {
        QMetaObject::invokeMethod(
            dialog, [dialog, ok] { ok ? dialog->OnUpdateDone() : dialog->OnUpdateFailed(); }, Qt::QueuedConnection);
    }
    return ok ? 1 : 0;
}

void CDoorphoneConfigDlg::ShowFirmwareError(const QString& text)
{
    if (m_hooks.firmwareError) {
        m_hooks.firmwareError(text);
        return;
    }
    // Owned by no window and modal to none: the locked dialog keeps its own close command meanwhile.
    QMessageBox box(QMessageBox::Information, "Error", text, QMessageBox::Ok, nullptr);
    box.setWindowModality(Qt::NonModal);
    m_firmwareErrorBox = &box;
    QEventLoop dismissed;
    connect(&box, &QMessageBox::finished, &dismissed, &QEventLoop::quit);
    box.show();
    dismissed.exec();
}

void CDoorphoneConfigDlg::OnUpdateProgress(uint32_t consumed, uint32_t total)
{
    if (total == 0) {
        return;
    }
    m_progressCtrl->setValue(static_cast<int>(static_cast<uint64_t>(consumed) * 100 / total));
}

void CDoorphoneConfigDlg::OnUpdateDone()
{
    m_activeStream.reset();
    Item<QLabel>(dlg::kStatusLineId)->setText(dlg::kProgrammingComplete);
    m_progressCtrl->hide();
    m_tabCtrl->setEnabled(true);
    GetDlgItem(dlg::IDOK)->setEnabled(true);
    m_ignoreFocusLoss = true;
    m_tabCtrl->setFocus(Qt::OtherFocusReason);
    m_ignoreFocusLoss = false;
}

void CDoorphoneConfigDlg::OnUpdateFailed()
{
    m_activeStream.reset();
    m_hooks.applicationMessage(this, dlg::kThreadExited);
    Item<QLabel>(dlg::kStatusLineId)->setText(dlg::kProgrammingFailed);
    m_progressCtrl->hide();
    m_tabCtrl->setEnabled(true);
    GetDlgItem(dlg::IDOK)->setEnabled(true);
    ShowDisconnectedView();
    m_connectionState = dlg::kDisconnected;
}

void CDoorphoneConfigDlg::StopInstall()
{
    if (m_activeStream) {
        m_activeStream->RequestStop();
    }
    if (m_firmwareErrorBox) {
        m_firmwareErrorBox->reject();  // lets the worker's wait end and the nested loop unwind
    }
}

void CDoorphoneConfigDlg::done(int result)
{
    if (!WriteEditsBeforeClosing()) {
        return;  // a rejected entry keeps the window open, as it would for any other click
    }
    StopInstall();
    QDialog::done(result);
}

bool CDoorphoneConfigDlg::WriteEditsBeforeClosing()
{
    // The edit the user is still in (the window's close button takes no focus) is left now.
    auto* edit = qobject_cast<QLineEdit*>(QApplication::focusWidget());
    const CatalogueEntry* entry = edit ? FindEntryByControlId(edit->property("controlId").toInt()) : nullptr;
    if (entry && entry->kind == EntryKind::Text && edit->window() == this && !edit->isHidden() && edit->isEnabled() &&
        std::find(m_pendingEdits.begin(), m_pendingEdits.end(), entry->controlId) == m_pendingEdits.end()) {
        m_pendingEdits.push_back(entry->controlId);
    }
    bool rejected = false;
    while (!m_pendingEdits.empty() && !m_inEditKillFocus) {
        const int id = m_pendingEdits.front();
        m_pendingEdits.erase(m_pendingEdits.begin());
        OnEditKillFocus(id);
        rejected = rejected || m_lastEditRejected;
    }
    return !rejected && !m_inEditKillFocus;
}
