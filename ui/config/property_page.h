// One page of a property sheet: the configuration window's Status, Event Log and Keys pages
// and the settings sheet's pages. A page has a title and a help context; a settings page
// also checks its fields when it is left and writes them back when the sheet closes with OK.
#pragma once

#include <QString>
#include <QWidget>

namespace kv {

class CPropertyPage : public QWidget {
    Q_OBJECT
  public:
    CPropertyPage(const QString& title, unsigned help_context, QWidget* parent = nullptr);

    const QString& Title() const { return m_title; }
    unsigned HelpContext() const { return m_help_context; }

    // The page is about to be left, or OK was pressed while it shows. False keeps it
    // showing; the page has then told the user why and put the focus on the field.
    virtual bool OnKillActive() { return true; }
    // OK on the sheet, for every page that was shown: copy the controls into the settings.
    virtual void OnOK() {}

  private:
    QString m_title;
    unsigned m_help_context;
};

}  // namespace kv
