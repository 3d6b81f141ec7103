// The configuration window in this process, offscreen: its pages, their refresh after lock
// changes and client requests, the event list, help contexts, and hiding and showing.
#include <QApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTreeWidget>
#include <algorithm>
#include <cstdlib>

#include "app/module_description.h"
#include "kvclm/kvclm.h"
#include "res/string_ids.h"
#include "res/tray_menu.h"
#include "tests/ui/agent_under_test.h"
#include "ui/config/config_dialog.h"
#include "ui/config/page_event_log.h"
#include "ui/config/page_keys.h"
#include "ui/config/page_status.h"
#include "ui/keys/key_properties_dialog.h"

namespace kv::test {

class ConfigWindowTest : public QObject {
    Q_OBJECT

    std::unique_ptr<AgentUnderTest> agent;

    CConfigDialog* Open() {
        agent->App().OpenConfigurationWindow();
        return agent->Ui().ConfigWindow();
    }

    static QStringList Column(QTreeWidget* list, int column) {
        QStringList texts;
        for (int i = 0; i < list->topLevelItemCount(); ++i) {
            texts << list->topLevelItem(i)->text(column);
        }
        return texts;
    }

    // How many of "&Delete Keypair", "&Export Keypair..." and "Key &Properties" are enabled.
    static int SelectionButtonsEnabled(const CPageKeys* keys) {
        return keys->DeleteButton()->isEnabled() + keys->ExportButton()->isEnabled() +
               keys->PropertiesButton()->isEnabled();
    }

  private slots:
    void init() { agent = std::make_unique<AgentUnderTest>(); }

    void cleanup() {
        const std::vector<QString> unexpected = agent->Hand().Unexpected();
        QVERIFY2(unexpected.empty(), qPrintable(unexpected.empty() ? QString() : unexpected[0]));
        agent.reset();
    }

    void OpensOnceAndKeepsItsPageWhenHidden() {
        // While a prompt is open, opening only brings the prompt forward.
        QVERIFY(agent->App().PushPrompt());
        agent->App().OpenConfigurationWindow();
        QVERIFY(!agent->Ui().WindowIsOpen());
        agent->App().PopPrompt();

        CConfigDialog* window = Open();
        QVERIFY(window != nullptr && window->isVisible());
        QCOMPARE(window->windowTitle(), QString("Korvenix SSH Authentication Agent"));
        QCOMPARE(window->ActivePage(), int(CConfigDialog::kStatusPage));
        QStringList pages;
        for (int i = 0; i < window->PageList()->count(); ++i) {
            pages << window->PageList()->item(i)->text();
            QCOMPARE(window->PageList()->item(i)->data(Qt::UserRole).toInt(), (i + 1) * 100);
            QVERIFY(!window->PageList()->item(i)->icon().isNull());
        }
        QCOMPARE(pages, QStringList({"Status", "Event Log", "Keys"}));
        QCOMPARE(window->LockButton()->text(), QString("Unlock"));
        QCOMPARE(window->HelpButton()->text(), QString("&Help"));
        QCOMPARE(window->CloseButton()->text(), QString("&Close"));

        window->PageList()->setCurrentRow(CConfigDialog::kKeysPage);
        QCOMPARE(window->ActivePage(), int(CConfigDialog::kKeysPage));
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        QVERIFY(agent->Ui().WindowIsOpen());  // hidden, not destroyed

        agent->UnlockFirstUse();
        agent->App().SetAutoLockDeadline(CAgentApp::kNoDeadline);
        QCOMPARE(Open(), window);
        QVERIFY(window->isVisible());
        QCOMPARE(window->ActivePage(), int(CConfigDialog::kKeysPage));
        QCOMPARE(window->PageList()->currentRow(), int(CConfigDialog::kKeysPage));
        // Opening the window counts as the user's activity.
        QVERIFY(agent->App().AutoLockDeadline() != CAgentApp::kNoDeadline);

        QTest::mouseClick(window->CloseButton(), Qt::LeftButton);
        QVERIFY(!window->isVisible());
    }

    void LockButtonAndAgentRowFollowTheLockAtOnce() {
        CConfigDialog* window = Open();
        const CPageStatus* status = window->StatusPage();
        QCOMPARE(status->Row(0).Label(), QString("SSH Agent"));
        QCOMPARE(status->Row(0).Value(), QString("Locked"));
        QCOMPARE(status->Row(0).Icon(), StatusIcon::Locked);

        // "Unlock" runs the tray's Unlock command; on first use it asks for a new passphrase.
        agent->Hand().Next(TypePassphrase("pw"));
        QTest::mouseClick(window->LockButton(), Qt::LeftButton);
        QCOMPARE(agent->Commands(), std::vector<int>({ID_UNLOCK}));
        QVERIFY(!agent->App().Keys().IsLocked());
        QCOMPARE(window->LockButton()->text(), QString("Lock"));
        QCOMPARE(status->Row(0).Value(), QString("Available"));
        QCOMPARE(status->Row(0).Icon(), StatusIcon::Ok);

        // Locked from elsewhere (the tray), the window follows without being asked.
        agent->App().LockCommand();
        QCOMPARE(window->LockButton()->text(), QString("Unlock"));
        QCOMPARE(status->Row(0).Value(), QString("Locked"));

        agent->Hand().Next(TypePassphrase("pw"));
        QTest::mouseClick(window->LockButton(), Qt::LeftButton);
        QCOMPARE(window->LockButton()->text(), QString("Lock"));
        QTest::mouseClick(window->LockButton(), Qt::LeftButton);
        QCOMPARE(agent->Commands(), std::vector<int>({ID_UNLOCK, ID_UNLOCK, ID_LOCK}));
        QVERIFY(agent->App().Keys().IsLocked());
        QCOMPARE(window->LockButton()->text(), QString("Unlock"));
    }

    void StatusRowsShowTheAgentAndItsLibrary() {
        CConfigDialog* window = Open();
        const CPageStatus* status = window->StatusPage();
        QStringList labels;
        for (int i = 0; i < status->RowCount(); ++i) labels << status->Row(i).Label();
        QCOMPARE(labels, QStringList({"SSH Agent", "Keys in storage", "Cryprographic library",
                                      "Certification", "Version", "Mode", "", "", "", ""}));
        QCOMPARE(status->Row(1).Link()->accessibleName(), QString("Add key..."));
        QCOMPARE(status->Row(9).Link()->accessibleName(), QString("Settings"));

        QCOMPARE(status->Row(1).Value(), QString("0"));
        QCOMPARE(status->Row(2).Value(), QString("Loaded"));
        QCOMPARE(status->Row(2).Icon(), StatusIcon::Ok);
        QCOMPARE(status->Row(3).Value(), QString("Not certified yet"));
        const ModuleFacts facts = CurrentModuleFacts();
        QCOMPARE(status->Row(4).Value(),
                 QString("%1.%2 build %3").arg(facts.major).arg(facts.minor).arg(facts.build));
        QCOMPARE(status->Row(5).Value(), QString("Non-FIPS"));

        agent->UnlockFirstUse();
        for (const char* name : {"one", "two", "three"}) QCOMPARE(agent->ClientAdds(name), 0);
        QCOMPARE(status->Row(1).Value(), QString("3"));
        QCOMPARE(status->Row(0).Value(), QString("Available"));
        // Nothing changed, nothing is repainted.
        QCOMPARE(window->StatusPage()->Refresh(), 0);
    }

    void ACorruptLibraryIsReportedOncePerProcess() {
        ModuleFacts broken;
        broken.status = KVCLM_STATUS_ERROR;
        broken.mode = KVCLM_MODE_FIPS;
        broken.flags = KVCLM_VERSION_FIPS140;
        CPageStatus first(agent->App(), {}, [&] { return broken; });
        first.Refresh();
        first.Refresh();
        QCOMPARE(first.Row(2).Value(), QString("Corrupted"));
        QCOMPARE(first.Row(2).Icon(), StatusIcon::Error);
        QCOMPARE(first.Row(3).Value(), QString("Certified by NIST for FIPS-140-2"));
        QCOMPARE(first.Row(5).Value(), QString("FIPS-140-2 compliant"));
        CPageStatus second(agent->App(), {}, [&] { return broken; });
        second.Refresh();
        QCOMPARE(agent->LoggedCount("Cryptographic library reported corruption"), 1);
    }

    void KeyListFollowsClientsAndDisablesTheSelectionButtons() {
        agent->UnlockFirstUse();
        agent->App().Settings().SetFlag(IDS_SETTING_ALLOW_AGENT_REMOVE, true);
        QCOMPARE(agent->ClientAdds("beta", "second"), 0);
        QCOMPARE(agent->ClientAdds("alpha", "first"), 0);
        CConfigDialog* window = Open();
        window->ShowPage(CConfigDialog::kKeysPage);
        CPageKeys* keys = window->KeysPage();
        QTreeWidget* list = keys->List();
        QCOMPARE(list->headerItem()->text(0), QString("Filename"));
        QCOMPARE(list->headerItem()->text(1), QString("Comment"));
        QCOMPARE(Column(list, 0), QStringList({"alpha", "beta"}));
        QCOMPARE(Column(list, 1), QStringList({"first", "second"}));
        const std::int32_t alpha =
            list->topLevelItem(0)->data(0, CPageKeys::kKeyNumberRole).toInt();
        QCOMPARE(agent->App().Keys().FindByNumber(alpha)->Name(), std::string("alpha"));
        QCOMPARE(SelectionButtonsEnabled(keys), 0);
        QVERIFY(keys->GenerateButton()->isEnabled() && keys->ImportButton()->isEnabled());

        list->setCurrentItem(list->topLevelItem(1));
        QCOMPARE(SelectionButtonsEnabled(keys), 3);
        QCOMPARE(keys->SelectedKeyNumber(),
                 list->topLevelItem(1)->data(0, CPageKeys::kKeyNumberRole).toInt());

        // A log entry that changes no key (each signature writes one) keeps the rows, and
        // with them the user's selection.
        QTreeWidgetItem* const selected = list->topLevelItem(1);
        agent->App().Log().AddLogEntry(LogOperation, "a signature");
        QCOMPARE(list->topLevelItem(1), selected);
        QCOMPARE(SelectionButtonsEnabled(keys), 3);

        // A client adds a key while a row is selected: the list is rebuilt, sorted.
        QCOMPARE(agent->ClientAdds("Gamma", "third"), 0);
        QCOMPARE(Column(list, 0), QStringList({"alpha", "beta", "Gamma"}));
        QCOMPARE(SelectionButtonsEnabled(keys), 0);

        // A client deletes the selected key.
        list->setCurrentItem(list->topLevelItem(0));
        QCOMPARE(SelectionButtonsEnabled(keys), 3);
        QCOMPARE(agent->ClientDeletes("alpha"), 0);
        QCOMPARE(Column(list, 0), QStringList({"beta", "Gamma"}));
        QCOMPARE(SelectionButtonsEnabled(keys), 0);
        QCOMPARE(keys->SelectedKeyNumber(), -1);

        // A row whose key left the store without a refresh does not enable them.
        const std::int32_t beta = list->topLevelItem(0)->data(0, CPageKeys::kKeyNumberRole).toInt();
        list->clearSelection();
        QVERIFY(agent->App().Keys().Delete(beta));
        list->setCurrentItem(list->topLevelItem(0));
        QCOMPARE(SelectionButtonsEnabled(keys), 0);
    }

    // Hidden, the window keeps its rows while requests are logged (refilling the key list for
    // each entry made every request slower with every key); shown again, it is up to date.
    void AHiddenWindowIsRefreshedWhenShownAgain() {
        agent->UnlockFirstUse();
        QCOMPARE(agent->ClientAdds("alpha", "first"), 0);
        CConfigDialog* window = Open();
        QTreeWidget* list = window->KeysPage()->List();
        QTest::keyClick(window, Qt::Key_Escape);
        QVERIFY(!window->isVisible());
        constexpr int kMark = Qt::UserRole + 77;
        list->topLevelItem(0)->setData(0, kMark, true);
        agent->App().Log().AddLogEntry(LogInfo, "while hidden");
        QCOMPARE(agent->ClientAdds("beta", "second"), 0);
        QVERIFY(list->topLevelItem(0)->data(0, kMark).toBool());

        QCOMPARE(Open(), window);
        QCOMPARE(Column(list, 0), QStringList({"alpha", "beta"}));
        QCOMPARE(window->StatusPage()->Row(1).Value(), QString("2"));
    }

    // The key a command was about stays selected after it, also when a rename moved its row,
    // so that the next command on it (Alt+D after a look at its properties) needs no new choice.
    void TheKeyOfACommandStaysSelected() {
        agent->UnlockFirstUse();
        QCOMPARE(agent->ClientAdds("alpha"), 0);
        QCOMPARE(agent->ClientAdds("beta"), 0);
        CConfigDialog* window = Open();
        window->ShowPage(CConfigDialog::kKeysPage);
        CPageKeys* keys = window->KeysPage();
        QTreeWidget* list = keys->List();
        list->setCurrentItem(list->topLevelItem(1));
        const std::int32_t beta = keys->SelectedKeyNumber();
        agent->Hand().Next([](QWidget* dialog) { QTest::keyClick(dialog, Qt::Key_Escape); });
        QTest::mouseClick(keys->PropertiesButton(), Qt::LeftButton);
        QCOMPARE(keys->SelectedKeyNumber(), beta);
        QCOMPARE(SelectionButtonsEnabled(keys), 3);

        agent->Hand().Next([](QWidget* widget) {
            auto* dialog = qobject_cast<CKeyPropertiesDialog*>(widget);
            QVERIFY(dialog != nullptr);
            dialog->NameField()->setText("aardvark");
            emit dialog->NameField()->textEdited("aardvark");
            QTest::mouseClick(dialog->OkButton(), Qt::LeftButton);
        });
        QTest::mouseClick(keys->PropertiesButton(), Qt::LeftButton);
        QCOMPARE(Column(list, 0), QStringList({"aardvark", "alpha"}));
        QCOMPARE(keys->SelectedKeyNumber(), beta);
        QCOMPARE(list->currentItem(), list->topLevelItem(0));
        QCOMPARE(SelectionButtonsEnabled(keys), 3);
    }

    // Enter on the question keeps the key: a delete cannot be undone.
    void DeleteQuestionAnsweredWithEnterKeepsTheKey() {
        agent->UnlockFirstUse();
        QCOMPARE(agent->ClientAdds("kept"), 0);
        CConfigDialog* window = Open();
        window->ShowPage(CConfigDialog::kKeysPage);
        QTreeWidget* list = window->KeysPage()->List();
        list->setCurrentItem(list->topLevelItem(0));
        QString question;
        agent->Hand().Next([&question](QWidget* box) {
            question = WindowText(box);
            QTest::keyClick(box->focusWidget() != nullptr ? box->focusWidget() : box,
                            Qt::Key_Return);
        });
        QTest::mouseClick(window->KeysPage()->DeleteButton(), Qt::LeftButton);
        QVERIFY(question.startsWith("Are you sure you want to delete this keypair?"));
        QCOMPARE(agent->App().Keys().Count(), std::size_t(1));
    }

    // Tab takes the Keys page's buttons in the order they stand in, top to bottom.
    void TabFollowsTheKeyButtonsDownThePage() {
        agent->UnlockFirstUse();
        QCOMPARE(agent->ClientAdds("one"), 0);
        CConfigDialog* window = Open();
        window->ShowPage(CConfigDialog::kKeysPage);
        CPageKeys* keys = window->KeysPage();
        keys->List()->setCurrentItem(keys->List()->topLevelItem(0));
        QList<QPushButton*> buttons = keys->findChildren<QPushButton*>();
        std::sort(buttons.begin(), buttons.end(),
                  [](QPushButton* a, QPushButton* b) { return a->y() < b->y(); });
        QStringList shown;
        QStringList tabbed;
        QWidget* focus = keys->List();
        for (QPushButton* button : buttons) {
            shown << button->accessibleName();
            focus = focus->nextInFocusChain();
            while (!focus->isEnabled() || (focus->focusPolicy() & Qt::TabFocus) == 0) {
                focus = focus->nextInFocusChain();
            }
            tabbed << (qobject_cast<QPushButton*>(focus) ? focus->accessibleName() : QString());
        }
        QCOMPARE(tabbed, shown);
    }

    // At a larger font the window grows past the size it opens with: it is centred at the size
    // it shows with, not at the one it was given before.
    void ALargerFontStillCentresTheWindow() {
        const QFont normal = QApplication::font();
        QVERIFY(normal.pointSizeF() > 0);
        QFont large = normal;
        large.setPointSizeF(normal.pointSizeF() * 1.3);
        QApplication::setFont(large);
        CConfigDialog* window = Open();
        const QRect shown = window->frameGeometry();
        QApplication::setFont(normal);
        QVERIFY(shown.height() > 460);
        const QRect screen = QGuiApplication::primaryScreen()->availableGeometry();
        QVERIFY(screen.contains(shown));
        // As much room above it as below, but for the frame the window manager adds.
        const int above = shown.top() - screen.top();
        const int below = screen.bottom() - shown.bottom();
        QVERIFY2(std::abs(above - below) <= 4,
                 qPrintable(QString("%1 above, %2 below").arg(above).arg(below)));
    }

    void AtTwiceTheFontThePageTitlesShowWhole() {
        const QFont normal = QApplication::font();
        QFont large = normal;
        large.setPointSizeF(normal.pointSizeF() * 2);
        QApplication::setFont(large);
        CConfigDialog* window = Open();
        QListWidget* pages = window->PageList();
        QTest::qWait(50);
        window->grab().save("screenshots/config_large_font.png");
        QApplication::setFont(normal);
        for (int i = 0; i < pages->count(); ++i) {
            const QString title = pages->item(i)->text();
            QVERIFY2(pages->fontMetrics().horizontalAdvance(title) <
                         pages->visualItemRect(pages->item(i)).width(),
                     qPrintable(title));
        }
    }

    // The list follows the newest entry; one logged while the page was hidden is scrolled to
    // when the page is shown.
    void TheEventListShowsTheNewestEntry() {
        CConfigDialog* window = Open();
        QTreeWidget* list = window->EventLogPage()->List();
        const auto newest_shown = [list] {
            QTreeWidgetItem* last = list->topLevelItem(list->topLevelItemCount() - 1);
            return list->viewport()->rect().contains(list->visualItemRect(last));
        };
        for (int shown_page : {CConfigDialog::kEventLogPage, CConfigDialog::kStatusPage}) {
            window->ShowPage(shown_page);
            for (int i = 0; i < 60; ++i) agent->App().Log().AddLogEntry(LogInfo, "an entry");
            window->ShowPage(CConfigDialog::kEventLogPage);
            QTRY_VERIFY(newest_shown());
            list->scrollToTop();
        }
    }

    void EventListMirrorsTheRing() {
        agent->App().Log().AddLogEntry(LogInfo, "before the window");
        CConfigDialog* window = Open();
        QTreeWidget* list = window->EventLogPage()->List();
        QCOMPARE(list->headerItem()->text(0), QString("Time"));
        QCOMPARE(list->headerItem()->text(1), QString("Event"));
        QCOMPARE(list->headerItem()->text(2), QString("Message"));
        QCOMPARE(Column(list, 2).last(), QString("before the window"));

        const EventLog::Origins origins = {"local client", "host"};
        agent->App().Log().LogMessage(&origins, LogError, IDS_CANNOT_UNLOCK);
        QCOMPARE(Column(list, 1).mid(list->topLevelItemCount() - 3),
                 QStringList({"ERROR", "", ""}));
        QCOMPARE(Column(list, 2).mid(list->topLevelItemCount() - 3),
                 QStringList({"Cannot unlock", " from : host", " from : local client"}));
        QVERIFY(
            QRegularExpression("^\\d\\d:\\d\\d:\\d\\d$").match(Column(list, 0).last()).hasMatch());

        // The double-click shows the whole entry with its date.
        const int rows = list->topLevelItemCount();
        QString shown;
        agent->Hand().Next(ReadMessage(&shown));
        window->EventLogPage()->ShowDetails(list->topLevelItem(rows - 3));
        const std::string stamp = agent->App().Log().Entries()[rows - 3].stamp;
        QCOMPARE(shown, QString::fromStdString(stamp) + " [ERROR] : Cannot unlock");
        agent->Hand().Next(ReadMessage(&shown));
        window->EventLogPage()->ShowDetails(list->topLevelItem(rows - 1));
        QCOMPARE(shown, QString::fromStdString(stamp) + " from : local client");

        // Enter on a row shows it too: a long entry is cut short in the list.
        shown.clear();
        agent->Hand().Next(ReadMessage(&shown));
        list->setCurrentItem(list->topLevelItem(rows - 3));
        QTest::keyClick(list, Qt::Key_Return);
        QCOMPARE(shown, QString::fromStdString(stamp) + " [ERROR] : Cannot unlock");

        // A word wider than the box (a key name without spaces) wraps inside it.
        agent->App().Log().AddLogEntry(LogInfo, "key '" + std::string(250, 'N') + "'");
        bool fits = false;
        agent->Hand().Next([&fits](QWidget* box) {
            const auto* text = box->findChild<QLabel*>("qt_msgbox_label");
            fits = text != nullptr && text->minimumSizeHint().width() <= text->width() &&
                   box->width() <= box->screen()->availableGeometry().width();
            box->grab().save("screenshots/event_details_long_word.png");
            QTest::keyClick(box, Qt::Key_Escape);
        });
        window->EventLogPage()->ShowDetails(list->topLevelItem(list->topLevelItemCount() - 1));
        QVERIFY(fits);

        // A full ring drops the oldest entries from the list too, in step.
        for (int i = 0; i < 2 * EventLog::kRingSize; ++i) {
            agent->App().Log().AddLogEntry(LogInfo, "entry " + std::to_string(i));
        }
        QStringList ring;
        for (const LogEntry& entry : agent->App().Log().Entries()) {
            ring << QString::fromStdString(entry.message);
        }
        QCOMPARE(Column(list, 2), ring);
        QCOMPARE(list->topLevelItemCount(), EventLog::kRingSize - 1);
    }

    void HelpOpensThePageOfTheActivePage() {
        HelpPages help({131, 143, 183});
        CConfigDialog* window = Open();
        QTest::mouseClick(window->HelpButton(), Qt::LeftButton);
        window->ShowPage(CConfigDialog::kEventLogPage);
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(window->EventLogPage()->List(), Qt::Key_F1);
        window->ShowPage(CConfigDialog::kKeysPage);
        QTest::mouseClick(window->HelpButton(), Qt::LeftButton);
        QCOMPARE(help.opened, QStringList({"131.html", "143.html", "183.html"}));
    }

    void AddKeyLinkShowsTheKeysPage() {
        CConfigDialog* window = Open();
        window->StatusPage()->Row(1).Link()->click();
        QCOMPARE(window->ActivePage(), int(CConfigDialog::kKeysPage));
        QCOMPARE(window->PageList()->currentRow(), int(CConfigDialog::kKeysPage));
    }

    void EveryControlHasAnAccessibleName() {
        agent->UnlockFirstUse();
        QCOMPARE(agent->ClientAdds("one"), 0);
        CConfigDialog* window = Open();
        for (int page = 0; page < 3; ++page) {
            window->ShowPage(page);
            QCOMPARE(UnnamedControls(window), QStringList());
        }
    }
};

}  // namespace kv::test

QTEST_MAIN(kv::test::ConfigWindowTest)
#include "config_window_test.moc"
