// The key commands with OpenSSH's own key files: ssh-keygen makes Ed25519, ECDSA and RSA keys
// (plain, encrypted, PEM), the Import command takes them, the properties show what
// `ssh-keygen -l` shows, and what Export writes is read by ssh-keygen and accepted by ssh-add.
#include <QCheckBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <filesystem>
#include <sstream>

#include "tests/client/keyfile_test_support.h"
#include "tests/ui/key_dialogs_fixture.h"
#include "ui/keys/key_properties_dialog.h"

namespace kv {
namespace {

using test::Quote;
using test::Shell;

struct KeygenKey {
    std::string private_file;
    std::string public_file;
    Bytes blob;
};

class OpenSshKeyDialogsTest : public test::KeyDialogsTest {
  protected:
    void SetUp() override { test::RequireTools(); }

    // ssh-keygen writes `name` and `name.pub`, commented "<name> comment"; `options` may ask
    // for a size or a PEM form.
    KeygenKey MakeKey(const std::string& name, const std::string& type, const std::string& options,
                      const std::string& passphrase) {
        KeygenKey key{File(name), File(name + ".pub"), {}};
        EXPECT_EQ(Shell("ssh-keygen -q -t " + type + " " + options + " -N " + Quote(passphrase) +
                        " -C " + Quote(name + " comment") + " -f " + Quote(key.private_file)),
                  0);
        key.blob = test::BlobOfOpenSshLine(test::ReadText(key.public_file));
        EXPECT_FALSE(key.blob.empty());
        return key;
    }

    // Imports `chosen` (a public key file or a private key file alone), typing `passphrase`
    // when the command asks for one.
    void Import(const std::string& chosen, const std::string& passphrase = "") {
        if (!passphrase.empty()) ui.passphrases.push_back(ui.Typed(passphrase));
        files.answers.push_back(chosen);
        ImportKeyPair(Context());
    }

    std::int32_t ImportedNumber(const KeygenKey& key, const std::string& passphrase = "") {
        Import(key.public_file, passphrase);
        const KeyPair* pair = app->Keys().FindByBlob(key.blob);
        EXPECT_NE(pair, nullptr) << Shown();
        return pair != nullptr ? pair->Number() : -1;
    }

    bool StoredUnderAgentPassphrase(const KeyPair& pair) const {
        const auto blob = app->Keys().ReadPrivateKey(pair.Number());
        return blob && blob->Matches(pair, app->Keys().HeldPassphrase());
    }

    // The fingerprint `ssh-keygen -l -E <hash>` prints for a public key file.
    static std::string KeygenFingerprint(const std::string& public_file, const std::string& hash) {
        std::string line;
        EXPECT_EQ(Shell("ssh-keygen -l -E " + hash + " -f " + Quote(public_file), &line), 0);
        std::istringstream fields(line);
        std::string bits, fingerprint;
        fields >> bits >> fingerprint;
        return fingerprint;
    }

    // Exports key `number` to `public_file` under `passphrase` (empty: a plain file).
    void Export(std::int32_t number, const std::string& public_file,
                const std::string& passphrase) {
        files.answers.push_back(public_file);
        ui.passphrases.push_back(ui.Typed(passphrase));
        ExportKeyPair(Context(), number);
    }

    // ssh-add, in an ssh-agent of its own, takes the private key file (its passphrase typed
    // through an askpass program); the public key that agent then lists.
    Bytes AddedBySshAdd(const std::string& private_file, const std::string& passphrase) {
        const std::string askpass = File("askpass.sh");
        test::WriteText(askpass, "#!/bin/sh\nprintf '%s\\n' " + Quote(passphrase) + "\n");
        std::filesystem::permissions(askpass, std::filesystem::perms::owner_all);
        std::string listed;
        const int status = Shell("eval \"$(ssh-agent -s -a " + Quote(File("ssh-agent.sock")) +
                                     ")\" >/dev/null && " + "SSH_ASKPASS=" + Quote(askpass) +
                                     " SSH_ASKPASS_REQUIRE=force ssh-add " + Quote(private_file) +
                                     " </dev/null 2>/dev/null && ssh-add -L; rc=$?; " +
                                     "ssh-agent -k >/dev/null; exit $rc",
                                 &listed);
        EXPECT_EQ(status, 0) << listed;
        return test::BlobOfOpenSshLine(listed);
    }
};

TEST_F(OpenSshKeyDialogsTest, ImportsOpenSshFilesFromThePublicKeyOrThePrivateKeyAlone) {
    struct Case {
        const char* name;
        const char* type;
        const char* options;
        const char* passphrase;
        bool private_alone;  // the user picks the private key file, not the .pub
    };
    const Case cases[] = {
        {"plain_ed25519", "ed25519", "", "", false},
        {"locked_ed25519", "ed25519", "", "file secret", true},
        {"plain_p256", "ecdsa", "-b 256", "", true},
        {"locked_p256", "ecdsa", "-b 256", "file secret", false},
        {"plain_p384", "ecdsa", "-b 384", "", false},
        {"locked_p384", "ecdsa", "-b 384", "file secret", true},
        {"plain_p521", "ecdsa", "-b 521", "", true},
        {"locked_p521", "ecdsa", "-b 521", "file secret", false},
        // PEM forms: SEC1 encrypted, PKCS#8 plain, and the RSA key most users already have.
        {"pem_p384", "ecdsa", "-b 384 -m PEM", "file secret", false},
        {"pkcs8_rsa", "rsa", "-b 2048 -m PKCS8", "", true},
        {"openssh_rsa", "rsa", "-b 2048", "", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeygenKey key = MakeKey(c.name, c.type, c.options, c.passphrase);
        const std::size_t shown = ui.shown.size();
        Import(c.private_alone ? key.private_file : key.public_file, c.passphrase);

        const std::string prompt =
            *c.passphrase != '\0' ? "key:" + std::string(c.name) + " | " : "";
        EXPECT_EQ(Shown(shown), prompt + "box:Keypair successfully imported.");
        const KeyPair* stored = app->Keys().FindByBlob(key.blob);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->Name(), c.name);
        EXPECT_EQ(stored->Comment(), std::string(c.name) + " comment");
        EXPECT_TRUE(StoredUnderAgentPassphrase(*stored));
        EXPECT_TRUE(LoggedText("Add:Imported private keypair (" + std::string(c.name) + ")"));
    }
    EXPECT_EQ(app->Keys().Count(), std::size(cases));
}

TEST_F(OpenSshKeyDialogsTest, WrongPassphrasesAndCancelImportNothing) {
    const KeygenKey key = MakeKey("id_ecdsa", "ecdsa", "-b 256", "right");
    for (const char* wrong : {"wrong 1", "", "wrong 3"}) ui.passphrases.push_back(ui.Typed(wrong));
    Import(key.private_file);
    EXPECT_EQ(Shown(),
              "key:id_ecdsa | box:Invalid passphrase | key:id_ecdsa | box:Invalid passphrase | "
              "key:id_ecdsa | box:Invalid passphrase | box:Invalid passphrase\n" +
                  key.private_file);
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());

    ui.shown.clear();
    ui.passphrases.push_back(ui.Typed("wrong"));
    Import(key.public_file);  // the second prompt finds the script empty: cancelled
    EXPECT_EQ(Shown(), "key:id_ecdsa | box:Invalid passphrase | key:id_ecdsa");
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());
}

// The open dialog itself: a private key file typed without an extension is taken as it is,
// and a name that is not a file still gets ".pub".
TEST_F(OpenSshKeyDialogsTest, TheOpenDialogTakesAPrivateKeyFileTypedWithoutExtension) {
    const std::string folder = File("keys");
    std::filesystem::create_directory(folder);
    test::WriteText(folder + "/id_ed25519", "private\n");
    test::WriteText(folder + "/work.pub", "public\n");
    QtKeyFileChooser chooser(qt, nullptr);
    // Qt's "file not found" box would leave both dialogs open: it fails the test and closes them.
    QTimer guard;
    guard.setInterval(5);
    QObject::connect(&guard, &QTimer::timeout, [] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            ADD_FAILURE() << box->text().toStdString();
            box->reject();
        } else if (auto* files = qobject_cast<QFileDialog*>(modal); files && files->isVisible()) {
            if (files->property("typed").toBool()) files->reject();
        }
    });
    guard.start();
    for (const auto& [typed_name, expected] : {std::pair{"id_ed25519", folder + "/id_ed25519"},
                                               std::pair{"work", folder + "/work.pub"}}) {
        const char* typed = typed_name;  // clang does not capture structured bindings
        WhenModal<QFileDialog>([typed](QFileDialog& dialog) {
            auto* name = dialog.findChild<QLineEdit*>("fileNameEdit");
            ASSERT_NE(name, nullptr);
            QTest::keyClicks(name, typed);
            dialog.setProperty("typed", true);
            QTest::keyClick(name, Qt::Key_Return);
        });
        EXPECT_EQ(chooser.ChooseImportFile(folder), expected);
    }
}

TEST_F(OpenSshKeyDialogsTest, BadFilesAreNamedAndNothingIsStored) {
    const KeygenKey key = MakeKey("id_ed25519", "ed25519", "", "");
    // A truncated private key file: the reader's reason, naming the file.
    const std::string cut = File("cut");
    ASSERT_EQ(Shell("head -c 200 " + Quote(key.private_file) + " > " + Quote(cut)), 0);
    Import(cut);
    EXPECT_EQ(Shown().rfind("box:Error loading private key\nprivate key file " + cut +
                                " is damaged or not a private key file",
                            0),
              0u)
        << Shown();

    // A damaged one-line public key file, and a good one with no private key file beside it.
    ui.shown.clear();
    test::WriteText(File("bad.pub"), "ssh-ed25519 AAAAC3NzaC1lZDI1NTE5AAAA!! bad\n");
    Import(File("bad.pub"));
    EXPECT_EQ(Shown(), "box:Error loading public key\n" + File("bad.pub"));
    ui.shown.clear();
    std::filesystem::copy_file(key.public_file, File("alone.pub"));
    Import(File("alone.pub"));
    EXPECT_EQ(Shown(), "box:Error loading private key\n" + File("alone"));

    // A public key file beside the private key of another key: the store refuses the pair.
    ui.shown.clear();
    const KeygenKey other = MakeKey("other", "ed25519", "", "");
    std::filesystem::copy_file(other.public_file, File("mixed.pub"));
    std::filesystem::copy_file(key.private_file, File("mixed"));
    Import(File("mixed.pub"));
    EXPECT_EQ(Shown(), "box:Import failed");
    EXPECT_TRUE(LoggedText("ERROR:Could not import private keypair (mixed)"));
    EXPECT_EQ(app->Keys().Count(), 0u);

    // A failure after the right passphrase ends the import with the reader's reason: an RSA
    // key in an encrypted OpenSSH-format file, which libssh before 0.11 cannot hand over.
    const KeygenKey rsa = MakeKey("locked_rsa", "rsa", "-b 2048", "file secret");
    ui.shown.clear();
    const std::size_t logged = Logged().size();
    Import(rsa.public_file, "file secret");
    if (app->Keys().FindByBlob(rsa.blob) == nullptr) {
        EXPECT_EQ(
            Shown().rfind("key:locked_rsa | box:Error loading private key\nprivate key file " +
                              rsa.private_file + ": an RSA key",
                          0),
            0u)
            << Shown();
        EXPECT_EQ(Logged().size(), logged);
    }
}

TEST_F(OpenSshKeyDialogsTest, PropertiesShowTheCurveAndTheFingerprintsSshKeygenShows) {
    const KeygenKey ed25519 = MakeKey("id_ed25519", "ed25519", "", "");
    const KeygenKey p384 = MakeKey("id_ecdsa", "ecdsa", "-b 384", "");
    for (const auto& [key_entry, type_entry] :
         {std::pair{&ed25519, "ED25519 (256 bits)"}, std::pair{&p384, "ECDSA (384 bits)"}}) {
        // clang does not capture structured bindings: plain copies for the lambda below.
        const KeygenKey* key = key_entry;
        const char* type = type_entry;
        SCOPED_TRACE(type);
        const std::int32_t number = ImportedNumber(*key);
        ASSERT_EQ(app->Keys().FindByNumber(number)->Compat(), 1u);
        bool ran = false;
        WhenModal<CKeyPropertiesDialog>([&](CKeyPropertiesDialog& dialog) {
            ran = true;
            EXPECT_EQ(dialog.TypeField()->text().toStdString(), type);
            EXPECT_EQ(dialog.Sha256Field()->text().toStdString(),
                      KeygenFingerprint(key->public_file, "sha256"));
            // Ours ends in a colon; ssh-keygen's starts with "MD5:".
            EXPECT_EQ("MD5:" + dialog.Md5Field()->text().toStdString(),
                      KeygenFingerprint(key->public_file, "md5") + ":");
            EXPECT_EQ(dialog.Sha1Field()->text().size(), 65);
            // SSH1 cannot use a curve key, whatever the stored flag says.
            EXPECT_FALSE(dialog.CompatBox()->isChecked());
            EXPECT_FALSE(dialog.CompatBox()->isEnabled());
            if (key == &ed25519) {
                test::SaveScreenshot(dialog, "key_properties_ed25519");
                dialog.CommentField()->selectAll();
                QTest::keyClicks(dialog.CommentField(), "renamed");
            }
            QTest::mouseClick(dialog.OkButton(), Qt::LeftButton);
        });
        ShowKeyProperties(Context(), number);
        EXPECT_TRUE(ran);
    }
    // The edit was saved, and the flag SSH1 never sees kept as it was.
    const KeyPair* edited = app->Keys().FindByBlob(ed25519.blob);
    EXPECT_EQ(edited->Comment(), "renamed");
    EXPECT_EQ(edited->Compat(), 1u);
    EXPECT_TRUE(LoggedText("Info:Properties changed for key pair 'id_ed25519'"));
    EXPECT_FALSE(LoggedText("Properties changed for key pair 'id_ecdsa'"));
}

TEST_F(OpenSshKeyDialogsTest, ExportedCurveKeysOpenInSshKeygenAndSshAdd) {
    struct Case {
        const char* name;
        const char* type;
        const char* options;
        const char* export_passphrase;
    };
    Bytes last_blob;
    const Case cases[] = {{"ed_plain", "ed25519", "", ""},
                          {"ed_locked", "ed25519", "", "export secret"},
                          {"p256_plain", "ecdsa", "-b 256", ""},
                          {"p521_locked", "ecdsa", "-b 521", "export secret"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const KeygenKey key = MakeKey(c.name, c.type, c.options, "");
        const std::int32_t number = ImportedNumber(key);
        const std::string public_file = File(std::string("out_") + c.name + ".pub");
        const std::string private_file = File(std::string("out_") + c.name);
        ui.shown.clear();
        Export(number, public_file, c.export_passphrase);
        EXPECT_EQ(Shown(1), "box:Keypair saved.");
        EXPECT_TRUE(LoggedText("Info:Exported keypair \"" + std::string(c.name) +
                               "\" : private key to \"" + private_file + "\""));

        // The one-line public key, with the comment.
        const std::string line = test::ReadText(public_file);
        EXPECT_EQ(test::BlobOfOpenSshLine(line), key.blob);
        EXPECT_NE(line.find(" " + std::string(c.name) + " comment\n"), std::string::npos) << line;
        EXPECT_EQ(std::filesystem::status(private_file).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        std::string derived;
        EXPECT_EQ(
            Shell("ssh-keygen -y -P " + Quote(c.export_passphrase) + " -f " + Quote(private_file),
                  &derived),
            0);
        EXPECT_EQ(test::BlobOfOpenSshLine(derived), key.blob);
        if (*c.export_passphrase != '\0') {
            EXPECT_NE(Shell("ssh-keygen -y -P wrong -f " + Quote(private_file)), 0)
                << "the file is protected";
        }
        EXPECT_EQ(AddedBySshAdd(private_file, c.export_passphrase), key.blob);
        last_blob = key.blob;
    }

    // What was exported under a passphrase comes back in through Import.
    ASSERT_TRUE(app->Keys().Delete(app->Keys().FindByBlob(last_blob)->Number()));
    ui.shown.clear();
    Import(File("out_p521_locked.pub"), "export secret");
    EXPECT_EQ(Shown(), "key:out_p521_locked | box:Keypair successfully imported.");
    const KeyPair* back = app->Keys().FindByBlob(last_blob);
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->Comment(), "p521_locked comment");
    EXPECT_TRUE(StoredUnderAgentPassphrase(*back));
}

TEST_F(OpenSshKeyDialogsTest, RsaAndDsaKeysStillExportToSsh2Files) {
    const std::int32_t number = StoreKey("work", false);
    Export(number, File("work.pub"), "");
    EXPECT_EQ(test::ReadText(File("work.pub")).rfind("---- BEGIN SSH2 PUBLIC KEY ----", 0), 0u);
    EXPECT_EQ(test::ReadText(File("work")).rfind("---- BEGIN SSH2 PRIVATE KEY ----", 0), 0u);
}

}  // namespace
}  // namespace kv
