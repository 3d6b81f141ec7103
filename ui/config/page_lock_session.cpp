#include <QCheckBox>
#include <QGroupBox>
#include <QVBoxLayout>

#include "res/string_ids.h"
#include "ui/config/config_widgets.h"
#include "ui/config/page_lock.h"

namespace kv {

// A group of its own below the page's original controls: each box locks the agent on one
// event of the desktop session.
QWidget* CPageLock::MakeSessionGroup() {
    const QString title = TableText(IDS_PAGE_LOCK_SESSION_GROUP);
    auto* group = Named(new QGroupBox(title, this), title);
    auto* layout = new QVBoxLayout(group);
    const std::pair<unsigned, std::uint16_t> boxes[] = {
        {IDS_PAGE_LOCK_ON_SCREEN_LOCK, IDS_SETTING_LOCK_ON_SCREEN_LOCK},
        {IDS_PAGE_LOCK_ON_SUSPEND, IDS_SETTING_LOCK_ON_SUSPEND},
        {IDS_PAGE_LOCK_ON_SESSION_END, IDS_SETTING_LOCK_ON_SESSION_END},
    };
    for (const auto& [text, setting] : boxes) layout->addWidget(MakeFlag(TableText(text), setting));
    return group;
}

}  // namespace kv
