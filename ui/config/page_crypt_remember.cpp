#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>

#include "res/string_ids.h"
#include "res/string_table.h"
#include "ui/config/config_widgets.h"
#include "ui/config/page_crypt.h"

namespace kv {

// "Let the confirmation remember an approval for [n] minutes (0: never)": the number the
// confirmation prompt's "Remember for this program" box offers; 0 offers no box.
QWidget* CPageCrypt::MakeRememberRow(QWidget* parent) {
    auto* row = new QWidget(parent);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    const QString text = TableText(IDS_PAGE_REMEMBER_APPROVALS);
    const QString unit = TableText(IDS_PAGE_REMEMBER_UNIT);
    auto* label = new QLabel(text, row);
    m_remember = Named(new QLineEdit(row), text);
    const char* value_name = LoadString(IDS_SETTING_REMEMBER_APPROVAL_MINUTES);
    m_remember->setObjectName(value_name != nullptr ? value_name : "");
    m_remember->setMaximumWidth(m_remember->fontMetrics().horizontalAdvance("0000000") + 16);
    m_remember->setAlignment(Qt::AlignRight);
    label->setBuddy(m_remember);
    Bindings().Number(m_remember, IDS_SETTING_REMEMBER_APPROVAL_MINUTES, 0, kMaxRememberMinutes);
    layout->addWidget(Named(label, text));
    layout->addWidget(m_remember);
    layout->addWidget(Named(new QLabel(unit, row), unit));
    layout->addStretch(1);
    return row;
}

}  // namespace kv
