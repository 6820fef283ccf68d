#include "ui/stabctrl.h"

#include <QPainter>
#include <QTabBar>

#include "ui/internal_check.h"

#include <QEvent>
#include <QSignalBlocker>

int CTabControlList::Add(QWidget* pWnd)
{
    m_controls.emplace_back(pWnd);
    return static_cast<int>(m_controls.size()) - 1;
}

bool CTabControlList::ShowAll(int nCmdShow)
{
    for (const QPointer<QWidget>& w : m_controls) {
        if (w) {
            w->setVisible(nCmdShow != SW_HIDE);
        }
    }
    return true;
}

bool CTabControlList::EnableAll(bool bEnable)
{
    for (const QPointer<QWidget>& w : m_controls) {
        if (w) {
            w->setEnabled(bEnable);
        }
    }
    return true;
}

bool CTabControlMap::AddControl(int nTab, QWidget* pWnd)
{
    std::unique_ptr<CTabControlList>& list = m_lists[nTab];
    if (!list) {
        list = std::make_unique<CTabControlList>();
    }
    list->Add(pWnd);
    if (pWnd) {
        pWnd->hide();
    }
    return true;
}

bool CTabControlMap::ShowTab(int nTab, int nCmdShow)
{
    auto it = m_lists.find(nTab);
    if (it == m_lists.end() || !it->second) {
        return false;
    }
    return it->second->ShowAll(nCmdShow);
}

bool CTabControlMap::EnableTab(int nTab, bool bEnable)
{
    auto it = m_lists.find(nTab);
    if (it == m_lists.end() || !it->second) {
        return false;
    }
    return it->second->EnableAll(bEnable);
}

void CTabControlMap::DeleteAllLists()
{
    m_lists.clear();
}

const CTabControlList* CTabControlMap::List(int nTab) const
{
    auto it = m_lists.find(nTab);
    return it == m_lists.end() ? nullptr : it->second.get();
}

namespace {

// A tab bar whose keyboard focus shows plainly: a frame in the highlight colour inside the current tab.
// Some styles mark it with a tint hardly to be told from the tab's own colour.
class FocusFramedTabBar : public QTabBar {
public:
    using QTabBar::QTabBar;

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QTabBar::paintEvent(event);
        if (!hasFocus() || currentIndex() < 0) {
            return;
        }
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(tabRect(currentIndex()).adjusted(3, 3, -3, -3));
    }
};

}  // namespace

CSTabCtrl::CSTabCtrl(QWidget* parent) : QTabWidget(parent)
{
    setTabBar(new FocusFramedTabBar(this));
    // Every title stays whole: no scroll arrows, no eliding.
    setUsesScrollButtons(false);
    setElideMode(Qt::ElideNone);
    connect(this, &QTabWidget::currentChanged, this, [this] { OnSelchange(); });
}

CSTabCtrl::~CSTabCtrl()
{
    OnDestroy();
}

int CSTabCtrl::InsertItem(int nItem, const QString& text)
{
    // The first item would select itself and emit a change; that is not a user's selection.
    QSignalBlocker blocker(this);
    return insertTab(nItem, new QWidget(), text);  // the page is owned by the tab widget
}

bool CSTabCtrl::AddControl(QWidget* pWnd, int nTab)
{
    if (nTab >= count()) {
        DPC_FAILED_CHECK("tab index not below the item count");
        return false;
    }
    m_tabControls.AddControl(nTab, pWnd);
    return true;
}

void CSTabCtrl::ShowSelectedTab()
{
    const int n = currentIndex();
    m_tabControls.ShowTab(m_nCurTab, SW_HIDE);
    m_tabControls.ShowTab(n, SW_SHOW);
    m_nCurTab = n;
}

void CSTabCtrl::OnSelchange()
{
    ShowSelectedTab();
    emit SelChange();
}

int CSTabCtrl::SetCurSel(int nItem)
{
    const int r = (nItem >= 0 && nItem < count()) ? currentIndex() : -1;
    {
        // Block the tab widget's own signal, not the tab bar's: the bar must still switch the page.
        QSignalBlocker blocker(this);
        if (r != -1) {
            setCurrentIndex(nItem);
        }
    }
    ShowSelectedTab();
    return r;
}

void CSTabCtrl::OnDestroy()
{
    m_tabControls.DeleteAllLists();
}

void CSTabCtrl::changeEvent(QEvent* event)
{
    QTabWidget::changeEvent(event);
    if (event->type() == QEvent::EnabledChange) {
        for (int i = 0; i < count(); ++i) {
            m_tabControls.EnableTab(i, isEnabled());
        }
    }
}
