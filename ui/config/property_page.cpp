#include "ui/config/property_page.h"

namespace kv {

CPropertyPage::CPropertyPage(const QString& title, unsigned help_context, QWidget* parent)
    : QWidget(parent), m_title(title), m_help_context(help_context) {
    setAccessibleName(title);
}

}  // namespace kv
