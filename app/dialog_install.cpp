// "Install FW": the confirmation, the locked window, the worker that streams the image, its progress and
// its outcome.
#include "app/doorphoneconfigdlg.h"

#include "app/accessible_controls.h"

#include "resources/strings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QTabBar>

#include <future>
#include <system_error>
#include <thread>

void CDoorphoneConfigDlg::OnInstallFirmware()
{
    WritePendingEdits();
    if (!m_hooks.confirm(this, kInstallQuestion, dlg::kTitle, ShownControllerNote())) {
        return;
    }
    // What the controller holds now, so the restore that the install owes goes to this controller alone.
    SettingsSnapshot before;
    const bool read = m_session.ReadSettings(before);
    InstallReports reports;
    reports.onChunkError = [this](const std::string& text) { AwaitFirmwareErrorDismissed(text); };
    reports.trace = m_hooks.firmwareTrace ? m_hooks.firmwareTrace : stdout;
    reports.image = m_hooks.firmwareImage;
    m_session.BeginInstall(read ? &before : nullptr, std::move(reports));
    m_installRunning = true;
    // Locking moves the focus from control to control; none of that is the user leaving an edit.
    // The bar first, and the focus on it: no hidden or disabled control holds the focus during the install,
    // and a screen reader reads the bar's progress.
    m_ignoreFocusLoss = true;
    m_progressCtrl->show();
    m_progressCtrl->setFocus(Qt::OtherFocusReason);
    GetDlgItem(dlg::kInstallFirmwareId)->hide();
    m_tabCtrl->setEnabled(false);
    GetDlgItem(dlg::IDOK)->setEnabled(false);
    m_ignoreFocusLoss = false;

    auto param = std::make_unique<UpdateThreadParam>(UpdateThreadParam{this, &m_session});
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

void CDoorphoneConfigDlg::AwaitFirmwareErrorDismissed(const std::string& text)
{
    // A failed write is shown on the GUI thread; the worker waits for its dismissal, or for a stop.
    auto dismissed = std::make_shared<std::promise<void>>();
    std::future<void> done = dismissed->get_future();
    const QString message = QString::fromLocal8Bit(text.c_str());
    QMetaObject::invokeMethod(
        this,
        [this, message, dismissed] {
            ShowFirmwareError(message);
            dismissed->set_value();
        },
        Qt::QueuedConnection);
    while (done.wait_for(std::chrono::milliseconds(20)) != std::future_status::ready) {
        if (m_session.InstallStopRequested()) {
            return;
        }
    }
}

unsigned CDoorphoneConfigDlg::FirmwareUpdateThread(std::unique_ptr<UpdateThreadParam> param)
{
    CDoorphoneConfigDlg* dialog = param->dialog;
    ControllerSession& session = *param->session;

    // Only posts that move the bar are made: about a hundred instead of one per byte.
    int lastPosition = -1;
    auto progress = [dialog, &lastPosition](uint32_t consumed, uint32_t total) {
        const int position = static_cast<int>(static_cast<uint64_t>(consumed) * 100 / total);
        if (position != lastPosition) {
            lastPosition = position;
            QMetaObject::invokeMethod(
                dialog, [dialog, consumed, total] { dialog->OnUpdateProgress(consumed, total); }, Qt::QueuedConnection);
        }
    };
    const bool ok = session.RunInstall(progress) == ControllerSession::Streamed::AllLines;
    if (!session.InstallStopRequested()) {
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
    m_installRunning = false;
    SetLineText(dlg::kStatusLineId, dlg::kProgrammingComplete);
    m_tabCtrl->setEnabled(true);
    GetDlgItem(dlg::IDOK)->setEnabled(true);
    m_ignoreFocusLoss = true;
    m_tabCtrl->tabBar()->setFocus(Qt::OtherFocusReason);  // before the bar goes, so the focus never passes on
    m_ignoreFocusLoss = false;
    m_progressCtrl->hide();
}

void CDoorphoneConfigDlg::OnUpdateFailed()
{
    m_installRunning = false;
    // The box's own text stays; the line below it says what to do next.
    QString next = QString::fromUtf8(controller::kUnfinishedProgramming) + ", then click Install FW again.";
    next[0] = next[0].toUpper();
    m_hooks.applicationMessage(this, dlg::kThreadExited, next);
    SetLineText(dlg::kStatusLineId, dlg::kProgrammingFailed);
    m_progressCtrl->hide();
    m_tabCtrl->setEnabled(true);
    GetDlgItem(dlg::IDOK)->setEnabled(true);
    m_connectionState = dlg::kDisconnected;
    m_policy.Dropped();
    ShowDisconnectedView();
}

void CDoorphoneConfigDlg::StopInstall()
{
    if (m_installRunning) {
        m_session.StopInstall();
    }
    if (m_firmwareErrorBox) {
        m_firmwareErrorBox->reject();  // lets the worker's wait end and the nested loop unwind
    }
}
