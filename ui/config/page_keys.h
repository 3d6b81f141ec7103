// The configuration window's "Keys" page: the stored key pairs by name and comment, and the
// buttons that generate, import, export, delete and show a key pair. Every command works on
// the first selected row, found in the store by the key number the row carries.
#pragma once

#include <cstdint>
#include <vector>

#include "keys/key_pair.h"
#include "ui/config/property_page.h"

class QPushButton;
class QTreeWidget;

namespace kv {

class CAgentApp;
class QtUserInterface;

class CPageKeys : public CPropertyPage {
    Q_OBJECT
  public:
    // The configuration window's Help opens this context for the Keys page.
    static constexpr unsigned kHelpContext = 183;
    static constexpr int kKeyNumberRole = Qt::UserRole;

    CPageKeys(CAgentApp& app, QtUserInterface& ui, QWidget* parent = nullptr);

    // Rebuilds the list from the key store and selects the key numbered `selected` again if
    // it is still stored; otherwise the selection-dependent buttons are disabled until a row
    // is selected.
    void FillKeyList(std::int32_t selected = -1);
    // The window's refresh, which runs after every event log entry: rebuilds the list only
    // when the store no longer holds what the rows show. A signature's log entry then costs
    // no rebuild (with 1,000 keys a rebuild made each signature some 50 times dearer) and
    // leaves the user's selection alone.
    void RefreshKeyList();

    void OnGenerate();
    void OnProperties();
    void OnImport();
    void OnExport();
    void OnDelete();

    QTreeWidget* List() const { return m_list; }
    QPushButton* GenerateButton() const { return m_generate; }
    QPushButton* PropertiesButton() const { return m_properties; }
    QPushButton* ImportButton() const { return m_import; }
    QPushButton* ExportButton() const { return m_export; }
    QPushButton* DeleteButton() const { return m_delete; }
    // The key number of the first selected row, -1 when no row is selected.
    std::int32_t SelectedKeyNumber() const;

  private:
    QPushButton* MakeButton(const QString& text, void (CPageKeys::*handler)());
    void SetupColumns();
    void OnSelectionChanged();
    void EnableSelectionButtons(bool enable);
    bool RowsMatchStore() const;

    CAgentApp& m_app;
    QtUserInterface& m_ui;
    QTreeWidget* m_list;
    QPushButton* m_generate;
    QPushButton* m_properties;
    QPushButton* m_import;
    QPushButton* m_export;
    QPushButton* m_delete;
    bool m_refilling = false;
    // The stored keys the rows were built from, in store order. The blob counts too: a deleted
    // key's number is given again, and a row must not come to stand for another key.
    std::vector<KeyPair> m_listed;
};

}  // namespace kv
