#include "ui/config/status_row.h"

#include <QGridLayout>
#include <QLabel>

#include "ui/config/config_widgets.h"

namespace kv {

namespace {

constexpr int kIconSize = 16;

}  // namespace

StatusRow::StatusRow(QGridLayout* grid, int row, const QString& label, const QString& link_text,
                     std::function<void()> action)
    : m_label_text(label) {
    QWidget* parent = grid->parentWidget();
    m_icon = new QLabel(parent);
    m_icon->setFixedSize(kIconSize, kIconSize);
    auto* label_widget = Named(new QLabel(label, parent), label);
    m_value = new QLabel(parent);
    m_value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    grid->addWidget(m_icon, row, 0);
    grid->addWidget(label_widget, row, 1);
    grid->addWidget(m_value, row, 2);
    if (!link_text.isEmpty()) {
        m_link = new LinkButton(link_text, parent);
        QObject::connect(m_link, &QPushButton::clicked, parent, [action = std::move(action)] {
            if (action) action();
        });
        grid->addWidget(m_link, row, 3, Qt::AlignRight);
    }
    // Every row as tall as one with a link, and an empty row still takes a line, as in a list.
    grid->setRowMinimumHeight(row, LinkButton(label, nullptr).sizeHint().height());
}

bool StatusRow::Update(const QString& value, StatusIcon icon) {
    bool changed = false;
    if (value != m_value_text) {
        m_value_text = value;
        m_value->setText(value);
        // A screen reader hears "SSH Agent: Locked".
        Named(m_value, m_label_text.isEmpty() ? value : m_label_text + ": " + value);
        changed = true;
    }
    if (icon != m_icon_state) {
        m_icon_state = icon;
        m_icon->setPixmap(StatusStateIcon(icon).pixmap(kIconSize, kIconSize));
        changed = true;
    }
    return changed;
}

}  // namespace kv
