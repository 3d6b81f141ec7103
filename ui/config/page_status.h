// The configuration window's "Status" page: the lock state, the number of keys, the
// cryptographic library's state, version and mode, and the links "Add key..." and
// "Settings".
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "app/module_description.h"
#include "ui/config/property_page.h"
#include "ui/config/status_row.h"

namespace kv {

class CAgentApp;

class CPageStatus : public CPropertyPage {
    Q_OBJECT
  public:
    // The configuration window's Help opens this context for the Status page.
    static constexpr unsigned kHelpContext = 131;

    using FactsSource = std::function<ModuleFacts()>;
    struct Actions {
        std::function<void()> add_key;   // "Add key..."
        std::function<void()> settings;  // "Settings"
    };

    CPageStatus(CAgentApp& app, Actions actions, FactsSource facts = CurrentModuleFacts,
                QWidget* parent = nullptr);
    ~CPageStatus() override;

    // Every row updates itself; returns how many rows changed.
    int Refresh();

    int RowCount() const { return static_cast<int>(m_rows.size()); }
    const StatusRow& Row(int index) const { return *m_rows[index]; }

  private:
    void UpdateLibraryRows(const ModuleFacts& facts, int& changed);

    CAgentApp& m_app;
    FactsSource m_facts;
    std::vector<std::unique_ptr<StatusRow>> m_rows;
};

}  // namespace kv
