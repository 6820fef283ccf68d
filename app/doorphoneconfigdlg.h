// CDoorphoneConfigDlg: the tool's one window. It builds every control at run time, shows the controller's
// settings tab by tab, writes every change at once, and follows the controller being plugged in and pulled out.
#pragma once

#include "session/connection_policy.h"
#include "session/controller_session.h"
#include "settings/snapshot.h"
#include "ui/stabctrl.h"

#include <QDialog>
#include <QFont>
#include <QIcon>
#include <QPointer>
#include <QTimer>

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <thread>
#include <vector>

class QComboBox;
class ReadOnlyTabStops;
class QMessageBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class WaitNotifier;

// Device-change event codes: a udev add is an arrival, a remove a removal; a nodes change is handled as either.
constexpr unsigned DBT_DEVNODES_CHANGED = 0x0007;
constexpr unsigned DBT_DEVICEARRIVAL = 0x8000;
constexpr unsigned DBT_DEVICEREMOVECOMPLETE = 0x8004;

namespace dlg {
constexpr int kControlRegistrySize = 2043;
constexpr int kRegisteredControls = 41;

constexpr int IDOK = 1;  // the Close button
constexpr int kConnectionLineId = 1007;
constexpr int kVersionLineId = 1008;
constexpr int kStatusLineId = 1009;
constexpr int kInstallFirmwareId = 2005;
constexpr int kRestoreDefaultsId = 2006;
constexpr int kProgressBarId = 2007;
constexpr int kTabCtrlId = 2044;
constexpr std::array<int, 8> kRowLabelIds = {1001, 1002, 1003, 1004, 1005, 1006, 1010, 1011};

constexpr int kClientWidth = 664;  // the 670 x 530 window less its frame and caption
constexpr int kClientHeight = 501;

constexpr int kConnected = 1;
constexpr int kDisconnected = 2;

constexpr const char* kTitle = "Tavrel 7410 Doorphone Configuration Tool";
constexpr const char* kDeviceConnected = "Device Connected";
constexpr const char* kDeviceDisconnected = "Device Disconnected";
// The views of a controller that is present but not shown.
constexpr const char* kDeviceInUse = "Device In Use Elsewhere";
constexpr const char* kDeviceNotAccessible = "Device Not Accessible";
constexpr const char* kConnectPrompt = "Please connect your device now";
// A settings write that failed without a text of the system's.
constexpr const char* kWriteNotTaken = "The controller did not take the setting.";
constexpr const char* kNoneConnected = "  None Connected.";
constexpr const char* kProgrammingComplete = "Programming Complete. Device will now Disconnect and Reboot";
constexpr const char* kProgrammingFailed = "Programming FAILED!";
constexpr const char* kThreadExited = "Thread has exited abnormally";
}  // namespace dlg

class CDoorphoneConfigDlg;

// The message boxes the dialog shows, and a look at the dialog between its start-up steps. Tests replace
// them; the default boxes are real modal ones.
struct DialogHooks {
    // Caption "Error", the text (and, when not empty, `detail` below it), one OK button, no icon; owned by
    // the dialog.
    std::function<void(QWidget* owner, const QString& text, const QString& detail)> error;
    // Runs right after the controls are created, before the choice lists are filled.
    std::function<void(CDoorphoneConfigDlg&)> afterCreateControls;
    // The install's question: OK and Cancel, Cancel the default, no icon; `detail`, when not empty, below
    // the text. True for OK.
    std::function<bool(QWidget* owner, const QString& text, const QString& caption, const QString& detail)> confirm;
    // A message through the application: its name as caption, an exclamation icon, OK; `detail` as above.
    std::function<void(QWidget* owner, const QString& text, const QString& detail)> applicationMessage;
    // A failed firmware write: caption "Error", the system's text, an information icon, OK, no owner.
    // Shown on the GUI thread while the worker waits for its dismissal.
    std::function<void(const QString& text)> firmwareError;
    // Each change of the status or connection line said to assistive technology, with the line's id (for
    // tests: Qt delivers the event only while a screen reader is really running).
    std::function<void(int lineId, const QString& text)> announced;
    // The wait after an arrival before the controller is read (a plain sleep unless a test counts them).
    std::function<void(std::chrono::milliseconds)> settleWait;
    // Starts the install's worker; throws std::system_error when it cannot.
    std::function<std::thread(std::function<void()>)> startThread;
    // The stream's trace (standard output when null) and, for tests, another image.
    std::FILE* firmwareTrace = nullptr;
    FirmwareStream::ImageSource firmwareImage;
};

using MonitorFactory = std::function<std::unique_ptr<HotplugMonitor>()>;

class CDoorphoneConfigDlg : public QDialog {
    Q_OBJECT
public:
    // Initialises at once: controls, choice lists, the device probe and the notification registration.
    CDoorphoneConfigDlg(ControllerSession& session, MonitorFactory monitorFactory, DialogHooks hooks = {},
                        QWidget* parent = nullptr);
    ~CDoorphoneConfigDlg() override;

    // A control by its id, or null.
    QWidget* GetDlgItem(int id) const;
    template <class T>
    T* Item(int id) const
    {
        return qobject_cast<T*>(GetDlgItem(id));
    }
    CSTabCtrl* TabCtrl() const { return m_tabCtrl; }
    const std::array<QPointer<QWidget>, dlg::kControlRegistrySize>& Registry() const { return ControlRegistry; }
    const QFont& UiFont() const { return m_uiFont; }
    const QFont& StatusFont() const { return m_statusFont; }

    int ConnectionState() const { return m_connectionState; }
    int StationModel() const { return m_stationModel; }
    bool UpdatePending() const { return m_session.UpdatePending(); }
    void SetUpdatePending(bool pending) { m_session.SetUpdatePending(pending); }
    bool IsRegisteredForNotifications() const { return m_hDevNotify != nullptr; }

    // For tests: the wait after an arrival. Not a setting a user has.
    void SetArrivalSettleTime(std::chrono::milliseconds wait) { m_policy.SetSettleTime(wait); }

    // Read-back.
    void OnTabChanged();
    void LabelTab(int tab);
    // True when both reports came.
    bool ReadSettings(int tab);

    // Write-back.
    void OnChoiceChanged(int id);
    void OnEditKillFocus(int id);
    void OnRestoreDefaults();

    // Connection state.
    void ProbeDevice();
    void ShowConnectedView();
    void ShowDisconnectedView();
    // In the disconnected view: says so when a controller is present that this user may not open.
    void ShowAccessAdvice();
    // The connection line for the view shown; with several controllers attached it names the one shown.
    void ShowConnectionLine(const std::string& leaving = {});
    // With several controllers attached: which one the window shows and changes; empty with one.
    QString ShownControllerNote();
    bool RegisterForDeviceNotifications();
    int OnDeviceChange(unsigned event, const char* devicePath);

    // Firmware install.
    void OnInstallFirmware();
    void OnUpdateProgress(uint32_t consumed, uint32_t total);
    void OnUpdateDone();
    void OnUpdateFailed();
    bool InstallRunning() const { return m_installRunning; }

    // Shows the window and runs it until it ends, the same way on every backend (see DoModal's comment).
    int DoModal();
    // Ends the dialog; an install under way stops before its next transfer.
    void done(int result) override;

signals:
    // The window is on screen, for what stands beside it.
    void Shown();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void OnInitDialog();
    void CreateControls();
    void NameSettingControls();
    void FillChoiceLists();
    void FitValueFont();
    void DestroyRegisteredControls();
    void OnDestroy();
    void OnHotplugEvents();
    // Nothing hidden or disabled keeps the keyboard focus: it goes to the tab bar, or during an install to
    // the progress bar, or in the disconnected view to the status line (which takes no key).
    void KeepFocusOnScreen();
    // Ctrl+Tab and Ctrl+PgDn (1), Ctrl+Shift+Tab and Ctrl+PgUp (-1): the next or previous tab, round.
    void StepTab(int step);
    // Shows what the connection policy decided.
    void ShowDecision(const ConnectionDecision& decision);
    // While another program holds the controller, says so; the window tries again once a second.
    void ShowHeldElsewhere(const ConnectionDecision& decision);
    void OnHoldRetry();
    void SelectEntry(QComboBox* combo, int position);
    // A status field's text as the window shows it.
    static QString StatusText(const CatalogueEntry& entry, const SettingsSnapshot& read);
    void RegisterItem(int id, QWidget* widget);
    void ShowFirmwareError(const QString& text);
    // On the install's worker: a failed chunk write shown on the GUI thread, until dismissed or stopped.
    void AwaitFirmwareErrorDismissed(const std::string& text);
    // The status or connection line's text; a change is announced to assistive technology.
    void SetLineText(int id, const QString& text);
    // Announces the line's text again (shown after it was written while hidden).
    void AnnounceLine(int id);
    // Writes the edits the user left; false when an entry was rejected (its box was shown).
    bool WritePendingEdits();
    // The same, with the edit the user is still in.
    bool WriteEditsBeforeClosing();
    // Before the tab changes, by click or key: leaves the edit the user is in and writes it; false when an
    // entry was rejected, and the tab then stays.
    bool LeaveForAnotherTab(Qt::FocusReason reason);
    // A parameter report the controller did not take: said in an "Error" box, then the tab is read again.
    void ReportFailedWrite(const CatalogueEntry* entry);
    void StopInstall();

    // What the install's worker is given; it owns it and frees it at its end.
    struct UpdateThreadParam {
        CDoorphoneConfigDlg* dialog;  // the target of its notifications; outlives the worker
        ControllerSession* session;   // likewise
    };
    static unsigned FirmwareUpdateThread(std::unique_ptr<UpdateThreadParam> param);

    // The last settings and string-pool reports, as the last read left them.
    SettingsSnapshot SettingsImage;

    QIcon m_hIcon;
    QPointer<QProgressBar> m_progressCtrl;
    QPointer<CSTabCtrl> m_tabCtrl;
    QFont m_uiFont;
    QFont m_statusFont;
    std::unique_ptr<HotplugMonitor> m_hDevNotify;
    std::unique_ptr<WaitNotifier> m_devNotifyWatch;

    // The value controls and command buttons, swept to hide all and to destroy all. Slots 41 on stay empty.
    std::array<QPointer<QWidget>, dlg::kControlRegistrySize> ControlRegistry;
    std::array<QPointer<QLabel>, 8> LabelControls;
    std::map<int, QPointer<QWidget>> m_items;

    ControllerSession& m_session;
    MonitorFactory m_monitorFactory;
    DialogHooks m_hooks;
    ConnectionPolicy m_policy;  // which controller is shown, and what a plug or pull-out means for it

    int m_connectionState = dlg::kDisconnected;
    QTimer m_holdRetry;
    QString m_accessAdvice;  // the advice the status line shows, if any
    int m_stationModel = 0;

    bool m_installRunning = false;  // an install under way, until its outcome is handled
    std::thread m_worker;
    QPointer<QMessageBox> m_firmwareErrorBox;

    int m_programmaticSelection = 0;  // > 0 while the dialog itself selects entries
    bool m_inEditKillFocus = false;
    std::vector<int> m_pendingEdits;  // edits left by the user whose write has not run yet
    bool m_lastEditRejected = false;  // the last edit written broke its entry rule
    bool m_ignoreFocusLoss = false;   // focus moved by the dialog itself, not by the user leaving an edit
    std::unique_ptr<ReadOnlyTabStops> m_readOnlyTabStops;  // the status fields' Tab stops under a screen reader
};
