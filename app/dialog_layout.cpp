// The dialog's controls: where each one sits, on which tab, in which registry slot, and their creation.
#include "app/doorphoneconfigdlg.h"

#include "app/accessible_controls.h"
#include "app/choice_list.h"
#include "resources/strings.h"
#include "settings/catalogue.h"
#include "ui/internal_check.h"

#include <QFontMetrics>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>

namespace {

enum class Kind { ReadOnlyField, EntryField, ChoiceList, CommandButton };

struct ControlLayout {
    int id;
    Kind kind;
    int left, top, right, bottom;
    int tab;
    const char* text;
};

// The value controls and command buttons in creation order; the position is the registry slot.
constexpr ControlLayout kControls[] = {
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
struct LabelLayout {
    int id;
    const char* text;
    std::initializer_list<int> tabs;
};
const LabelLayout kLabels[] = {
    {1001, "init 1", {0, 1, 2, 3, 4, 5, 6}},
    {1002, "init 2", {0, 1, 2, 3, 4, 5, 6}},
    {1003, "init 3", {0, 1, 2, 3, 4, 5, 6}},
    {1004, "init 4", {0, 1, 2, 3, 4, 6}},
    {1005, "init 5", {0, 1, 2, 3, 4, 6}},
    {1006, "init 6", {1, 3, 4}},
    {1010, "init 7", {3, 4}},
    {1011, "init 8", {4}},
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

}  // namespace

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
    InstallAccessibleControls();
    m_readOnlyTabStops = std::make_unique<ReadOnlyTabStops>();
    // The tab control, its font and its seven items; items first, since attaching checks the count.
    m_tabCtrl = new CSTabCtrl(this);
    m_tabCtrl->setGeometry(Rect(15, 30, 650, 445));
    m_tabCtrl->setFocusPolicy(Qt::TabFocus);
    // A click on a tab takes the focus, as a tab control does on other platforms: an edit the user was in
    // is then left by that click, before the tab change hides it.
    m_tabCtrl->tabBar()->setFocusPolicy(Qt::StrongFocus);
    m_tabCtrl->tabBar()->installEventFilter(this);  // such a click is judged before the tab changes
    RegisterItem(dlg::kTabCtrlId, m_tabCtrl);
    m_uiFont = QFont("MS Sans Serif");
    m_uiFont.setPointSize(8);
    m_uiFont.setStyleHint(QFont::SansSerif);
    m_tabCtrl->setFont(m_uiFont);
    for (int i = 0; i < kTabCount; ++i) {
        m_tabCtrl->InsertItem(i, kTabNames[static_cast<std::size_t>(i)]);
    }
    // Every title whole and at the dialog's font: a style with wider tabs (Adwaita's) gets less padding.
    m_tabCtrl->FitTabsByPadding();
    connect(m_tabCtrl, &CSTabCtrl::SelChange, this, &CDoorphoneConfigDlg::OnTabChanged);

    // The eight row labels, shared by the tabs and attached to each tab that uses them.
    int running = 0;
    for (const LabelLayout& item : kLabels) {
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

    // The value controls and command buttons, registered and attached; the progress bar after Install FW.
    running = 0;
    for (const ControlLayout& item : kControls) {
        QWidget* control = nullptr;
        switch (item.kind) {
        case Kind::ReadOnlyField:
        case Kind::EntryField: {
            auto* edit = new QLineEdit(item.text, this);
            edit->setReadOnly(item.kind == Kind::ReadOnlyField);
            if (item.kind == Kind::ReadOnlyField) {
                m_readOnlyTabStops->Add(edit);  // a Tab stop only while a screen reader is running
            } else {
                edit->setFocusPolicy(Qt::StrongFocus);
            }
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
            m_progressCtrl->setAccessibleName("Firmware install progress");
            m_progressCtrl->setGeometry(Rect(400, 140, 570, 164));
            m_progressCtrl->hide();
            RegisterItem(dlg::kProgressBarId, m_progressCtrl);
        }
    }
    connect(Item<QPushButton>(dlg::kRestoreDefaultsId), &QPushButton::clicked, this,
            &CDoorphoneConfigDlg::OnRestoreDefaults);
    connect(Item<QPushButton>(dlg::kInstallFirmwareId), &QPushButton::clicked, this,
            &CDoorphoneConfigDlg::OnInstallFirmware);

    // The status, version and connection lines, and the Close button.
    auto* status = new QLabel("init 1", this);
    status->setGeometry(Rect(10, 145, 655, 224));
    status->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    status->setWordWrap(true);  // room for the access advice
    status->setFont(m_uiFont);
    MakeAnnouncedLine(status);
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
    MakeAnnouncedLine(connection);
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
            UseOwnAccessibleInterface(control);
            // The name is the label and the value the shown entry or text (see accessible_controls); the
            // description carries the label too, for readers that look there.
            control->setAccessibleDescription(QString::fromUtf8(entry.label));
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
    FitValueFont();
}

void CDoorphoneConfigDlg::FitValueFont()
{
    // The value controls keep the platform's control font, made smaller only as far as the fixed rectangles
    // need to hold every value whole (a large desktop font would otherwise cut them).
    constexpr int kEditHeight = 24;
    constexpr int kEditChrome = 6;     // frame and margins around an edit's line
    constexpr int kChoiceChrome = 40;  // frame, margins and the arrow of a closed choice list
    QFont font = GetDlgItem(dlg::kRestoreDefaultsId)->font();
    auto fits = [this](const QFont& candidate) {
        const QFontMetrics metrics(candidate);
        if (metrics.height() > kEditHeight - kEditChrome) {
            return false;
        }
        for (const CatalogueEntry& entry : ParameterCatalogue()) {
            if (entry.kind != EntryKind::Choice) {
                continue;
            }
            const int room = GetDlgItem(entry.controlId)->width() - kChoiceChrome;
            for (const std::string& text : entry.list->Entries()) {
                if (metrics.horizontalAdvance(QString::fromStdString(text)) > room) {
                    return false;
                }
            }
        }
        return true;
    };
    const QFont platform = font;
    while (!fits(font) && font.pointSizeF() > 6) {
        font.setPointSizeF(font.pointSizeF() - 0.5);
    }
    if (font == platform) {
        return;
    }
    for (const QPointer<QWidget>& control : ControlRegistry) {
        if (control) {
            control->setFont(font);
        }
    }
}

void CDoorphoneConfigDlg::DestroyRegisteredControls()
{
    for (QPointer<QWidget>& slot : ControlRegistry) {
        if (slot) {
            delete slot.data();
        }
    }
}
