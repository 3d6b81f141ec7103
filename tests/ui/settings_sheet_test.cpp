// The settings sheet in this process, offscreen: every control against its setting through
// the registry, the minutes range, Cancel, the log file buttons, and the way it is opened.
#include "ui/config/settings_sheet.h"

#include <signal.h>
#include <sys/resource.h>

#include <QApplication>
#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTabBar>
#include <QTest>

#include "core/settings_table.h"
#include "cryptomodule/crypto_module.h"
#include "platform/registry/registry.h"
#include "platform/registry/registry_database.h"
#include "res/string_ids.h"
#include "res/tray_menu.h"
#include "tests/ui/agent_under_test.h"
#include "ui/config/config_dialog.h"
#include "ui/config/page_crypt.h"
#include "ui/config/page_lock.h"
#include "ui/config/page_log.h"
#include "ui/config/page_status.h"
#include "ui/config/property_sheet.h"

namespace kv::test {

namespace {

struct FlagControl {
    int page;
    const char* text;
    const char* value_name;
    std::uint16_t setting;
};

const FlagControl kFlags[] = {
    {0, "Allow to use keys for SSH1 public key authentications", "AllowSSH1Access",
     IDS_SETTING_ALLOW_SSH1_ACCESS},
    {0, "Use only FIPS-140 certified cryptography algorithms", "FipsMode", IDS_SETTING_FIPS_MODE},
    {0, "Allow remote agents to add keys", "AllowAgentADD", IDS_SETTING_ALLOW_AGENT_ADD},
    {0, "Allow remote agents to delete keys", "AllowAgentREMOVE", IDS_SETTING_ALLOW_AGENT_REMOVE},
    {0, "Always ask before performing a private key operation", "AskBeforeAgentOp",
     IDS_SETTING_ASK_BEFORE_AGENT_OP},
    {1, "Automatically lock Agent after", "AutoLockCheck", IDS_SETTING_AUTO_LOCK_CHECK},
    {1, "Request passphrase and unlock at startup", "UnlockOnStartup",
     IDS_SETTING_UNLOCK_ON_STARTUP},
    {1, "Request passphrase when SSH client needs to access Agent", "UnlockOnAccess",
     IDS_SETTING_UNLOCK_ON_ACCESS},
    {1, "Lock Agent when the screen locks", "LockOnScreenLock", IDS_SETTING_LOCK_ON_SCREEN_LOCK},
    {1, "Lock Agent before the computer goes to sleep", "LockOnSuspend",
     IDS_SETTING_LOCK_ON_SUSPEND},
    {1, "Lock Agent when the session ends", "LockOnSessionEnd", IDS_SETTING_LOCK_ON_SESSION_END},
    {2, "Cryptographic operation with private keys (sign, encrypt)", "LogOps", IDS_SETTING_LOG_OPS},
    {2, "Keypair added", "LogAdd", IDS_SETTING_LOG_ADD},
    {2, "Keypair deleted", "LogDelete", IDS_SETTING_LOG_DELETE},
    {2, "Request for a list of public keys", "LogList", IDS_SETTING_LOG_LIST},
    {2, "Agent locked or unlocked", "LogLock", IDS_SETTING_LOG_LOCK},
    {2, "Informational message", "LogInfo", IDS_SETTING_LOG_INFO},
    {2, "Error", "LogError", IDS_SETTING_LOG_ERROR},
};

CSettingsSheet* AsSheet(QWidget* window) { return qobject_cast<CSettingsSheet*>(window); }

QCheckBox* FindBox(CSettingsSheet* sheet, int page, const QString& text) {
    for (QCheckBox* box : sheet->Sheet()->GetPage(page)->findChildren<QCheckBox*>()) {
        if (box->text() == text) return box;
    }
    return nullptr;
}

// The settings as the registry holds them now.
SettingsTable Stored() {
    SettingsTable table;
    table.DefineDefaults();
    table.DefineAdditions();
    table.Load();
    return table;
}

std::uint32_t RawValue(const char* name) {
    RegistryKey key(kAgentRegistryPath);
    std::uint32_t value = 0xFFFFFFFF;
    std::uint32_t size = sizeof value;
    key.ReadRaw(name, &value, &size);
    return value;
}

QStringList TextsOf(QWidget* page) {
    QStringList texts;
    for (QGroupBox* group : page->findChildren<QGroupBox*>()) texts << group->title();
    for (QLabel* label : page->findChildren<QLabel*>()) texts << label->text();
    for (QPushButton* button : page->findChildren<QPushButton*>()) texts << button->text();
    return texts;
}

}  // namespace

class SettingsSheetTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AgentUnderTest> agent;

    // Opens the sheet the way the "Settings" link does; `answer` works the open sheet.
    void WithSheet(std::function<void(CSettingsSheet*)> answer) {
        agent->Hand().Next([answer](QWidget* window) {
            CSettingsSheet* sheet = AsSheet(window);
            QVERIFY(sheet != nullptr);
            answer(sheet);
        });
        OpenSettingsSheet(agent->App(), agent->Ui(), nullptr);
        QVERIFY(agent->Hand().Idle());
    }

  private slots:
    void init() {
        agent = std::make_unique<AgentUnderTest>();
        agent->UnlockFirstUse();
    }

    void cleanup() {
        const std::vector<QString> unexpected = agent->Hand().Unexpected();
        QVERIFY2(unexpected.empty(), qPrintable(unexpected.empty() ? QString() : unexpected[0]));
        agent.reset();
    }

    void EveryCheckBoxEditsItsSettingThroughTheRegistry() {
        for (const FlagControl& flag : kFlags) {
            const bool before = agent->App().Settings().GetFlag(flag.setting);
            WithSheet([&](CSettingsSheet* sheet) {
                QVERIFY(sheet->Sheet()->SetActivePage(flag.page));
                QCheckBox* box = FindBox(sheet, flag.page, flag.text);
                QVERIFY2(box != nullptr, flag.text);
                QCOMPARE(box->objectName(), QString(flag.value_name));
                QCOMPARE(box->isChecked(), before);
                box->click();
                sheet->OkButton()->click();
            });
            QCOMPARE(agent->App().Settings().GetFlag(flag.setting), !before);
            QCOMPARE(Stored().GetFlag(flag.setting), !before);
        }
        // OK applied them: FIPS mode reached the module.
        QCOMPARE(Module().Mode(), KVCLM_MODE_FIPS);
    }

    // A lock while the sheet was open (the screen, a client, the tray): OK asks to unlock
    // again; cancelled, the sheet stays open and nothing changes.
    void OkOnAnAgentLockedMeanwhileAsksToUnlockFirst() {
        WithSheet([&](CSettingsSheet* sheet) {
            agent->App().LockCommand();
            FindBox(sheet, 0, "Allow remote agents to delete keys")->click();
            agent->Hand().Next(
                [](QWidget* prompt) { QMetaObject::invokeMethod(prompt, "reject"); });
            sheet->OkButton()->click();
            QVERIFY(sheet->isVisible());
            QVERIFY(!agent->App().Settings().GetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE));
            agent->Hand().Next(TypePassphrase("pw"));
            sheet->OkButton()->click();
        });
        QVERIFY(agent->App().Settings().GetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE));
        QVERIFY(Stored().GetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE));
        QVERIFY(!agent->App().Keys().IsLocked());
    }

    // The registry cannot take the values (a full disk; here a file size limit): the user is
    // told, and so is the log. The agent follows the new values until it exits.
    void ASaveThatFailsIsReported() {
        const char* ask = "Always ask before performing a private key operation";
        rlimit saved{};
        QCOMPARE(::getrlimit(RLIMIT_FSIZE, &saved), 0);
        QString told;
        agent->Hand().Next([&](QWidget* window) {
            CSettingsSheet* sheet = AsSheet(window);
            FindBox(sheet, 0, ask)->click();
            ::signal(SIGXFSZ, SIG_IGN);
            const rlimit tiny{1024, saved.rlim_max};
            ::setrlimit(RLIMIT_FSIZE, &tiny);
            sheet->OkButton()->click();
        });
        agent->Hand().Next([&](QWidget* box) {
            const char* bin = std::getenv("KV_BIN_DIR");
            const QString dir = QString(bin != nullptr ? bin : ".") + "/../screenshots";
            QDir().mkpath(dir);
            ::setrlimit(RLIMIT_FSIZE, &saved);  // the picture is a file too
            box->grab().save(dir + "/settings_not_saved.png");
            ReadMessage (&told)(box);
        });
        OpenSettingsSheet(agent->App(), agent->Ui(), nullptr);
        ::setrlimit(RLIMIT_FSIZE, &saved);
        QVERIFY(agent->Hand().Idle());
        QCOMPARE(told,
                 QString("The settings could not be saved; they apply until the agent exits."));
        QCOMPARE(agent->LoggedCount(told.toStdString()), 1);
        QVERIFY(agent->App().Settings().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP));
        QVERIFY(!Stored().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP));
    }

    // The registry was held by another program when the agent read its settings (at start and
    // at the unlock): it runs on the defaults. The sheet must show the stored values, never
    // the defaults, or its OK would write the defaults over them.
    void SettingsUnreadUntilNowAreReadBeforeTheSheetShowsThem() {
        {
            RegistryKey key(kAgentRegistryPath);
            QVERIFY(key.WriteDword("AskBeforeAgentOp", 1));
            QVERIFY(key.WriteDword("AutoLockMinutes", 42));
        }
        registry_testing::FailReadsAfter(0);
        agent->App().InitSettings();
        registry_testing::Reset();
        QVERIFY(agent->App().SettingsUnread());
        bool asked = false;
        QString minutes;
        WithSheet([&](CSettingsSheet* sheet) {
            asked = FindBox(sheet, 0, "Always ask before performing a private key operation")
                        ->isChecked();
            sheet->Sheet()->SetActivePage(1);
            minutes = sheet->LockPage()->MinutesField()->text();
            sheet->OkButton()->click();
        });
        QVERIFY(asked);
        QCOMPARE(minutes, QString("42"));
        QVERIFY(Stored().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP));
        QCOMPARE(Stored().GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 42);
        QVERIFY(agent->App().Settings().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP));
        QVERIFY(!agent->App().SettingsUnread());

        // Still held: the user is told, and no sheet opens.
        registry_testing::FailReadsAfter(0);
        agent->App().InitSettings();
        QString told;
        agent->Hand().Next(ReadMessage(&told));
        OpenSettingsSheet(agent->App(), agent->Ui(), nullptr);
        registry_testing::Reset();
        QVERIFY(agent->Hand().Idle());
        QCOMPARE(told, QString("The settings could not be read; please try again later."));
        QCOMPARE(agent->LoggedCount(told.toStdString()), 1);
        QVERIFY(Stored().GetFlag(IDS_SETTING_ASK_BEFORE_AGENT_OP));
        QCOMPARE(Stored().GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 42);
    }

    void PagesCarryTheirTextsAndNothingElse() {
        CSettingsSheet sheet(agent->App(), agent->Ui());
        QCOMPARE(sheet.windowTitle(), QString("Korvenix Authentication Agent configuration"));
        QStringList tabs;
        for (int i = 0; i < sheet.Sheet()->count(); ++i) tabs << sheet.Sheet()->tabText(i);
        QCOMPARE(tabs, QStringList({"Access control", "Lock", "Logging"}));
        for (int page = 0; page < 3; ++page) {
            QStringList expected;
            for (const FlagControl& flag : kFlags) {
                if (flag.page == page) expected << flag.text;
            }
            QStringList found;
            for (QCheckBox* box : sheet.Sheet()->GetPage(page)->findChildren<QCheckBox*>()) {
                found << box->text();
            }
            expected.sort();
            found.sort();
            QCOMPARE(found, expected);
        }
        const QStringList crypt = TextsOf(sheet.Sheet()->GetPage(0));
        QVERIFY(crypt.contains("Cryptography") && crypt.contains("Operations"));
        QVERIFY(crypt.contains(
            "Remote systems can send requests to add or remove keys from this agent if agent "
            "forwarding is enabled in SSH Client. See \"man ssh-add2\" on a remote Unix system "
            "for details."));
        const QStringList lock = TextsOf(sheet.Sheet()->GetPage(1));
        QVERIFY(lock.contains("Unlock Requests") && lock.contains("minutes of inactivity") &&
                lock.contains("&Change Passphrase...") &&
                lock.contains("Lock with the desktop session"));
        QVERIFY(crypt.contains("Let the confirmation remember an approval for") &&
                crypt.contains("minutes (0: never)"));
        const QStringList log = TextsOf(sheet.Sheet()->GetPage(2));
        QVERIFY(log.contains("Log Filters") && log.contains("Log File") && log.contains("...") &&
                log.contains("&Empty log file") &&
                log.contains("Choose the types of messages that you want to log"));
    }

    // Every wrapped note shows all its lines at the size the sheet opens with, also with a
    // larger font (a second run of this test sets one): a tab page does not ask for the
    // height its notes need at the width they get.
    void EveryNoteShowsWhole() {
        WithSheet([&](CSettingsSheet* sheet) {
            for (int page = 0; page < sheet->Sheet()->count(); ++page) {
                sheet->Sheet()->setCurrentIndex(page);
                QCoreApplication::processEvents();
                for (const QLabel* note : sheet->Sheet()->widget(page)->findChildren<QLabel*>()) {
                    if (!note->wordWrap() || !note->isVisible()) continue;
                    QVERIFY2(note->height() >= note->heightForWidth(note->width()),
                             qPrintable(QString("page %1: %2 of %3 px: %4")
                                            .arg(page)
                                            .arg(note->height())
                                            .arg(note->heightForWidth(note->width()))
                                            .arg(note->text().left(40))));
                }
                sheet->grab().save(QString("screenshots/settings_sheet_page%1_dpi%2.png")
                                       .arg(page)
                                       .arg(qEnvironmentVariable("QT_FONT_DPI", "96")));
            }
            sheet->reject();
        });
    }

    void MinutesMustLieBetweenZeroAndThirtyThousand() {
        for (const char* accepted : {"0", "30000"}) {
            WithSheet([&](CSettingsSheet* sheet) {
                sheet->Sheet()->SetActivePage(1);
                sheet->LockPage()->MinutesField()->setText(accepted);
                sheet->OkButton()->click();
            });
            QCOMPARE(Stored().GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), QString(accepted).toInt());
        }
        for (const char* refused : {"30001", "", "99999999999"}) {
            QString message;
            WithSheet([&](CSettingsSheet* sheet) {
                sheet->Sheet()->SetActivePage(1);
                QLineEdit* minutes = sheet->LockPage()->MinutesField();
                minutes->setText(refused);
                agent->Hand().Next(ReadMessage(&message));
                sheet->OkButton()->click();
                QVERIFY(sheet->isVisible());  // stays open, the field focused
                QCOMPARE(sheet->focusWidget(), static_cast<QWidget*>(minutes));
                // Nor can the page be left with it.
                agent->Hand().Next(ReadMessage(&message));
                sheet->Sheet()->setCurrentIndex(2);
                QCOMPARE(sheet->Sheet()->GetActiveIndex(), 1);
                sheet->reject();
            });
            QCOMPARE(message, QString("Please enter an integer between 0 and 30000."));
            QCOMPARE(Stored().GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 30000);
        }
    }

    // Off by default, so the confirmation prompt stays as it was; at most a day.
    void RememberMinutesLieBetweenZeroAndADay() {
        WithSheet([&](CSettingsSheet* sheet) {
            QCOMPARE(sheet->CryptPage()->RememberField()->text(), QString("0"));
            QCOMPARE(sheet->CryptPage()->RememberField()->objectName(),
                     QString("RememberApprovalMinutes"));
            sheet->CryptPage()->RememberField()->setText("1440");
            sheet->OkButton()->click();
        });
        QCOMPARE(Stored().GetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES), 1440);
        QString message;
        WithSheet([&](CSettingsSheet* sheet) {
            sheet->CryptPage()->RememberField()->setText("1441");
            agent->Hand().Next(ReadMessage(&message));
            sheet->OkButton()->click();
            QVERIFY(sheet->isVisible());
            sheet->reject();
        });
        QCOMPARE(message, QString("Please enter an integer between 0 and 1440."));
        QCOMPARE(Stored().GetNumber(IDS_SETTING_REMEMBER_APPROVAL_MINUTES), 1440);
    }

    void CancelChangesNothing() {
        const QString path = agent->Folder() + "/cancelled.log";
        WithSheet([&](CSettingsSheet* sheet) {
            for (int page = 0; page < 3; ++page) {
                sheet->Sheet()->SetActivePage(page);
                for (QCheckBox* box : sheet->Sheet()->GetPage(page)->findChildren<QCheckBox*>())
                    box->click();
            }
            sheet->LockPage()->MinutesField()->setText("17");
            sheet->CryptPage()->RememberField()->setText("17");
            sheet->LogPage()->PathField()->setText(path);
            sheet->reject();
        });
        SettingsTable defaults;
        defaults.DefineDefaults();
        defaults.DefineAdditions();
        const SettingsTable stored = Stored();
        for (std::uint16_t id : defaults.Ids()) {
            QCOMPARE(agent->App().Settings().GetNumber(id), defaults.GetNumber(id));
            QCOMPARE(agent->App().Settings().GetText(id), defaults.GetText(id));
            QCOMPARE(stored.GetNumber(id), defaults.GetNumber(id));
        }
        QVERIFY(!agent->App().Log().FileLogging());
    }

    void OkSavesAndAppliesTheLogFileAndMinutes() {
        const QString path = agent->Folder() + "/agent.log";
        QFile::remove(path);
        agent->App().OpenConfigurationWindow();
        agent->App().SetAutoLockDeadline(CAgentApp::kNoDeadline);
        WithSheet([&](CSettingsSheet* sheet) {
            sheet->Sheet()->SetActivePage(2);
            sheet->LogPage()->PathField()->setText(path);
            sheet->Sheet()->SetActivePage(1);
            sheet->LockPage()->MinutesField()->setText("12");
            sheet->Sheet()->SetActivePage(0);
            FindBox(sheet, 0, "Use only FIPS-140 certified cryptography algorithms")->click();
            sheet->OkButton()->click();
        });
        QCOMPARE(Stored().GetText(IDS_SETTING_LOG_TO_FILE), path.toStdString());
        QCOMPARE(Stored().GetNumber(IDS_SETTING_AUTO_LOCK_MINUTES), 12);
        QVERIFY(agent->App().Log().FileLogging());
        QVERIFY(agent->App().AutoLockDeadline() != CAgentApp::kNoDeadline);
        // The open window was refreshed with the new mode.
        QCOMPARE(agent->Ui().ConfigWindow()->StatusPage()->Row(5).Value(),
                 QString("FIPS-140-2 compliant"));
        agent->App().Log().AddLogEntry(LogInfo, "to the file");
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        QVERIFY(file.readAll().contains("Info:to the file\r\n"));

        WithSheet([&](CSettingsSheet* sheet) {
            sheet->Sheet()->SetActivePage(2);
            sheet->LogPage()->PathField()->clear();
            sheet->OkButton()->click();
        });
        QVERIFY(!agent->App().Log().FileLogging());
        QFile::remove(path);
    }

    void OnlyPagesThatWereShownWriteBack() {
        // A stored 2 reads as on and is written back as 1 only by the page that showed it.
        {
            RegistryKey key(kAgentRegistryPath);
            const std::uint32_t two = 2;
            QVERIFY(key.WriteBinary("LogOps", &two, sizeof two));
        }
        agent->App().Settings().Load();
        WithSheet([](CSettingsSheet* sheet) { sheet->OkButton()->click(); });
        QCOMPARE(RawValue("LogOps"), 2u);
        WithSheet([](CSettingsSheet* sheet) {
            sheet->Sheet()->SetActivePage(2);
            sheet->OkButton()->click();
        });
        QCOMPARE(RawValue("LogOps"), 1u);
    }

    void EmptyLogFileTruncatesTheTypedPath() {
        CSettingsSheet sheet(agent->App(), agent->Ui());
        sheet.show();
        CPageLog* page = sheet.LogPage();
        const QString path = agent->Folder() + "/empty-me.log";
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            file.write("old lines\r\n");
        }
        QString message;
        page->PathField()->setText(path);
        agent->Hand().Next(ReadMessage(&message));
        QTest::mouseClick(page->EmptyButton(), Qt::LeftButton);
        QCOMPARE(message, QString("Log file has been emptied."));
        QCOMPARE(QFileInfo(path).size(), 0);
        QCOMPARE(agent->LoggedCount("Log file has been emptied."), 1);
        QFile::remove(path);

        message.clear();
        page->PathField()->clear();
        QTest::mouseClick(page->EmptyButton(), Qt::LeftButton);  // nothing, not even a message
        QVERIFY(message.isEmpty());

        page->PathField()->setText(agent->Folder() + "/no-such-dir/x.log");
        agent->Hand().Next(ReadMessage(&message));
        QTest::mouseClick(page->EmptyButton(), Qt::LeftButton);
        QCOMPARE(message, QString("Could not open log file for writing; log file not emptied."));
        QCOMPARE(agent->LoggedCount("Could not open log file for writing; log file not emptied."),
                 1);
        // The setting itself is untouched until OK.
        QVERIFY(agent->App().Settings().GetText(IDS_SETTING_LOG_TO_FILE).empty());
    }

    void LogFileChooserProposesKvSshAa() {
        CSettingsSheet sheet(agent->App(), agent->Ui());
        sheet.show();
        QString proposed;
        agent->Hand().Next([&](QWidget* window) {
            auto* dialog = qobject_cast<QFileDialog*>(window);
            QVERIFY(dialog != nullptr);
            QCOMPARE(dialog->acceptMode(), QFileDialog::AcceptSave);
            QCOMPARE(dialog->defaultSuffix(), QString("log"));
            QCOMPARE(dialog->nameFilters(), QStringList({"Log Files (*.log)", "All Files (*)"}));
            QVERIFY(!dialog->testOption(QFileDialog::DontConfirmOverwrite));
            proposed = QFileInfo(dialog->selectedFiles().value(0)).fileName();
            QVERIFY(dialog->directory() == QDir::home());
            // Typed as a person would.
            auto* name = dialog->findChild<QLineEdit*>("fileNameEdit");
            QVERIFY(name != nullptr);
            name->setText(agent->Folder() + "/chosen");
            QMetaObject::invokeMethod(dialog, "accept");
        });
        sheet.LogPage()->BrowseButton()->click();
        QVERIFY(proposed.startsWith("kv-ssh-aa"));
        QCOMPARE(sheet.LogPage()->PathField()->text(), agent->Folder() + "/chosen.log");
        QVERIFY(agent->App().Settings().GetText(IDS_SETTING_LOG_TO_FILE).empty());
    }

    void SettingsLinkUnlocksFirstAndOpensOneSheet() {
        agent->App().LockCommand();
        agent->App().OpenConfigurationWindow();
        QPushButton* link = agent->Ui().ConfigWindow()->StatusPage()->Row(9).Link();

        // Cancelled unlock: no sheet.
        agent->Hand().Next([](QWidget* prompt) { QMetaObject::invokeMethod(prompt, "reject"); });
        link->click();
        QVERIFY(agent->App().Keys().IsLocked());

        QString prompt_text;
        int depth = 0;
        agent->Hand().Next(TypePassphrase("pw", &prompt_text));
        agent->Hand().Next([&](QWidget* window) {
            QVERIFY(AsSheet(window) != nullptr);
            depth = agent->App().PromptDepth();
            // A second request only brings this one forward.
            OpenSettingsSheet(agent->App(), agent->Ui(), nullptr);
            agent->App().OpenConfigurationWindow();
            AsSheet(window)->reject();
        });
        link->click();
        QVERIFY(agent->Hand().Idle());
        QVERIFY(prompt_text.contains("Access to Authentication Agent's configuration menu"));
        QCOMPARE(depth, 1);
        QCOMPARE(agent->App().PromptDepth(), 0);
        QVERIFY(!agent->App().Keys().IsLocked());
    }

    void HelpAndNamesOfTheSheet() {
        HelpPages help({133, 138, 135});
        CSettingsSheet sheet(agent->App(), agent->Ui());
        sheet.show();
        for (int page = 0; page < 3; ++page) {
            sheet.Sheet()->SetActivePage(page);
            QCOMPARE(UnnamedControls(&sheet), QStringList());
            sheet.findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Help)->click();
        }
        QCOMPARE(help.opened, QStringList({"133.html", "138.html", "135.html"}));
    }

    void ChangePassphraseButtonRunsTheCommand() {
        CSettingsSheet sheet(agent->App(), agent->Ui());
        sheet.show();
        agent->Hand().Next([](QWidget* prompt) { QMetaObject::invokeMethod(prompt, "reject"); });
        sheet.LockPage()->ChangePassphraseButton()->click();
        QCOMPARE(agent->Commands(), std::vector<int>({ID_CHANGE_PASSPHRASE}));

        // Enter on the focused button presses it, rather than the sheet's OK.
        sheet.Sheet()->SetActivePage(1);
        sheet.LockPage()->ChangePassphraseButton()->setFocus();
        agent->Hand().Next([](QWidget* prompt) { QMetaObject::invokeMethod(prompt, "reject"); });
        QTest::keyClick(sheet.LockPage()->ChangePassphraseButton(), Qt::Key_Return);
        QCOMPARE(agent->Commands(), std::vector<int>({ID_CHANGE_PASSPHRASE, ID_CHANGE_PASSPHRASE}));
        QVERIFY(sheet.isVisible());
    }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::SettingsSheetTest)
#include "settings_sheet_test.moc"
