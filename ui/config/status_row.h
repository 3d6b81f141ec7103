// One row of the Status page: a label, a value with an icon, and an optional link whose
// action runs when it is clicked. A row touches its widgets only when its text or icon
// changed, so a refresh that changes nothing repaints nothing.
#pragma once

#include <QString>
#include <functional>

#include "ui/config/page_images.h"

class QGridLayout;
class QLabel;
class QPushButton;
class QWidget;

namespace kv {

class StatusRow {
  public:
    // Adds the row's widgets to `grid` at `row`: icon, label, value and, with a link text,
    // the link. An empty label makes a spacer row.
    StatusRow(QGridLayout* grid, int row, const QString& label, const QString& link_text = {},
              std::function<void()> action = {});

    // True when something changed and was repainted.
    bool Update(const QString& value, StatusIcon icon);

    const QString& Label() const { return m_label_text; }
    const QString& Value() const { return m_value_text; }
    StatusIcon Icon() const { return m_icon_state; }
    QPushButton* Link() const { return m_link; }

  private:
    QString m_label_text;
    QString m_value_text;
    StatusIcon m_icon_state = StatusIcon::None;
    QLabel* m_icon;
    QLabel* m_value;
    QPushButton* m_link = nullptr;
};

}  // namespace kv
