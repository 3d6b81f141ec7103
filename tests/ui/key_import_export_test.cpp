// The import and export commands with the files the real tools write and read: puttygen and
// ssh-keygen make the keys, the agent imports them, exports them again, and the tools open
// what it wrote.
#include <QByteArray>
#include <filesystem>

#include "keys/ssh2_key_file.h"
#include "keys/ssh2_key_text.h"
#include "tests/client/keyfile_test_support.h"
#include "tests/ui/key_dialogs_fixture.h"

namespace kv {
namespace {

using test::Quote;
using test::Shell;

struct ToolKey {
    std::string public_file;
    std::string private_file;
    Bytes blob;
};

class KeyImportExportTest : public test::KeyDialogsTest {
  protected:
    void SetUp() override { test::RequireTools(); }

    // ssh-keygen makes the key; puttygen writes its SSH2 private key file, plain or under a
    // passphrase (3des-cbc); the public key file comes from puttygen or from ssh-keygen -e.
    ToolKey MakeToolKey(const std::string& name, const std::string& type,
                        const std::string& passphrase, bool puttygen_public, bool crlf) {
        const std::string source = File("source-" + name);
        EXPECT_EQ(Shell("ssh-keygen -q -t " + type + " -N '' -C 'tool key' -f " + Quote(source)),
                  0);
        ToolKey key{File(name + ".pub"), File(name), {}};
        key.blob = test::BlobOfOpenSshLine(test::ReadText(source + ".pub"));
        std::string protect;
        if (!passphrase.empty()) {
            test::WriteText(File("pass"), passphrase + "\n");
            protect = " --new-passphrase " + Quote(File("pass"));
        }
        EXPECT_EQ(Shell("puttygen " + Quote(source) + " -O private-sshcom -o " +
                        Quote(key.private_file) + protect),
                  0);
        const std::string make_public =
            puttygen_public
                ? "puttygen " + Quote(source) + " -O public -o " + Quote(key.public_file)
                : "ssh-keygen -e -f " + Quote(source) + " > " + Quote(key.public_file);
        EXPECT_EQ(Shell(make_public), 0);
        if (crlf) {
            for (const std::string& file : {key.public_file, key.private_file})
                EXPECT_EQ(Shell("sed -i 's/$/\\r/' " + Quote(file)), 0);
        }
        return key;
    }

    void Import(const std::string& public_file) {
        files.answers.push_back(public_file);
        ImportKeyPair(Context());
    }

    const KeyPair* StoredWithBlob(const Bytes& blob) const { return app->Keys().FindByBlob(blob); }

    // The stored private half opens with the agent passphrase and belongs to the key.
    bool StoredUnderAgentPassphrase(const KeyPair& pair) const {
        const auto blob = app->Keys().ReadPrivateKey(pair.Number());
        return blob && blob->Matches(pair, app->Keys().HeldPassphrase());
    }
};

TEST_F(KeyImportExportTest, ImportsToolFilesPlainWithoutAPromptProtectedWithOne) {
    struct Case {
        const char* name;
        const char* type;
        const char* passphrase;
        bool puttygen_public;
    };
    const Case cases[] = {{"plain_rsa", "rsa", "", true},
                          {"plain_dsa", "dsa", "", false},
                          {"protected_rsa", "rsa", "file secret", false},
                          {"protected_dsa", "dsa", "file secret", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const ToolKey key = MakeToolKey(c.name, c.type, c.passphrase, c.puttygen_public, true);
        const std::size_t shown = ui.shown.size();
        const int refreshes = ui.refreshes;
        if (*c.passphrase != '\0') ui.passphrases.push_back(ui.Typed(c.passphrase));
        Import(key.public_file);

        const std::string expected_prompt =
            *c.passphrase != '\0' ? "key:" + std::string(c.name) + " | " : "";
        EXPECT_EQ(Shown(shown), expected_prompt + "box:Keypair successfully imported.");
        const KeyPair* stored = StoredWithBlob(key.blob);
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->Name(), c.name);
        EXPECT_TRUE(StoredUnderAgentPassphrase(*stored));
        EXPECT_TRUE(LoggedText("Add:Imported private keypair (" + std::string(c.name) + ")"));
        EXPECT_GT(ui.refreshes, refreshes) << "the key list is refilled";
    }
    EXPECT_EQ(files.start_folders.front(), home.Path()) << "no user keys folder: home";
}

TEST_F(KeyImportExportTest, ThreeWrongPassphrasesImportNothing) {
    const ToolKey key = MakeToolKey("id", "rsa", "right", false, true);
    for (const char* wrong : {"wrong 1", "wrong 2", "wrong 3"})
        ui.passphrases.push_back(ui.Typed(wrong));
    Import(key.public_file);
    EXPECT_EQ(Shown(),
              "key:id | box:Invalid passphrase | key:id | box:Invalid passphrase | key:id | "
              "box:Invalid passphrase | box:Invalid passphrase\n" +
                  key.public_file);
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());

    // Cancel at the prompt ends the import at once, with nothing shown or logged.
    ui.shown.clear();
    ui.passphrases.push_back(ui.Typed("wrong"));
    Import(key.public_file);  // the second prompt finds the script empty: cancelled
    EXPECT_EQ(Shown(), "key:id | box:Invalid passphrase | key:id");
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());
}

TEST_F(KeyImportExportTest, PrivateKeyPathRulesAndUnreadableFiles) {
    const ToolKey key = MakeToolKey("id", "rsa", "", true, false);
    // A file name without a dot does not borrow the dot of its folder: "keys" beside the
    // folder "keys.d" holds a private key, and it is not read.
    std::filesystem::create_directory(File("keys.d"));
    std::filesystem::copy_file(key.public_file, File("keys.d/idpub"));
    std::filesystem::copy_file(key.private_file, File("keys"));
    Import(File("keys.d/idpub"));
    EXPECT_EQ(Shown(), "box:Error loading private key\n");

    ui.shown.clear();
    std::filesystem::copy_file(key.public_file, File("nodot"));
    Import(File("nodot"));
    EXPECT_EQ(Shown(), "box:Error loading private key\n");

    ui.shown.clear();
    test::WriteText(File("broken.pub"), "not a key file\n");
    Import(File("broken.pub"));
    EXPECT_EQ(Shown(), "box:Error loading public key\n" + File("broken.pub"));
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());

    // The user keys folder, once it exists, is where the dialog starts; cancelling ends
    // the command quietly.
    const std::string user_keys = home.Path() + "/data/Korvenix SSH/UserKeys";
    std::filesystem::create_directories(user_keys);
    ui.shown.clear();
    ImportKeyPair(Context());
    EXPECT_EQ(files.start_folders.back(), user_keys);
    EXPECT_EQ(Shown(), "");
}

// A key that opens and signs, yet gives itself away: refused, with no passphrase asked and
// nothing stored.
TEST_F(KeyImportExportTest, AKeyFileWithACompositeFactorIsRefused) {
    test::WriteText(File("composite"), test::kCompositeFactorPrivateFile);
    test::WriteText(File("composite.pub"), test::kCompositeFactorPublicFile);
    Import(File("composite.pub"));
    EXPECT_EQ(Shown(), "box:Error loading private key\nprivate key file " + File("composite") +
                           " holds a key whose numbers are not sound (a factor that is not "
                           "prime, or parts that do not belong together)");
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());
}

// A private key file that no passphrase can open (a damaged container, a cipher the module
// does not know) is named with what is wrong with it, not taken for one that needs a
// passphrase: asking for one would end in "Invalid passphrase" for a file that has none.
TEST_F(KeyImportExportTest, APrivateKeyFileNoPassphraseOpensIsNamedWithoutAPrompt) {
    const std::string sound_text = test::kCompositeFactorPrivateFile;
    const std::size_t body = sound_text.find("\nP2/");
    const std::size_t end = sound_text.find("\n----", body + 1);
    QByteArray base64 = QByteArray::fromStdString(sound_text.substr(body + 1, end - body - 1));
    base64.replace('\n', "");
    QByteArray container = QByteArray::fromBase64(base64);
    const QByteArray none("\0\0\0\4none", 8);
    ASSERT_GT(container.indexOf(none), 0);
    container.replace(container.indexOf(none), none.size(), QByteArray("\0\0\0\4nope", 8));
    const struct {
        const char* name;
        QByteArray container;
        std::string detail;
    } cases[] = {
        {"unknown_cipher", container, ": the key type, curve or cipher is not supported"},
        {"damaged", QByteArray("not a container"),
         " is damaged or not a private key file (error 1103)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string private_file = File(c.name);
        test::WriteText(private_file,
                        test::AsString(ComposeSsh2File(Ssh2FileKind::PrivatePlain, "broken",
                                                       c.container.toBase64().toStdString())));
        test::WriteText(private_file + ".pub", test::kCompositeFactorPublicFile);
        ui.shown.clear();
        ui.passphrases.push_back(ui.Typed("anything"));
        Import(private_file + ".pub");
        EXPECT_EQ(Shown(),
                  "box:Error loading private key\nprivate key file " + private_file + c.detail);
        ui.passphrases.clear();
    }
    EXPECT_EQ(app->Keys().Count(), 0u);
    EXPECT_TRUE(Logged().empty());
}

TEST_F(KeyImportExportTest, ExportedFilesOpenInTheToolsAndImportBack) {
    const std::int32_t number = StoreKey("work", true, "laptop key");
    const Bytes blob = app->Keys().FindByNumber(number)->Blob();

    // Plain: the tools read both files.
    files.answers.push_back(File("plain.PUB"));
    ui.passphrases.push_back(ui.Typed(""));
    ExportKeyPair(Context(), number);
    EXPECT_EQ(Shown(),
              "new-or-empty:Please choose a passphrase to protect this keypair. | "
              "box:Keypair saved.");
    EXPECT_TRUE(LoggedText("Info:Exported keypair \"work\" : private key to \"" + File("plain") +
                           "\", public key to \"" + File("plain.PUB") + "\""));
    std::string line;
    ASSERT_EQ(Shell("ssh-keygen -i -f " + Quote(File("plain.PUB")), &line), 0);
    EXPECT_EQ(test::BlobOfOpenSshLine(line), blob);
    ASSERT_EQ(Shell("puttygen " + Quote(File("plain.PUB")) + " -O public-openssh", &line), 0);
    EXPECT_EQ(test::BlobOfOpenSshLine(line), blob);
    // puttygen knows the plain container under the "ENCRYPTED" armor only (cipher "none").
    std::string text = test::ReadText(File("plain"));
    for (const std::string edge : {"BEGIN", "END"}) {
        const std::string plain = "---- " + edge + " SSH2 PRIVATE KEY ----";
        ASSERT_NE(text.find(plain), std::string::npos);
        text.replace(text.find(plain), plain.size(),
                     "---- " + edge + " SSH2 ENCRYPTED PRIVATE KEY ----");
    }
    test::WriteText(File("rearmored"), text);
    ASSERT_EQ(Shell("puttygen " + Quote(File("rearmored")) + " -O public-openssh", &line), 0);
    EXPECT_EQ(test::BlobOfOpenSshLine(line), blob);

    // Protected: to key.txt and key.txt.prv, then deleted and imported back with its
    // passphrase.
    ui.shown.clear();
    files.answers.push_back(File("key.txt"));
    ui.passphrases.push_back(ui.Typed("export secret"));
    ExportKeyPair(Context(), number);
    EXPECT_TRUE(std::filesystem::exists(File("key.txt.prv")));
    EXPECT_EQ(
        std::filesystem::status(File("key.txt.prv")).permissions() & std::filesystem::perms::all,
        std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(app->Keys().Delete(number));
    std::filesystem::rename(File("key.txt.prv"), File("key"));
    std::filesystem::rename(File("key.txt"), File("key.pub"));
    ui.passphrases.push_back(ui.Typed("export secret"));
    Import(File("key.pub"));
    const KeyPair* back = StoredWithBlob(blob);
    ASSERT_NE(back, nullptr) << Shown();
    EXPECT_EQ(back->Comment(), "laptop key");
    EXPECT_TRUE(StoredUnderAgentPassphrase(*back));
}

TEST_F(KeyImportExportTest, ExportThatCannotWriteOrIsCancelled) {
    const std::int32_t number = StoreKey("work");
    // The private key file cannot be replaced (a folder has its name): the export failed, and
    // the public key file there before is left as it was, still beside its own private key.
    std::filesystem::create_directory(File("k"));
    test::WriteText(File("k.pub"), "the old public key");
    files.answers.push_back(File("k.pub"));
    ui.message_box_results.push_back(IDYES);  // replace it
    ui.passphrases.push_back(ui.Typed("x"));
    ExportKeyPair(Context(), number);
    EXPECT_EQ(Shown(2), "box:Failed to export keypair.");
    EXPECT_EQ(test::ReadText(File("k.pub")), "the old public key");
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::path(File("k")).parent_path()))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << entry.path();
    EXPECT_TRUE(LoggedText("ERROR:Exporting keypair \"work\" failed (private key to \"" +
                           File("k") + "\", public key to \"" + File("k.pub") + "\" )"));
    EXPECT_FALSE(LoggedText("Exported keypair"));

    // Cancel in the passphrase prompt writes nothing.
    ui.shown.clear();
    files.answers.push_back(File("c.pub"));
    ExportKeyPair(Context(), number);
    EXPECT_FALSE(std::filesystem::exists(File("c.pub")));
    EXPECT_FALSE(std::filesystem::exists(File("c")));

    // A key that is gone by the time the file is chosen.
    ui.shown.clear();
    files.answers.push_back(File("gone.pub"));
    ExportKeyPair(Context(), number + 100);
    EXPECT_EQ(Shown(), "box:Cannot export keypair : cannot read key");

    // A client deleted it while the file dialog was open and added another, which took its
    // number: that other key is not written to the file.
    ui.shown.clear();
    files.answers.push_back(File("taken.pub"));
    files.while_open = [&] {
        ASSERT_TRUE(app->Keys().Delete(number));
        ASSERT_EQ(StoreKey("client's"), number);
    };
    ui.passphrases.push_back(ui.Typed("x"));
    ExportKeyPair(Context(), number);
    EXPECT_EQ(Shown(), "box:Cannot export keypair : cannot read key");
    EXPECT_FALSE(std::filesystem::exists(File("taken.pub")));
    EXPECT_FALSE(std::filesystem::exists(File("taken")));
    ui.passphrases.clear();

    // No selected row: nothing at all, not even a file dialog.
    const std::size_t asked = files.start_folders.size();
    ExportKeyPair(Context(), -1);
    EXPECT_EQ(files.start_folders.size(), asked);
}

// The file dialog asks before replacing the public key file it was given, not the private key
// file beside it: an export to id_rsa.pub must not replace an id_rsa unasked.
TEST_F(KeyImportExportTest, AnExistingPrivateKeyFileIsReplacedOnlyWhenTheUserSaysSo) {
    const std::int32_t number = StoreKey("work");
    test::WriteText(File("id_rsa"), "the user's own key");
    files.answers.push_back(File("id_rsa.pub"));
    ui.message_box_results.push_back(IDNO);
    ExportKeyPair(Context(), number);
    EXPECT_EQ(Shown(), "box:" + File("id_rsa") + " already exists.\nDo you want to replace it?");
    EXPECT_EQ(test::ReadText(File("id_rsa")), "the user's own key");
    EXPECT_FALSE(std::filesystem::exists(File("id_rsa.pub")));

    ui.shown.clear();
    files.answers.push_back(File("id_rsa.pub"));
    ui.message_box_results.push_back(IDYES);
    ui.passphrases.push_back(ui.Typed("x"));
    ExportKeyPair(Context(), number);
    EXPECT_EQ(Shown(2), "box:Keypair saved.");
    EXPECT_NE(test::ReadText(File("id_rsa")), "the user's own key");
}

TEST_F(KeyImportExportTest, ALockedAgentAsksFirstAndACancelStopsTheCommand) {
    const ToolKey key = MakeToolKey("id", "rsa", "", true, false);
    app->Keys().Lock();
    files.answers.push_back(key.public_file);
    ImportKeyPair(Context());  // the unlock prompt finds the script empty: cancelled
    EXPECT_EQ(Shown(), "unlock:Import key command");
    EXPECT_TRUE(files.start_folders.empty());

    ui.shown.clear();
    ui.passphrases.push_back(ui.Typed(test::kAgentPassphrase));
    ImportKeyPair(Context());
    EXPECT_EQ(Shown(), "unlock:Import key command | box:Keypair successfully imported.");
    EXPECT_EQ(app->Keys().Count(), 1u);
}

}  // namespace
}  // namespace kv
