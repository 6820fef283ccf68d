// CSTabCtrl: a tab control whose tabs have no page windows of their own. Controls are siblings placed over
// the page area; the tab control keeps, for each tab, the list of controls that belong to it, shows only the
// selected tab's controls, and passes its enabled state on to every attached control of every tab.
#pragma once

#include <QPointer>
#include <QTabWidget>
#include <QWidget>

#include <map>
#include <memory>
#include <vector>

constexpr int SW_HIDE = 0;
constexpr int SW_SHOW = 5;

// Attached controls of one tab, in attach order. The references do not own their controls; a control that
// has been destroyed reads as null and the show and enable commands skip it.
class CTabControlList {
public:
    int Add(QWidget* pWnd);
    bool ShowAll(int nCmdShow);
    bool EnableAll(bool bEnable);
    const std::vector<QPointer<QWidget>>& Controls() const { return m_controls; }

private:
    std::vector<QPointer<QWidget>> m_controls;
};

class CTabControlMap {
public:
    ~CTabControlMap() { DeleteAllLists(); }

    bool AddControl(int nTab, QWidget* pWnd);
    bool ShowTab(int nTab, int nCmdShow);
    bool EnableTab(int nTab, bool bEnable);
    void DeleteAllLists();
    const CTabControlList* List(int nTab) const;
    std::size_t ListCount() const { return m_lists.size(); }

private:
    std::map<int, std::unique_ptr<CTabControlList>> m_lists;
};

class CSTabCtrl : public QTabWidget {
    Q_OBJECT
public:
    explicit CSTabCtrl(QWidget* parent = nullptr);
    ~CSTabCtrl() override;

    // Appends an item with the given text (an empty page) and returns its index.
    int InsertItem(int nItem, const QString& text);

    // Attaches pWnd to tab nTab and hides it. Refused (with a failed internal check) when nTab is not below
    // the current item count; a negative index is accepted.
    virtual bool AddControl(QWidget* pWnd, int nTab);

    // Selects a tab without the owner's selection handler, then shows its controls. Returns the previously
    // selected index, or -1 when the index is refused.
    virtual int SetCurSel(int nItem);

    // Every title whole in the control's width, at the font it has: where the style's tabs are wider than
    // the row has room for, the padding beside each title is made smaller (never the text).
    void FitTabsByPadding();

    // Releases every list; the controls themselves are left as they are.
    void OnDestroy();

    int CurrentTab() const { return m_nCurTab; }
    const CTabControlMap& TabControls() const { return m_tabControls; }

signals:
    // The user changed the tab; the new tab's controls are already shown.
    void SelChange();

protected:
    void changeEvent(QEvent* event) override;

private:
    void OnSelchange();
    void ShowSelectedTab();

    int m_nCurTab = -1;
    CTabControlMap m_tabControls;
};
