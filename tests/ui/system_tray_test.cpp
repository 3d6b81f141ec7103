// The tray icon and its menu in this process, offscreen, wired as the agent wires them: the
// real application, main frame, commands and Qt front end. Prompts and message boxes are
// answered from inside their own loops, as a person would answer them.
#include "ui/tray/system_tray.h"

#include <QAbstractButton>
#include <QAction>
#include <QDesktopServices>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <memory>

#include "agent/agent_services.h"
#include "agent/main_frame.h"
#include "agent/request_dispatcher.h"
#include "app/agent_app.h"
#include "platform/registry/registry_database.h"
#include "tests/support/temp_dir.h"
#include "tests/ui/dialog_answerer.h"
#include "ui/about/about_dialog.h"
#include "ui/prompts/new_passphrase_dialog.h"
#include "ui/prompts/unlock_dialog.h"
#include "ui/qt_user_interface.h"

namespace kv {

// Receives the help pages the desktop would open.
class UrlRecorder : public QObject {
    Q_OBJECT
  public:
    QList<QUrl> opened;
  public slots:
    void Open(const QUrl& url) { opened << url; }
};

class SystemTrayTest : public QObject {
    Q_OBJECT

    const QStringList kTexts = {"&Open Korvenix SSH Authentication Agent...",
                                "About...",
                                "&Unlock",
                                "&Change Passphrase",
                                "&Lock",
                                "&Help",
                                "Exit"};

    std::unique_ptr<IsolatedHome> m_home;
    std::unique_ptr<QtUserInterface> m_ui;
    std::unique_ptr<RequestDispatcher> m_dispatcher;
    std::unique_ptr<CAgentApp> m_app;
    std::unique_ptr<AgentServices> m_services;
    CMainFrame* m_frame = nullptr;
    FakeClock* m_clock = nullptr;
    DialogAnswerer m_answer;
    // Seen from inside the first-use prompt.
    QString m_tooltip_during_first_use;
    bool m_started_before_first_use = false;

    CSystemTray& Tray() { return *m_ui->Tray(); }

    static void Type(QLineEdit* field, const QString& text) {
        field->clear();
        QTest::keyClicks(field, text);
    }

    // Starts the agent as main() does; the first-use prompt is answered with "pw".
    void StartAgent() {
        m_answer.OnNext([this](QDialog* dialog) {
            m_tooltip_during_first_use = Tray().Tooltip();
            for (const LogEntry& e : m_app->Log().Entries())
                m_started_before_first_use |= e.message == "Agent started";
            auto* prompt = qobject_cast<CNewPassphraseDialog*>(dialog);
            QVERIFY(prompt != nullptr);
            Type(prompt->NewField(), "pw");
            Type(prompt->RetypeField(), "pw");
            prompt->accept();
        });
        QVERIFY(m_app->InitInstance([this](CAgentApp& owner) {
            auto frame = std::make_unique<CMainFrame>(owner, *m_dispatcher);
            m_frame = frame.get();
            m_services = InstallAgentServices(owner, *m_dispatcher, *frame);
            m_ui->Attach(
                owner, [this](int id) { return m_frame->OnCommand(id); },
                [this](int id) { return m_frame->IsCommandEnabled(id); });
            return frame;
        }));
        QVERIFY(m_answer.Answered());
        QVERIFY(!m_app->Keys().IsLocked());
    }

    QMenu* RightClick() {
        Tray().HandleNotification(IDR_TRAY_MENU, QSystemTrayIcon::Context);
        QMenu* menu = Tray().OpenMenu();
        if (menu != nullptr && !QTest::qWaitForWindowExposed(menu)) return nullptr;
        return menu;
    }

    static QList<bool> EnabledStates(QMenu* menu) {
        QList<bool> states;
        for (QAction* action : menu->actions()) states << action->isEnabled();
        return states;
    }

    QAction* Item(QMenu* menu, const QString& text) {
        for (QAction* action : menu->actions())
            if (action->text() == text) return action;
        return nullptr;
    }

    QString LastLogMessage() const {
        return QString::fromStdString(m_app->Log().Entries().back().message);
    }

  private slots:
    void init() {
        m_home = std::make_unique<IsolatedHome>();
        m_ui = std::make_unique<QtUserInterface>();
        m_dispatcher = std::make_unique<RequestDispatcher>();
        auto clock = std::make_unique<FakeClock>();
        m_clock = clock.get();
        m_app = std::make_unique<CAgentApp>(*m_ui, std::move(clock));
        m_tooltip_during_first_use.clear();
        m_started_before_first_use = false;
        StartAgent();
    }

    void cleanup() {
        m_app->ExitInstance();
        m_services.reset();
        m_app.reset();
        m_ui.reset();
        m_dispatcher.reset();
        RegistryDatabase::Close();
        m_home.reset();
    }

    void theIconIsThereBeforeTheFirstUsePrompt() {
        QVERIFY(m_started_before_first_use);
        QCOMPARE(m_tooltip_during_first_use, QString("Korvenix SSH Authentication Agent : Locked"));
        QCOMPARE(Tray().Tooltip(), QString("Korvenix SSH Authentication Agent : Unlocked"));
    }

    void theMenuFollowsTheLockState() {
        QMenu* menu = RightClick();
        QVERIFY(menu != nullptr);
        QStringList texts;
        for (QAction* action : menu->actions()) texts << action->text();
        QCOMPARE(texts, kTexts);
        QCOMPARE(menu->defaultAction(), menu->actions().first());
        for (QAction* action : menu->actions())
            QCOMPARE(action->font().bold(), action == menu->defaultAction());
        QCOMPARE(EnabledStates(menu), (QList<bool>{true, true, false, true, true, true, true}));
        menu->grab().save("screenshots/tray_menu_unlocked_offscreen.png");

        // "&Lock" by its accelerator.
        QTest::keyClick(menu, Qt::Key_L);
        QTRY_VERIFY(m_app->Keys().IsLocked());
        QCOMPARE(LastLogMessage(), QString("Locked"));
        QCOMPARE(Tray().Tooltip(), QString("Korvenix SSH Authentication Agent : Locked"));

        menu = RightClick();
        QVERIFY(menu != nullptr);
        QCOMPARE(EnabledStates(menu), (QList<bool>{true, true, true, false, false, true, true}));
        menu->close();
    }

    // A menu stays open as long as the user likes: when an item is chosen, what the menu
    // offered may no longer apply (the automatic lock or a client locked the agent meanwhile).
    // "Lock" then does nothing: no second "Locked" entry, no wake-up for waiting clients.
    void anItemThatNoLongerAppliesDoesNothing() {
        QMenu* menu = RightClick();
        QVERIFY(menu != nullptr);
        QVERIFY(Item(menu, "&Lock")->isEnabled());
        m_app->LockCommand();
        const int entries = m_app->Log().Entries().size();
        QTest::keyClick(menu, Qt::Key_L);
        bool later = false;
        QTimer::singleShot(0, [&] { later = true; });  // after the chosen command's turn
        QTRY_VERIFY(later);
        QCOMPARE(int(m_app->Log().Entries().size()), entries);
        QVERIFY(m_app->Keys().IsLocked());
    }

    void aPromptTakesTheClicksAway() {
        m_app->LockCommand();
        int opened = 0;
        m_frame->SetCommand(ID_OPEN_CONFIGURATION, [&] { ++opened; });
        bool menu_while_prompt = true;
        bool prompt_active = false;
        m_answer.OnNext([&](QDialog* dialog) {
            auto* prompt = qobject_cast<CUnlockDialog*>(dialog);
            QVERIFY(prompt != nullptr);
            // Another window has the focus when the user goes to the tray.
            QWidget elsewhere;
            elsewhere.show();
            elsewhere.activateWindow();
            if (!QTest::qWaitForWindowActive(&elsewhere)) return;
            Tray().HandleNotification(IDR_TRAY_MENU, QSystemTrayIcon::Context);
            Tray().HandleNotification(IDR_TRAY_MENU, QSystemTrayIcon::DoubleClick);
            prompt_active = QTest::qWaitFor([&] { return QApplication::activeWindow() == prompt; });
            menu_while_prompt = Tray().OpenMenu() != nullptr || QApplication::activePopupWidget();
            Type(prompt->PassphraseField(), "pw");
            prompt->accept();
        });
        QMenu* menu = RightClick();
        QVERIFY(menu != nullptr);
        QTest::keyClick(menu, Qt::Key_U);
        QTRY_VERIFY(m_answer.Answered());
        QTRY_VERIFY(!m_app->Keys().IsLocked());
        QVERIFY(!menu_while_prompt);
        QVERIFY(prompt_active);
        QCOMPARE(opened, 0);
    }

    void aDoubleClickRunsTheDefaultItemOnly() {
        int opened = 0;
        m_frame->SetCommand(ID_OPEN_CONFIGURATION, [&] { ++opened; });
        Tray().HandleNotification(IDR_TRAY_MENU, QSystemTrayIcon::Trigger);
        Tray().HandleNotification(IDR_TRAY_MENU + 1, QSystemTrayIcon::DoubleClick);
        Tray().HandleNotification(IDR_TRAY_MENU, QSystemTrayIcon::MiddleClick);
        QTest::qWait(0);
        QCOMPARE(opened, 0);
        QVERIFY(Tray().OpenMenu() == nullptr);
        Tray().HandleNotification(IDR_TRAY_MENU, QSystemTrayIcon::DoubleClick);
        QTRY_COMPARE(opened, 1);
        // A default item given by position is the command at that place in the menu.
        Tray().SetDefaultItem(1, true);
        QCOMPARE(Tray().DefaultCommand(), int(ID_APP_ABOUT));
    }

    void exitAsksAndOnlyYesEnds() {
        QSignalSpy closing(m_frame, &CMainFrame::CloseRequested);
        QString asked;
        QMessageBox::Icon icon = QMessageBox::NoIcon;
        auto answer = [&](QMessageBox::StandardButton button) {
            m_answer.OnNext([&, button](QDialog* dialog) {
                auto* box = qobject_cast<QMessageBox*>(dialog);
                QVERIFY(box != nullptr);
                asked = box->text();
                icon = box->icon();
                QCOMPARE(box->standardButtons(), QMessageBox::Yes | QMessageBox::No);
                box->button(button)->click();
            });
        };
        answer(QMessageBox::No);
        Item(RightClick(), "Exit")->trigger();
        QTRY_VERIFY(m_answer.Answered());
        QCOMPARE(asked,
                 QString("Are you sure you want to shut down Korvenix SSH Authentication Agent?"));
        QCOMPARE(icon, QMessageBox::Question);
        QTest::qWait(0);
        QCOMPARE(closing.count(), 0);
        QVERIFY(RightClick() != nullptr);  // still running, the menu still opens
        Tray().OpenMenu()->close();

        answer(QMessageBox::Yes);
        Item(RightClick(), "Exit")->trigger();
        QTRY_COMPARE(closing.count(), 1);
    }

    void theAboutBoxRestartsTheAutoLockCountdown() {
        const FileTime start = m_clock->Now();
        m_clock->AdvanceSeconds(120);
        bool was_box = false;
        m_answer.OnNext([&](QDialog* dialog) {
            auto* about = qobject_cast<CAboutDialog*>(dialog);
            was_box = about != nullptr && about->CloseAfter() == 0 && !about->TimerRunning();
            dialog->grab().save("screenshots/about_box_offscreen.png");
            QTest::keyClick(dialog, Qt::Key_X, Qt::AltModifier);
        });
        Item(RightClick(), "About...")->trigger();
        QTRY_VERIFY(m_answer.Answered());
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        QVERIFY(was_box);
        // Five minutes (the default) from the moment the box closed, not from the unlock.
        QCOMPARE(m_app->AutoLockDeadline(), AddSeconds(start, 120 + 5 * 60));
    }

    // About asked for again while it is open (the tray menu still works) brings the open one
    // forward: a second one on top would leave the first behind after a key closed it.
    void aSecondAboutBringsTheFirstForward() {
        int shown = 0;
        DialogAnswerer second;
        m_answer.OnNext([&](QDialog* first) {
            ++shown;
            second.OnNext([&](QDialog* again) {
                ++shown;
                again->reject();
            });
            Item(RightClick(), "About...")->trigger();
            QTest::qWait(50);
            first->reject();
        });
        Item(RightClick(), "About...")->trigger();
        QTRY_VERIFY(m_answer.Answered());
        QTRY_VERIFY(QApplication::activeModalWidget() == nullptr);
        QCOMPARE(shown, 1);
    }

    void everyHelpContextHasItsPageBesideTheAgent() {
        const QString dir = qEnvironmentVariable("KV_BIN_DIR") + "/Documentation/";
        for (const unsigned id : {0u, 131u, 133u, 135u, 138u, 143u, 148u, 150u, 151u, 183u}) {
            const QString path = QString::fromStdString(CAgentApp::HelpPagePath(id));
            const QString name = path.section('/', -1);
            QCOMPARE(name, id == 0 ? QString("index.html") : QString("%1.html").arg(id));
            QFile page(dir + name);
            QVERIFY2(page.open(QIODevice::ReadOnly), qPrintable(page.fileName()));
            const QString html = QString::fromUtf8(page.readAll());
            QVERIFY(html.contains("<h1>"));
            QVERIFY(html.contains("href=\"style.css\""));
        }
        QVERIFY(QFile::exists(dir + "style.css"));
    }

    void helpOpensItsPageOrSaysItIsNotAvailable() {
        UrlRecorder recorder;
        QDesktopServices::setUrlHandler("file", &recorder, "Open");
        QTest::keyClick(RightClick(), Qt::Key_H);
        QTRY_COMPARE(recorder.opened.size(), 1);
        QVERIFY(recorder.opened[0].toLocalFile().endsWith("/tests/Documentation/index.html"));
        m_app->ShowHelp(143);
        QCOMPARE(recorder.opened.size(), 2);
        QVERIFY(recorder.opened[1].toLocalFile().endsWith("/tests/Documentation/143.html"));

        QString said;
        auto record = [&](QDialog* dialog) {
            auto* box = qobject_cast<QMessageBox*>(dialog);
            QVERIFY(box != nullptr);
            QCOMPARE(box->icon(), QMessageBox::Critical);
            said = box->text();
            box->accept();
        };
        m_answer.OnNext(record);
        m_app->ShowHelp(4242);  // no such page
        QCOMPARE(said, QString("Help file is not available."));
        QCOMPARE(recorder.opened.size(), 2);

        // The page is there but nothing on this desktop can show it.
        QDesktopServices::unsetUrlHandler("file");
        said.clear();
        m_answer.OnNext(record);
        m_app->ShowHelp(183);
        QCOMPARE(said, QString("Help file is not available."));
    }
};

}  // namespace kv

QTEST_MAIN(kv::SystemTrayTest)
#include "system_tray_test.moc"
