// Delete and properties: the question before a delete, the properties dialog with and without
// changes, and what reaches the store, the registry and the log.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTest>

#include "keys/key_store.h"
#include "tests/ui/key_dialogs_fixture.h"
#include "ui/keys/key_properties_dialog.h"

namespace kv {
namespace {

class KeyEditCommandsTest : public test::KeyDialogsTest {
  protected:
    // The keys as the registry holds them, read by a store of its own.
    const KeyPair* Reloaded(std::int32_t number) {
        m_reloaded = std::make_unique<KeyStore>(app->Log(), *clock);
        return m_reloaded->FindByNumber(number);
    }

    // Opens the properties of key `number`; `edit` runs on the open dialog and closes it.
    void RunProperties(std::int32_t number, std::function<void(CKeyPropertiesDialog&)> edit) {
        bool ran = false;
        WhenModal<CKeyPropertiesDialog>([&ran, edit](CKeyPropertiesDialog& dialog) {
            ran = true;
            edit(dialog);
        });
        ShowKeyProperties(Context(), number);
        EXPECT_TRUE(ran);
    }

    static void Type(QLineEdit* field, const QString& text) {
        field->selectAll();
        QTest::keyClicks(field, text);
    }

  private:
    std::unique_ptr<KeyStore> m_reloaded;
};

TEST_F(KeyEditCommandsTest, DeleteAsksFirstAndNoKeepsTheKey) {
    const std::int32_t number = StoreKey("work");
    const int refreshes = ui.refreshes;
    ui.message_box_results = {IDNO};
    DeleteKeyPair(Context(), number);
    EXPECT_EQ(Shown(),
              "box:Are you sure you want to delete this keypair? It won't be possible to undo "
              "this operation.");
    EXPECT_NE(app->Keys().FindByNumber(number), nullptr);
    EXPECT_TRUE(Logged().empty());
    EXPECT_EQ(ui.refreshes, refreshes);

    ui.message_box_results = {IDYES};
    DeleteKeyPair(Context(), number);
    EXPECT_EQ(app->Keys().FindByNumber(number), nullptr);
    EXPECT_EQ(Reloaded(number), nullptr);
    EXPECT_EQ(Logged(), std::vector<std::string>{"Delete:Deleted private keypair \"work\""});
    EXPECT_GT(ui.refreshes, refreshes);

    ui.shown.clear();
    ui.message_box_results = {IDYES};
    DeleteKeyPair(Context(), number);
    EXPECT_EQ(Shown(1), "box:Error, no such key");
}

TEST_F(KeyEditCommandsTest, PropertiesShowTheKeyAndOkWithoutChangesWritesNothing) {
    const std::int32_t number = StoreKey("work", false, "laptop key");
    const KeyPair before = *app->Keys().FindByNumber(number);
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        EXPECT_EQ(dialog.windowTitle(), "work");
        EXPECT_EQ(dialog.TypeField()->text(), "DSA (1024 bits)");
        EXPECT_EQ(dialog.CommentField()->text(), "laptop key");
        EXPECT_TRUE(dialog.CompatBox()->isChecked());
        EXPECT_TRUE(dialog.CompatBox()->isEnabled());
        EXPECT_FALSE(dialog.ExpiryBox()->isChecked());
        EXPECT_FALSE(dialog.SecondsField()->isEnabled());
        EXPECT_EQ(dialog.SecondsField()->text(), "0");
        EXPECT_EQ(dialog.Md5Field()->text().size(), 48);
        EXPECT_EQ(dialog.Sha1Field()->text().size(), 65);
        EXPECT_TRUE(dialog.Sha256Field()->text().startsWith("SHA256:"));
        EXPECT_EQ(dialog.OkButton()->text(), "OK");
        test::SaveScreenshot(dialog, "key_properties");
        // Tab goes down the dialog: the fingerprints come before the buttons below them.
        std::vector<QWidget*> chain;
        for (QWidget* w = dialog.NameField(); chain.size() < 100; w = w->nextInFocusChain())
            chain.push_back(w);
        const auto at = [&](QWidget* w) { return std::find(chain.begin(), chain.end(), w); };
        EXPECT_LT(at(dialog.Sha256Field()), at(dialog.OkButton()));
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_TRUE(Logged().empty());
    EXPECT_TRUE(Reloaded(number)->IsSameKey(before));
}

TEST_F(KeyEditCommandsTest, ChangedPropertiesAreStoredAndLogged) {
    const std::int32_t number = StoreKey("work");
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        Type(dialog.NameField(), "home\"key");
        EXPECT_EQ(dialog.OkButton()->text(), "&Apply");
        Type(dialog.CommentField(), "new\\ comment");
        QTest::mouseClick(dialog.CompatBox(), Qt::LeftButton);
        QTest::mouseClick(dialog.ExpiryBox(), Qt::LeftButton);
        EXPECT_TRUE(dialog.SecondsField()->isEnabled());
        Type(dialog.SecondsField(), "3600");
        test::SaveScreenshot(dialog, "key_properties_changed");
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Logged(), std::vector<std::string>{"Info:Properties changed for key pair 'homekey'"});
    const KeyPair* stored = Reloaded(number);
    ASSERT_NE(stored, nullptr);
    EXPECT_EQ(stored->Name(), "homekey");
    EXPECT_EQ(stored->Comment(), "new comment");
    EXPECT_EQ(stored->Compat(), 0u);
    EXPECT_EQ(stored->Expiry(), AddSeconds(clock->Now(), 3600));
    EXPECT_EQ(app->Keys().FindByNumber(number)->Name(), "homekey");
}

TEST_F(KeyEditCommandsTest, ExpiryZeroIsNowAndANonIntegerKeepsTheDialogOpen) {
    const std::int32_t number = StoreKey("work");
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        QTest::mouseClick(dialog.ExpiryBox(), Qt::LeftButton);
        dialog.SecondsField()->clear();
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible());
        EXPECT_EQ(Shown(), "box:Please enter an integer.");
        Type(dialog.SecondsField(), "99999999999");  // beyond 32 bits
        dialog.accept();
        EXPECT_TRUE(dialog.isVisible());
        Type(dialog.SecondsField(), "0");
        dialog.accept();
    });
    EXPECT_EQ(Reloaded(number)->Expiry(), clock->Now());

    // Unchecking the box makes the key permanent again.
    clock->AdvanceSeconds(-10);
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        EXPECT_TRUE(dialog.ExpiryBox()->isChecked());
        EXPECT_EQ(dialog.SecondsField()->text(), "10");
        QTest::mouseClick(dialog.ExpiryBox(), Qt::LeftButton);
        dialog.accept();
    });
    EXPECT_EQ(Reloaded(number)->Expiry(), kFileTimeNever);
}

// The seconds the dialog shows were counted when it opened: a rename that leaves the expiry
// alone must not give the key back the time the dialog stood open, nor undo a lifetime a
// client set meanwhile.
TEST_F(KeyEditCommandsTest, EditsThatLeaveTheExpiryAloneKeepIt) {
    const std::int32_t number = StoreKey("work");
    const auto blob = app->Keys().FindByNumber(number)->Blob();
    ASSERT_TRUE(app->Keys().SetLifetime(blob, 3600));
    const FileTime expiry = app->Keys().FindByNumber(number)->Expiry();
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        EXPECT_EQ(dialog.SecondsField()->text(), "3600");
        clock->AdvanceSeconds(600);  // the user takes their time
        Type(dialog.NameField(), "renamed");
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Reloaded(number)->Name(), "renamed");
    EXPECT_EQ(Reloaded(number)->Expiry(), expiry);

    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        ASSERT_TRUE(app->Keys().SetLifetime(blob, 60));  // ssh-add -t 60 while it is open
        Type(dialog.CommentField(), "new comment");
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Reloaded(number)->Comment(), "new comment");
    EXPECT_EQ(Reloaded(number)->Expiry(), AddSeconds(clock->Now(), 60));

    // Typed again, the lifetime counts from the save.
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        clock->AdvanceSeconds(30);
        Type(dialog.SecondsField(), "60");
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Reloaded(number)->Expiry(), AddSeconds(clock->Now(), 60));
}

// A lock while the dialog or the delete question was open (the screen, a client, the tray):
// nothing changes on the locked agent unless it is unlocked again.
TEST_F(KeyEditCommandsTest, ALockWhileAskingKeepsTheKeyUnlessUnlockedAgain) {
    const std::int32_t number = StoreKey("work");
    const auto rename = [&](const char* name) {
        RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
            app->LockCommand();
            Type(dialog.NameField(), name);
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        });
    };
    rename("renamed");  // the unlock prompt cancelled
    EXPECT_EQ(Reloaded(number)->Name(), "work");
    EXPECT_EQ(Shown(), "unlock:View key command");
    // Asked when the dialog opens (the agent is still locked) and again at OK.
    ui.passphrases = {ui.Typed(test::kAgentPassphrase), ui.Typed(test::kAgentPassphrase)};
    rename("renamed");
    EXPECT_EQ(Reloaded(number)->Name(), "renamed");

    ui.shown.clear();
    ui.message_box_results = {IDYES};
    ui.while_open = [&] { app->LockCommand(); };
    DeleteKeyPair(Context(), number);
    EXPECT_EQ(Shown(1), "unlock:Delete key command");
    EXPECT_NE(app->Keys().FindByNumber(number), nullptr);
}

// A client deletes the key while the question or the dialog is open and adds another, which
// takes the freed number: the command must not act on that other key.
TEST_F(KeyEditCommandsTest, AKeyAddedUnderTheNumberOfADeletedOneIsNotTheOneActedOn) {
    StoreKey("work");
    const std::int32_t number = StoreKey("home");
    const auto replace = [&] {
        ASSERT_TRUE(app->Keys().Delete(number));
        ASSERT_EQ(StoreKey("client's"), number);
    };

    ui.message_box_results = {IDYES};
    ui.while_open = replace;
    DeleteKeyPair(Context(), number);
    EXPECT_EQ(Shown(1), "box:Error, no such key");
    ASSERT_NE(app->Keys().FindByNumber(number), nullptr);
    EXPECT_EQ(app->Keys().FindByNumber(number)->Name(), "client's");
    EXPECT_NE(Reloaded(number), nullptr);
    EXPECT_TRUE(Logged().empty());

    ui.shown.clear();
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        ASSERT_TRUE(app->Keys().Delete(number));
        StoreKey("newer");
        Type(dialog.NameField(), "renamed");
        QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
    });
    EXPECT_EQ(Shown(), "box:Can not save key.");
    EXPECT_EQ(app->Keys().FindByNumber(number)->Name(), "newer");
    EXPECT_EQ(Reloaded(number)->Name(), "newer");
    EXPECT_TRUE(Logged().empty());
}

TEST_F(KeyEditCommandsTest, CancelAndLockedAgentChangeNothing) {
    const std::int32_t number = StoreKey("work");
    RunProperties(number, [&](CKeyPropertiesDialog& dialog) {
        Type(dialog.NameField(), "renamed");
        dialog.reject();
    });
    EXPECT_EQ(app->Keys().FindByNumber(number)->Name(), "work");
    EXPECT_TRUE(Logged().empty());

    app->Keys().Lock();
    ShowKeyProperties(Context(), number);  // unlock prompt cancelled: no dialog
    ui.message_box_results = {IDYES};
    DeleteKeyPair(Context(), number);
    EXPECT_EQ(Shown(), "unlock:View key command | unlock:Delete key command");
    EXPECT_NE(app->Keys().FindByNumber(number), nullptr);

    // No key with that number: properties end without a word.
    ShowKeyProperties(Context(), number + 1);
    EXPECT_EQ(ui.shown.size(), 2u);
}

}  // namespace
}  // namespace kv
