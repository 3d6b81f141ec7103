// The page host used by the configuration window (tabs hidden: its page list switches the
// pages) and by the settings sheet (tabs shown). It remembers which pages were shown, since
// only those write their controls back on OK, and it keeps a page that refuses to be left.
#pragma once

#include <QTabWidget>
#include <vector>

namespace kv {

class CPropertyPage;

class CMyPropertySheet : public QTabWidget {
    Q_OBJECT
  public:
    explicit CMyPropertySheet(QWidget* parent = nullptr);

    // The sheet takes ownership. The first page added becomes the active one.
    void AddPage(CPropertyPage* page);
    int PageCount() const { return count(); }
    CPropertyPage* GetPage(int index) const;
    CPropertyPage* GetActivePage() const;
    int GetActiveIndex() const { return currentIndex(); }
    // False when the active page refused to be left (or the index is out of range).
    bool SetActivePage(int index);
    bool WasShown(int index) const;

    // Pages are then switched only by the owner (the configuration window's page list).
    void HideTabs();

    // OK: the active page checks its fields, then every page that was shown writes back.
    // False, with nothing written, when the active page refused.
    bool OnOK();

    // The help context of the active page, 0 when there is none.
    unsigned ActiveHelpContext() const;

  signals:
    void ActivePageChanged(int index);

  private:
    void OnCurrentChanged(int index);

    std::vector<bool> m_shown;
    int m_active = -1;
    bool m_reverting = false;
};

}  // namespace kv
