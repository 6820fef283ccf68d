// The main dialog's lifetime: its hooks, its initialisation in order, its keys, and its end.
#include "app/doorphoneconfigdlg.h"

#include "app/accessible_controls.h"

#include "app/wait_notifier.h"
#include "resources/strings.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QGridLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QShortcut>
#include <QTabBar>

#include <thread>

namespace {

void DefaultErrorBox(QWidget* owner, const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::NoIcon, "Error", text, QMessageBox::Ok, owner);
    box.setInformativeText(detail);
    box.setWindowModality(Qt::WindowModal);
    // Wide enough that a window manager's title bar shows the caption whole beside its buttons.
    if (auto* grid = qobject_cast<QGridLayout*>(box.layout())) {
        grid->addItem(new QSpacerItem(300, 0, QSizePolicy::Minimum, QSizePolicy::Fixed), grid->rowCount(), 0, 1,
                      grid->columnCount());
    }
    box.exec();
}

bool DefaultConfirm(QWidget* owner, const QString& text, const QString& caption, const QString& detail)
{
    QMessageBox box(QMessageBox::NoIcon, caption, text, QMessageBox::Ok | QMessageBox::Cancel, owner);
    box.setInformativeText(detail);
    box.setDefaultButton(QMessageBox::Cancel);
    box.setWindowModality(Qt::WindowModal);
    return box.exec() == QMessageBox::Ok;
}

void DefaultApplicationMessage(QWidget* owner, const QString& text, const QString& detail)
{
    QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok, owner);
    box.setInformativeText(detail);
    box.setWindowModality(Qt::WindowModal);
    box.exec();
}

}  // namespace

CDoorphoneConfigDlg::CDoorphoneConfigDlg(ControllerSession& session, MonitorFactory monitorFactory, DialogHooks hooks,
                                         QWidget* parent)
    : QDialog(parent),
      m_session(session),
      m_monitorFactory(std::move(monitorFactory)),
      m_hooks(std::move(hooks)),
      m_policy(session, [this](std::chrono::milliseconds wait) { m_hooks.settleWait(wait); })
{
    m_policy.SetEventSource([this] { return m_hDevNotify ? m_hDevNotify->ReadEvents() : std::vector<HotplugEvent>(); });
    if (!m_hooks.error) {
        m_hooks.error = DefaultErrorBox;
    }
    if (!m_hooks.confirm) {
        m_hooks.confirm = DefaultConfirm;
    }
    if (!m_hooks.applicationMessage) {
        m_hooks.applicationMessage = DefaultApplicationMessage;
    }
    if (!m_hooks.settleWait) {
        m_hooks.settleWait = [](std::chrono::milliseconds wait) { std::this_thread::sleep_for(wait); };
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
    // The tabs from anywhere in the window, as a click on the next or the previous one: the value controls
    // are not children of the tab control, which would otherwise take these keys only inside itself.
    const std::pair<QKeySequence, int> tabKeys[] = {
        {QKeySequence(Qt::CTRL | Qt::Key_Tab), 1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageDown), 1},
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Backtab), -1},
        {QKeySequence(Qt::CTRL | Qt::Key_PageUp), -1},
        // Shift+Tab arrives as Backtab, with or without the Shift it took, depending on the keyboard map.
        {QKeySequence(Qt::CTRL | Qt::Key_Backtab), -1}};
    for (const auto& [keys, step] : tabKeys) {
        auto* shortcut = new QShortcut(keys, this);
        shortcut->setContext(Qt::WindowShortcut);
        connect(shortcut, &QShortcut::activated, this, [this, step = step] { StepTab(step); });
    }
    // While another program holds the controller, the window looks again once a second.
    m_holdRetry.setInterval(1000);
    connect(&m_holdRetry, &QTimer::timeout, this, &CDoorphoneConfigDlg::OnHoldRetry);
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
    SetLineText(dlg::kStatusLineId, dlg::kConnectPrompt);

    ProbeDevice();
    RegisterForDeviceNotifications();
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

void CDoorphoneConfigDlg::StepTab(int step)
{
    if (!m_tabCtrl->isVisibleTo(this) || !m_tabCtrl->isEnabled()) {
        return;  // no tabs to step through in the disconnected view or during an install
    }
    // What a click on that tab does: the edit the user is in is judged and written first, and a rejected
    // entry keeps the tab.
    QTabBar* bar = m_tabCtrl->tabBar();
    const int target = (bar->currentIndex() + step + bar->count()) % bar->count();
    if (LeaveForAnotherTab(Qt::ShortcutFocusReason)) {
        bar->setCurrentIndex(target);
    }
}

int CDoorphoneConfigDlg::DoModal()
{
    // The window is the tool's only window of its own, so it needs no modality to be the one that takes
    // input; being modal to nothing keeps the windows beside it usable: the install's "Error" box, which
    // belongs to no window, and the virtual controller's panel. Its own boxes are modal to it alone.
    setWindowModality(Qt::NonModal);
    QEventLoop loop;
    connect(this, &QDialog::finished, &loop, &QEventLoop::quit);
    show();
    emit Shown();
    loop.exec();
    return result();
}

void CDoorphoneConfigDlg::done(int result)
{
    // An accepted edit is written before the window goes. A rejected one keeps the window open against the
    // Close button, as against any other click; the window's own close command (its title bar, Alt+F4, the
    // system menu: Rejected) ends the tool whatever an edit holds, once the entry's message is answered.
    if (!WriteEditsBeforeClosing() && result == QDialog::Accepted) {
        return;
    }
    StopInstall();
    QDialog::done(result);
}
