#include "ui/config/page_keys.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QPushButton>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

#include "app/agent_app.h"
#include "res/string_ids.h"
#include "ui/config/config_widgets.h"
#include "ui/keys/key_commands.h"

namespace kv {

namespace {

// At least the classic widths, and wide enough for a typical name at the user's font.
int NameColumnWidth(const QFontMetrics& metrics) {
    return std::max(80, metrics.horizontalAdvance("KeyFromAgent-0000") + 16);
}

}  // namespace

CPageKeys::CPageKeys(CAgentApp& app, QtUserInterface& ui, QWidget* parent)
    : CPropertyPage(tr("Keys"), kHelpContext, parent), m_app(app), m_ui(ui) {
    m_list = Named(new QTreeWidget(this), tr("Keys"));
    m_list->setRootIsDecorated(false);
    m_list->setUniformRowHeights(true);
    m_list->setAllColumnsShowFocus(true);
    m_list->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_list->setSelectionMode(QAbstractItemView::SingleSelection);
    m_list->header()->setSectionsClickable(false);
    m_list->header()->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    connect(m_list, &QTreeWidget::itemSelectionChanged, this, &CPageKeys::OnSelectionChanged);
    connect(m_list, &QTreeWidget::itemDoubleClicked, this, [this] { OnProperties(); });

    // Made in the order they stand in, top to bottom, which is the order Tab takes.
    m_generate = MakeButton(tr("&Generate New Keypair..."), &CPageKeys::OnGenerate);
    m_import = MakeButton(tr("&Import Keypair..."), &CPageKeys::OnImport);
    m_export = MakeButton(tr("&Export Keypair..."), &CPageKeys::OnExport);
    m_delete = MakeButton(tr("&Delete Keypair"), &CPageKeys::OnDelete);
    m_properties = MakeButton(tr("Key &Properties"), &CPageKeys::OnProperties);

    auto* buttons = new QVBoxLayout;
    for (QPushButton* button : {m_generate, m_import, m_export, m_delete, m_properties}) {
        buttons->addWidget(button);
    }
    buttons->addStretch(1);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);  // the window's heading and frame align with it
    layout->addWidget(m_list, 1);
    layout->addLayout(buttons);
    FillKeyList();
}

QPushButton* CPageKeys::MakeButton(const QString& text, void (CPageKeys::*handler)()) {
    auto* button = Named(new QPushButton(text, this), text);
    button->setAutoDefault(false);
    connect(button, &QPushButton::clicked, this, handler);
    return button;
}

void CPageKeys::SetupColumns() {
    m_list->clear();
    m_list->setColumnCount(2);
    m_list->setHeaderLabels({TableText(IDS_COLUMN_FILENAME), TableText(IDS_COLUMN_COMMENT)});
    m_list->setColumnWidth(0, NameColumnWidth(m_list->fontMetrics()));
}

void CPageKeys::FillKeyList(std::int32_t selected) {
    if (m_refilling) return;
    m_refilling = true;
    EnableSelectionButtons(false);
    SetupColumns();

    // Sorted ascending by name, as the list always shows them; equal names keep store order.
    const KeyStore& keys = m_app.Keys();
    std::vector<const KeyPair*> sorted;
    m_listed.clear();
    for (std::size_t i = 0; i < keys.Count(); ++i) {
        const KeyPair& key = keys.At(i);
        sorted.push_back(&key);
        m_listed.push_back(key);
    }
    std::stable_sort(sorted.begin(), sorted.end(), [](const KeyPair* a, const KeyPair* b) {
        return QString::fromStdString(a->Name()).compare(QString::fromStdString(b->Name()),
                                                         Qt::CaseInsensitive) < 0;
    });
    for (const KeyPair* key : sorted) {
        auto* item = new QTreeWidgetItem(
            {QString::fromStdString(key->Name()), QString::fromStdString(key->Comment())});
        item->setData(0, kKeyNumberRole, key->Number());
        m_list->addTopLevelItem(item);
        if (key->Number() == selected) m_list->setCurrentItem(item);
    }
    m_refilling = false;
    OnSelectionChanged();
}

void CPageKeys::RefreshKeyList() {
    if (!RowsMatchStore()) FillKeyList();
}

bool CPageKeys::RowsMatchStore() const {
    const KeyStore& keys = m_app.Keys();
    if (keys.Count() != m_listed.size()) return false;
    for (std::size_t i = 0; i < keys.Count(); ++i) {
        const KeyPair& key = keys.At(i);
        if (key.Number() != m_listed[i].Number() || !key.IsSameKey(m_listed[i])) return false;
    }
    return true;
}

std::int32_t CPageKeys::SelectedKeyNumber() const {
    const QList<QTreeWidgetItem*> selected = m_list->selectedItems();
    if (selected.isEmpty()) return -1;
    return selected.first()->data(0, kKeyNumberRole).toInt();
}

void CPageKeys::OnSelectionChanged() {
    if (m_refilling) return;
    const std::int32_t number = SelectedKeyNumber();
    EnableSelectionButtons(number >= 0 && m_app.Keys().FindByNumber(number) != nullptr);
}

void CPageKeys::EnableSelectionButtons(bool enable) {
    m_delete->setEnabled(enable);
    m_export->setEnabled(enable);
    m_properties->setEnabled(enable);
}

// Each command refills the list afterwards, whatever it changed; the key it was about stays
// selected, so that the next command on it needs no new choice.
void CPageKeys::OnGenerate() {
    GenerateKeyPair({m_app, m_ui, this});
    FillKeyList();
}

void CPageKeys::OnProperties() {
    const std::int32_t number = SelectedKeyNumber();
    ShowKeyProperties({m_app, m_ui, this}, number);
    FillKeyList(number);
}

void CPageKeys::OnImport() {
    ImportKeyPair({m_app, m_ui, this});
    FillKeyList();
}

void CPageKeys::OnExport() {
    const std::int32_t number = SelectedKeyNumber();
    ExportKeyPair({m_app, m_ui, this}, number);
    FillKeyList(number);
}

void CPageKeys::OnDelete() {
    DeleteKeyPair({m_app, m_ui, this}, SelectedKeyNumber());
    FillKeyList();
}

}  // namespace kv
