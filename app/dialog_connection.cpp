// The connected and disconnected views, and the plug and pull-out notifications that switch between them.
#include "app/doorphoneconfigdlg.h"

#include "app/accessible_controls.h"

#include "app/wait_notifier.h"
#include "resources/strings.h"

#include <QCoreApplication>
#include <QFontMetrics>
#include <QLabel>
#include <QProgressBar>

void CDoorphoneConfigDlg::ShowConnectedView()
{
    ShowConnectionLine();
    SetLineText(dlg::kStatusLineId, dlg::kConnectPrompt);
    GetDlgItem(dlg::kStatusLineId)->hide();
    m_tabCtrl->show();
    LabelTab(0);
    const bool read = ReadSettings(0);
    m_tabCtrl->SetCurSel(0);
    KeepFocusOnScreen();
    // The restore an install owes goes to the programmed controller only; whether it was taken is not examined.
    if (m_session.RestoreOwedDefaults(read ? &SettingsImage : nullptr) ==
        ControllerSession::OwedRestore::OtherController) {
        const std::optional<std::string> difference = m_session.DifferenceFromProgrammed(SettingsImage);
        const QString text = QString::fromStdString(
            "This controller is not the one whose firmware was just installed: " + difference.value_or("") +
            ". Its settings are left as they are. Plug in the controller that was programmed to have its defaults "
            "restored.");
        // After this handler, so the box's own event loop never runs inside the change of view.
        QMetaObject::invokeMethod(
            this, [this, text] { m_hooks.applicationMessage(this, text, {}); }, Qt::QueuedConnection);
    }
}

void CDoorphoneConfigDlg::ShowDecision(const ConnectionDecision& decision)
{
    switch (decision.kind) {
    case ConnectionDecision::Kind::Connect:
        m_holdRetry.stop();
        m_connectionState = dlg::kConnected;
        ShowConnectedView();
        break;
    case ConnectionDecision::Kind::HeldElsewhere:
        ShowHeldElsewhere(decision);
        break;
    case ConnectionDecision::Kind::Disconnect:
        m_holdRetry.stop();
        m_connectionState = dlg::kDisconnected;
        ShowDisconnectedView();
        break;
    case ConnectionDecision::Kind::Ignore:
    case ConnectionDecision::Kind::Stay:
        break;
    }
}

void CDoorphoneConfigDlg::ShowHeldElsewhere(const ConnectionDecision& decision)
{
    m_connectionState = dlg::kDisconnected;
    ShowDisconnectedView();
    // The holder's name comes from the system, but it is another user's to choose: shown as plain text.
    Item<QLabel>(dlg::kStatusLineId)->setTextFormat(Qt::PlainText);
    SetLineText(dlg::kStatusLineId,
                QString::fromStdString(
                    "The controller at " + decision.path +
                    (decision.heldBy.empty()
                         ? " cannot be held against other programs' changes: " + decision.error +
                               ".\nIt shows here once it can be."
                         : " is in use by " + decision.heldBy + ".\nIt shows here once that program is done.")));
    ShowConnectionLine();
    m_holdRetry.start();
}

void CDoorphoneConfigDlg::OnHoldRetry()
{
    const ConnectionDecision decision = m_policy.RetryHold();
    if (decision.kind == ConnectionDecision::Kind::Stay) {
        m_holdRetry.stop();
        return;
    }
    ShowDecision(decision);
    if (decision.kind == ConnectionDecision::Kind::Disconnect) {
        SetLineText(dlg::kStatusLineId, dlg::kConnectPrompt);
        ShowAccessAdvice();
    }
}

void CDoorphoneConfigDlg::ShowDisconnectedView()
{
    // The status line first, and the focus on it before anything goes: a control about to be hidden never
    // gets the focus on the way (as Qt would pass it along the Tab chain while the controls go one by one).
    auto* status = Item<QLabel>(dlg::kStatusLineId);
    const bool wasHidden = status->isHidden();
    status->show();
    m_progressCtrl->hide();  // an install's bar would cover the status line
    if (QWidget* focused = focusWidget(); focused != nullptr && focused != status) {
        m_ignoreFocusLoss = true;  // moved by the dialog: an edit that loses it this way is not written
        status->setFocus(Qt::OtherFocusReason);
        m_ignoreFocusLoss = false;
    }
    m_tabCtrl->hide();
    for (const QPointer<QWidget>& control : ControlRegistry) {
        if (control) {
            control->hide();
        }
    }
    for (const QPointer<QLabel>& label : LabelControls) {
        label->hide();
    }
    if (wasHidden) {
        AnnounceLine(dlg::kStatusLineId);  // an outcome written while the line was hidden ("Programming Complete...")
                                           // is heard now
    }
    ShowConnectionLine();
    KeepFocusOnScreen();
}

void CDoorphoneConfigDlg::SetLineText(int id, const QString& text)
{
    auto* line = Item<QLabel>(id);
    if (line->text() == text) {
        return;
    }
    SetAnnouncedText(line, text);
    if (m_hooks.announced) {
        m_hooks.announced(id, text);
    }
}

void CDoorphoneConfigDlg::AnnounceLine(int id)
{
    auto* line = Item<QLabel>(id);
    Announce(line);
    if (m_hooks.announced) {
        m_hooks.announced(id, line->text());
    }
}

void CDoorphoneConfigDlg::ShowConnectionLine(const std::string& leaving)
{
    auto* line = Item<QLabel>(dlg::kConnectionLineId);
    const QRect ownPlace(240, 468, 200, 24);
    line->setGeometry(ownPlace);
    line->setToolTip({});
    if (m_connectionState != dlg::kConnected) {
        // The disconnected view's own line, unless a controller is there that the window may not show.
        const bool noAccess = !m_accessAdvice.isEmpty() && Item<QLabel>(dlg::kStatusLineId)->text() == m_accessAdvice;
        SetLineText(dlg::kConnectionLineId, m_policy.HeldElsewhere() ? dlg::kDeviceInUse
                                            : noAccess               ? dlg::kDeviceNotAccessible
                                                                     : dlg::kDeviceDisconnected);
        return;
    }
    const std::size_t attached = m_session.ControllersAttached(leaving);
    if (attached <= 1) {
        SetLineText(dlg::kConnectionLineId, dlg::kDeviceConnected);
        return;
    }
    // Which one the window changes, in the room up to the Close button; a long path loses its middle.
    line->setGeometry(ownPlace.adjusted(0, 0, GetDlgItem(dlg::IDOK)->x() - 5 - ownPlace.right() - 1, 0));
    const QString path = QString::fromStdString(m_session.DevicePath());
    const QString count = QString(" (%1 attached)").arg(attached);
    const QString head = QString(dlg::kDeviceConnected) + ": ";
    const QFontMetrics metrics(line->font());
    const int room = line->width() - metrics.horizontalAdvance(head + count);
    SetLineText(dlg::kConnectionLineId, head + metrics.elidedText(path, Qt::ElideMiddle, room) + count);
    line->setToolTip(head + path + count);
}

QString CDoorphoneConfigDlg::ShownControllerNote()
{
    const std::size_t attached = m_session.ControllersAttached();
    if (attached <= 1) {
        return {};
    }
    return QString("It installs on the controller at %1, one of the %2 attached.")
        .arg(QString::fromStdString(m_session.DevicePath()))
        .arg(attached);
}

void CDoorphoneConfigDlg::ProbeDevice()
{
    const ConnectionDecision decision = m_policy.Probe();
    ShowDecision(decision);
    if (decision.kind == ConnectionDecision::Kind::Disconnect) {
        ShowAccessAdvice();
    }
}

bool CDoorphoneConfigDlg::RegisterForDeviceNotifications()
{
    if (!m_monitorFactory) {
        return false;
    }
    m_hDevNotify = m_monitorFactory();
    if (!m_hDevNotify || m_hDevNotify->Waitable() == portable::kNoWaitHandle) {
        m_hDevNotify.reset();
        return false;
    }
    m_devNotifyWatch = std::make_unique<WaitNotifier>(m_hDevNotify->Waitable());
    connect(m_devNotifyWatch.get(), &WaitNotifier::Ready, this, &CDoorphoneConfigDlg::OnHotplugEvents);
    return true;
}

void CDoorphoneConfigDlg::OnHotplugEvents()
{
    if (!m_hDevNotify) {
        return;
    }
    m_policy.Queue(m_hDevNotify->ReadEvents());
    while (const std::optional<HotplugEvent> event = m_policy.NextQueued()) {
        switch (event->action) {
        case HotplugAction::Add:
            OnDeviceChange(DBT_DEVICEARRIVAL, event->devicePath.c_str());
            break;
        case HotplugAction::Remove:
            OnDeviceChange(DBT_DEVICEREMOVECOMPLETE, event->devicePath.c_str());
            break;
        case HotplugAction::Other:
            break;
        }
    }
}

void CDoorphoneConfigDlg::ShowAccessAdvice()
{
    if (m_policy.HeldElsewhere()) {
        return;  // the line says who holds the controller
    }
    // Only the disconnected view's prompt gives way to the advice, never an install's outcome text.
    auto* status = Item<QLabel>(dlg::kStatusLineId);
    const std::string denied = m_session.InaccessiblePath();
    const QString text = status->text();
    const bool showsPromptOrAdvice = text == dlg::kConnectPrompt || text == m_accessAdvice;
    if (m_connectionState != dlg::kDisconnected || !showsPromptOrAdvice) {
        return;
    }
    m_accessAdvice = denied.empty() ? QString() : QString::fromStdString(controller::AccessAdvice(denied));
    SetLineText(dlg::kStatusLineId, denied.empty() ? QString(dlg::kConnectPrompt) : m_accessAdvice);
    ShowConnectionLine();
}

int CDoorphoneConfigDlg::OnDeviceChange(unsigned event, const char* devicePath)
{
    if (devicePath == nullptr) {
        return 1;
    }
    DeviceChange change;
    switch (event) {
    case DBT_DEVNODES_CHANGED:
        change = DeviceChange::NodesChanged;
        break;
    case DBT_DEVICEARRIVAL:
        change = DeviceChange::Arrival;
        break;
    case DBT_DEVICEREMOVECOMPLETE:
        change = DeviceChange::Removal;
        break;
    default:
        change = DeviceChange::Other;
        break;
    }
    const ConnectionDecision decision = m_policy.OnChange(change, devicePath);
    if (decision.kind == ConnectionDecision::Kind::Ignore) {
        return 1;
    }
    ShowDecision(decision);
    ShowAccessAdvice();
    // A controller that came or went beside the one shown changes the count.
    ShowConnectionLine(change == DeviceChange::Removal ? devicePath : std::string());
    return 1;
}
