// The About window (dialog 100): a borderless picture with the product name, the version,
// the legal notice and a description of the cryptographic library drawn over it. With a
// close-after time it is the start-up splash; without one it is the About box. Either closes
// at a key press or a mouse button's release.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <QString>
#include <QTimer>

namespace kv {

class CAboutDialog : public QDialog {
    Q_OBJECT
  public:
    static constexpr int IDD = 100;
    static constexpr int kSplashMilliseconds = 1000;

    // The window shows bitmap 415 whatever `bitmap_id` says. `close_after_ms` 0: it stays
    // until dismissed and is centred on `owner` (the screen without one); otherwise it closes
    // by itself after that time and is centred on the screen.
    CAboutDialog(int bitmap_id, int close_after_ms, QWidget* owner = nullptr);

    int CloseAfter() const { return m_close_after; }
    bool TimerRunning() const { return m_timer.isActive(); }

    // The lines drawn over the picture.
    static QString ProductName();
    static QString Version();
    // The legal notice followed by the cryptographic library's description.
    static QString NoticeText();

  protected:
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

  private:
    void Centre(QWidget* owner);

    int m_close_after;
    QTimer m_timer;
    QPixmap m_picture;
    QString m_notice;
};

}  // namespace kv
