// The settings on screen: reading a tab into its controls, and writing back what the user changed, with
// the rules for when leaving an edit counts as the user leaving it.
#include "app/doorphoneconfigdlg.h"

#include "resources/strings.h"
#include "settings/catalogue.h"
#include "settings/entry_rules.h"
#include "settings/snapshot.h"
#include "settings/text_encoding.h"

#include <QApplication>
#include <QComboBox>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QProgressBar>
#include <QTabBar>

#include <algorithm>

bool CDoorphoneConfigDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() == QEvent::MouseButtonPress && watched == m_tabCtrl->tabBar() && !m_pendingEdits.empty()) {
        // A click on another tab right after an edit (the click gave the tab bar the focus, so the edit waits
        // to be written): the edit is judged before the tab changes, and a rejected entry keeps the tab, as
        // with the tab keys.
        auto* press = static_cast<QMouseEvent*>(event);
        QTabBar* bar = m_tabCtrl->tabBar();
        const int index = bar->tabAt(press->position().toPoint());
        if (press->button() == Qt::LeftButton && index >= 0 && index != bar->currentIndex()) {
            if (WritePendingEdits()) {
                bar->setCurrentIndex(index);
            }
            return true;
        }
    }
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
            QMetaObject::invokeMethod(
                this, [this] { WritePendingEdits(); }, Qt::QueuedConnection);
        }
    }
    return QDialog::eventFilter(watched, event);
}

// An edit is written when the user leaves it, so its write goes out before whatever the user did next
// (a click on a button, a list or a tab): a restore of the defaults is never followed by an edit's old text.
bool CDoorphoneConfigDlg::WritePendingEdits()
{
    bool accepted = true;
    while (!m_pendingEdits.empty() && !m_inEditKillFocus) {
        const int id = m_pendingEdits.front();
        m_pendingEdits.erase(m_pendingEdits.begin());
        OnEditKillFocus(id);
        accepted = accepted && !m_lastEditRejected;
    }
    return accepted && !m_inEditKillFocus;
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
    return WritePendingEdits();
}

bool CDoorphoneConfigDlg::LeaveForAnotherTab(Qt::FocusReason reason)
{
    // The tab bar takes the focus, as a click on it gives it: the edit the user was in is left while it is
    // still on screen, and judged before the new tab's controls replace it.
    QTabBar* bar = m_tabCtrl->tabBar();
    if (!bar->hasFocus()) {
        bar->setFocus(reason);
    }
    return WritePendingEdits();
}

void CDoorphoneConfigDlg::OnTabChanged()
{
    WritePendingEdits();
    const int index = m_tabCtrl->currentIndex();
    LabelTab(index);
    ReadSettings(index);
    KeepFocusOnScreen();
}

void CDoorphoneConfigDlg::KeepFocusOnScreen()
{
    QWidget* focused = focusWidget();
    if (focused != nullptr && focused->isVisibleTo(this) && focused->isEnabled()) {
        return;
    }
    // Moved by the dialog, so an edit that loses it this way is not written.
    m_ignoreFocusLoss = true;
    QWidget* status = GetDlgItem(dlg::kStatusLineId);
    if (m_tabCtrl->isVisibleTo(this) && m_tabCtrl->isEnabled()) {
        m_tabCtrl->tabBar()->setFocus(Qt::OtherFocusReason);
    } else if (m_progressCtrl->isVisibleTo(this)) {
        m_progressCtrl->setFocus(Qt::OtherFocusReason);  // an install: its progress is what there is to read
    } else if (status->isVisibleTo(this)) {
        status->setFocus(Qt::OtherFocusReason);  // the disconnected view: the line that says what to do
    } else if (focused != nullptr) {
        focused->clearFocus();
    }
    m_ignoreFocusLoss = false;
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
    // Each row label names its row's value control to assistive technology, as its buddy.
    for (const CatalogueEntry* entry : EntriesOfTab(tab)) {
        LabelControls[static_cast<std::size_t>(entry->row - 1)]->setBuddy(GetDlgItem(entry->controlId));
    }
}

void CDoorphoneConfigDlg::SelectEntry(QComboBox* combo, int position)
{
    ++m_programmaticSelection;
    combo->setCurrentIndex(position < combo->count() ? position : -1);
    --m_programmaticSelection;
}

bool CDoorphoneConfigDlg::ReadSettings(int tab)
{
    if (!m_session.ReadSettings(SettingsImage)) {
        return false;
    }
    const SettingsSnapshot& read = SettingsImage;
    m_stationModel = read.Station().model;
    if (tab < 0 || tab >= kTabCount) {
        return true;
    }
    for (const CatalogueEntry* entry : EntriesOfTab(tab)) {
        QWidget* control = GetDlgItem(entry->controlId);
        switch (entry->kind) {
        case EntryKind::Status:
            qobject_cast<QLineEdit*>(control)->setText(StatusText(*entry, read));
            break;
        case EntryKind::Choice:
            SelectEntry(qobject_cast<QComboBox*>(control), read.Byte(*entry));
            break;
        case EntryKind::Text:
            qobject_cast<QLineEdit*>(control)->setText(QString::fromLatin1(read.Text(*entry).c_str()));
            break;
        }
        if (entry->stationOnly) {
            control->setVisible(read.KeypadStation());
        }
        if (DependencyOf(*entry)) {
            control->setEnabled(read.Allows(*entry));
        }
    }
    return true;
}

QString CDoorphoneConfigDlg::StatusText(const CatalogueEntry& entry, const SettingsSnapshot& read)
{
    switch (entry.status) {
    case StatusField::Firmware: {
        const FirmwareVersion fw = read.Firmware();
        return QString::asprintf("  Version %d.%02d.%d", fw.major, fw.minor, fw.build);
    }
    case StatusField::CarriedFirmware:
        return QString::asprintf("  Version %s", kFirmwareImageVersion);
    case StatusField::Station: {
        const StationInfo station = read.Station();
        return read.StationAttached() ? QString::asprintf("  Model 74%02d   Version %d", station.model, station.version)
                                      : QString(dlg::kNoneConnected);
    }
    case StatusField::LineLevel:
        return QString::asprintf("  %d%%", read.LevelPercent());
    case StatusField::None:
        break;
    }
    return {};
}

void CDoorphoneConfigDlg::OnChoiceChanged(int id)
{
    WritePendingEdits();
    const CatalogueEntry* entry = FindEntryByControlId(id);
    if (entry == nullptr || entry->kind != EntryKind::Choice) {
        return;
    }
    auto* combo = Item<QComboBox>(id);
    if (!combo->isVisibleTo(this)) {
        return;  // not on screen: no key may write it
    }
    const int position = combo->currentIndex();
    if (position < 0) {
        return;  // nothing selected: there is no value to send
    }
    const bool sent = m_session.WriteChoice(*entry, position);
    // The settings this one decides become free or locked with it.
    for (const SettingDependency* rule : RulesDecidedBy(*entry)) {
        GetDlgItem(FindEntryByKey(rule->dependent)->controlId)->setEnabled(position == rule->position);
    }
    if (!sent) {
        ReportFailedWrite(entry);
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
    const std::string text = EntryText(edit->text().toStdString());
    const EntryVerdict verdict = CheckTextEntry(*entry, text);
    if (verdict.message) {
        m_hooks.error(this, QString::fromStdString(*verdict.message), {});
    }
    if (verdict.focusBack) {
        m_ignoreFocusLoss = true;
        edit->setFocus(Qt::OtherFocusReason);
        m_ignoreFocusLoss = false;
    }
    m_lastEditRejected = !verdict.send;
    if (verdict.send && !m_session.WriteText(*entry, text)) {
        ReportFailedWrite(entry);
    }
    m_inEditKillFocus = false;
}

void CDoorphoneConfigDlg::OnRestoreDefaults()
{
    WritePendingEdits();
    if (!m_session.RestoreDefaults()) {
        ReportFailedWrite(nullptr);
        return;
    }
    // Every value may have changed: the tab shows what the controller holds now.
    ReadSettings(m_tabCtrl->currentIndex());
}

void CDoorphoneConfigDlg::ReportFailedWrite(const CatalogueEntry* entry)
{
    // A controller the dialog already knows is gone has been announced by the disconnected view.
    if (m_connectionState != dlg::kConnected) {
        return;
    }
    const std::string reason = DeviceLink::LastError();
    // The system's words, then what they mean here: which setting, that it is not saved, what is shown now.
    const QString what = entry ? QString("The controller did not take %1, so it is not saved.").arg(entry->label)
                               : QString("The controller did not restore its default settings.");
    m_hooks.error(this, reason.empty() ? QString(dlg::kWriteNotTaken) : QString::fromStdString(reason),
                  what + " The window now shows what the controller holds.");
    // Every control then shows what the controller holds; if this read fails too, they keep what they showed.
    ReadSettings(m_tabCtrl->currentIndex());
}
