#include "ui/stabctrl.h"

#include <QPainter>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionTab>
#include <QTabBar>

#include <algorithm>

#include "ui/internal_check.h"

#include <QCoreApplication>
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

// The tab bar's own style with less room around each title: a tab is made narrower by `trim` pixels, taken
// from the padding the style puts beside its text, never from the text or its font.
class TrimmedTabPadding : public QProxyStyle {
public:
    explicit TrimmedTabPadding(QStyle* base) : QProxyStyle(base) {}

    void SetTrim(int trim) { m_trim = trim; }

    QSize sizeFromContents(ContentsType type, const QStyleOption* option, const QSize& size,
                           const QWidget* widget) const override
    {
        QSize s = QProxyStyle::sizeFromContents(type, option, size, widget);
        if (type == CT_TabBarTab) {
            const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option);
            const int least = tab ? tab->fontMetrics.horizontalAdvance(tab->text) + 2 * kLeastPadding : 0;
            s.setWidth(std::max(least, s.width() - m_trim));
        }
        return s;
    }

    // The title's rectangle keeps the text whole in the narrower tab: centred, with the padding left.
    QRect subElementRect(SubElement element, const QStyleOption* option, const QWidget* widget) const override
    {
        QRect r = QProxyStyle::subElementRect(element, option, widget);
        if (element == SE_TabBarTabText) {
            if (const auto* tab = qstyleoption_cast<const QStyleOptionTab*>(option)) {
                const int text = tab->fontMetrics.horizontalAdvance(tab->text);
                if (r.width() < text) {
                    const int room = std::max(text, tab->rect.width() - 2 * kLeastPadding);
                    r.setLeft(tab->rect.center().x() - room / 2);
                    r.setWidth(room);
                }
            }
        }
        return r;
    }

    int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override
    {
        const int value = QProxyStyle::pixelMetric(metric, option, widget);
        if (metric == PM_TabBarTabHSpace) {
            return std::max(2 * kLeastPadding, value - m_trim);
        }
        return value;
    }

private:
    static constexpr int kLeastPadding = 4;  // beside a title, each side
    int m_trim = 0;
};

}  // namespace

void CSTabCtrl::FitTabsByPadding()
{
    QTabBar* bar = tabBar();
    const int excess = bar->sizeHint().width() - width();
    if (excess <= 0 || bar->count() == 0) {
        return;
    }
    auto* style = new TrimmedTabPadding(QStyleFactory::create(bar->style()->name()));
    style->setParent(bar);  // goes with the bar; the base style goes with it
    int trim = (excess + bar->count() - 1) / bar->count();
    style->SetTrim(trim);
    bar->setStyle(style);
    // A style that takes its padding elsewhere than the tab's size: trimmed further, as far as the titles allow.
    for (int more = 0; bar->sizeHint().width() > width() && more < 40; ++more) {
        style->SetTrim(++trim);
        QEvent changed(QEvent::StyleChange);  // the bar measures its tabs again
        QCoreApplication::sendEvent(bar, &changed);
    }
}

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
