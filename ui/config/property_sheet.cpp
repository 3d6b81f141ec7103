#include "ui/config/property_sheet.h"

#include <QTabBar>

#include "ui/config/property_page.h"

namespace kv {

CMyPropertySheet::CMyPropertySheet(QWidget* parent) : QTabWidget(parent) {
    setAccessibleName(tr("Pages"));
    connect(this, &QTabWidget::currentChanged, this, &CMyPropertySheet::OnCurrentChanged);
}

void CMyPropertySheet::AddPage(CPropertyPage* page) {
    m_shown.push_back(false);
    addTab(page, page->Title());
}

CPropertyPage* CMyPropertySheet::GetPage(int index) const {
    return qobject_cast<CPropertyPage*>(widget(index));
}

CPropertyPage* CMyPropertySheet::GetActivePage() const { return GetPage(currentIndex()); }

bool CMyPropertySheet::SetActivePage(int index) {
    if (index < 0 || index >= count()) return false;
    setCurrentIndex(index);
    return currentIndex() == index;
}

bool CMyPropertySheet::WasShown(int index) const {
    return index >= 0 && static_cast<std::size_t>(index) < m_shown.size() && m_shown[index];
}

void CMyPropertySheet::HideTabs() {
    tabBar()->setEnabled(false);
    tabBar()->hide();
}

// A tab bar has no veto before a switch, so a refused switch is undone right after it.
void CMyPropertySheet::OnCurrentChanged(int index) {
    if (m_reverting) return;
    CPropertyPage* leaving = GetPage(m_active);
    if (leaving != nullptr && m_active != index && !leaving->OnKillActive()) {
        m_reverting = true;
        setCurrentIndex(m_active);
        m_reverting = false;
        // The page focused its bad field while it was hidden; now it shows, focus it again.
        if (QWidget* field = leaving->focusWidget()) field->setFocus();
        return;
    }
    m_active = index;
    if (index >= 0 && static_cast<std::size_t>(index) < m_shown.size()) m_shown[index] = true;
    emit ActivePageChanged(index);
}

bool CMyPropertySheet::OnOK() {
    CPropertyPage* active = GetActivePage();
    if (active != nullptr && !active->OnKillActive()) return false;
    for (int i = 0; i < count(); ++i) {
        if (WasShown(i)) GetPage(i)->OnOK();
    }
    return true;
}

unsigned CMyPropertySheet::ActiveHelpContext() const {
    const CPropertyPage* active = GetActivePage();
    return active != nullptr ? active->HelpContext() : 0;
}

}  // namespace kv
