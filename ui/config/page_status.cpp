#include "ui/config/page_status.h"

#include <QFrame>
#include <QGridLayout>
#include <QVBoxLayout>

#include "app/agent_app.h"
#include "kvclm/kvclm.h"
#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/config/config_widgets.h"

namespace kv {

namespace {

enum Row {
    kAgent,
    kKeys,
    kLibrary,
    kCertification,
    kVersion,
    kMode,
    kBlank1,
    kBlank2,
    kBlank3,
    kSettings
};

// The corruption entry is written once in the life of the process, whatever the number of
// windows or refreshes.
bool g_corruption_reported = false;

}  // namespace

CPageStatus::CPageStatus(CAgentApp& app, Actions actions, FactsSource facts, QWidget* parent)
    : CPropertyPage(tr("Status"), kHelpContext, parent), m_app(app), m_facts(std::move(facts)) {
    // The rows sit on the base colour, like the list they stand for.
    auto* list = new QFrame(this);
    list->setFrameShape(QFrame::StyledPanel);
    list->setBackgroundRole(QPalette::Base);
    list->setAutoFillBackground(true);
    auto* grid = new QGridLayout(list);
    grid->setColumnStretch(2, 1);
    grid->setHorizontalSpacing(12);
    grid->setColumnMinimumWidth(1, 150);

    const auto add = [&](unsigned label, unsigned link = 0, std::function<void()> action = {}) {
        const int row = static_cast<int>(m_rows.size());
        m_rows.push_back(
            std::make_unique<StatusRow>(grid, row, label ? TableText(label) : QString(),
                                        link ? TableText(link) : QString(), std::move(action)));
    };
    add(IDS_STATUS_AGENT);
    add(IDS_STATUS_KEYS, IDS_STATUS_ADD_KEY, std::move(actions.add_key));
    add(IDS_STATUS_LIBRARY);
    add(IDS_STATUS_CERTIFICATION);
    add(IDS_STATUS_VERSION);
    add(IDS_STATUS_MODE);
    add(0);
    add(0);
    add(0);
    add(0, IDS_STATUS_SETTINGS, std::move(actions.settings));
    grid->setRowStretch(grid->rowCount(), 1);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);  // the window's heading and frame align with it
    layout->addWidget(list);
}

CPageStatus::~CPageStatus() = default;

int CPageStatus::Refresh() {
    int changed = 0;
    const bool locked = m_app.Keys().IsLocked();
    changed += m_rows[kAgent]->Update(TableText(locked ? IDS_STATUS_LOCKED : IDS_STATUS_AVAILABLE),
                                      locked ? StatusIcon::Locked : StatusIcon::Ok);
    changed += m_rows[kKeys]->Update(QString::number(m_app.Keys().Count()), StatusIcon::None);
    UpdateLibraryRows(m_facts(), changed);
    return changed;
}

void CPageStatus::UpdateLibraryRows(const ModuleFacts& facts, int& changed) {
    const bool ready = facts.status == KVCLM_STATUS_READY;
    changed += m_rows[kLibrary]->Update(TableText(ready ? IDS_STATUS_LOADED : IDS_STATUS_CORRUPTED),
                                        ready ? StatusIcon::Ok : StatusIcon::Error);
    const bool certified = (facts.flags & KVCLM_VERSION_FIPS140) != 0;
    changed += m_rows[kCertification]->Update(
        TableText(certified ? IDS_STATUS_CERTIFIED : IDS_STATUS_NOT_CERTIFIED), StatusIcon::None);
    const std::string version = DescribeModule(LoadString(IDS_STATUS_VERSION_FORMAT), facts);
    changed += m_rows[kVersion]->Update(QString::fromStdString(version), StatusIcon::None);
    const bool fips = facts.mode == KVCLM_MODE_FIPS;
    changed += m_rows[kMode]->Update(TableText(fips ? IDS_STATUS_FIPS : IDS_STATUS_NON_FIPS),
                                     StatusIcon::None);
    if (!ready && !g_corruption_reported) {
        // Marked first: logging refreshes the window, which comes back here.
        g_corruption_reported = true;
        m_app.Log().LogMessage(nullptr, LogError, IDS_LIBRARY_CORRUPTED);
    }
}

}  // namespace kv
