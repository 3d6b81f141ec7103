#include "tests/ui/key_dialogs_fixture.h"

#include <QDir>
#include <QTest>
#include <cstdlib>

#include "cryptomodule/key_generation.h"
#include "platform/registry/registry_database.h"
#include "tests/support/test_time.h"

namespace kv::test {

namespace {

// One QApplication for the whole test program, offscreen unless told otherwise.
class QtEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        if (std::getenv("QT_QPA_PLATFORM") == nullptr) ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        static int argc = 1;
        static char name[] = "key_dialogs_test";
        static char* argv[] = {name, nullptr};
        m_app = std::make_unique<QApplication>(argc, argv);
        QApplication::setQuitOnLastWindowClosed(false);
        const char* bin = std::getenv("KV_BIN_DIR");
        ASSERT_NE(bin, nullptr) << "run through ctest, which sets KV_BIN_DIR";
        ::setenv("KVSSHAA_MODULE_DIR", (std::string(bin) + "/crypto").c_str(), 1);
    }
    void TearDown() override { m_app.reset(); }

  private:
    std::unique_ptr<QApplication> m_app;
};

[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

std::string ScreenshotDir() {
    const char* bin = std::getenv("KV_BIN_DIR");
    return bin != nullptr ? std::string(bin) + "/../screenshots" : "screenshots";
}

}  // namespace

KeyDialogsTest::KeyDialogsTest() {
    EXPECT_TRUE(RegistryDatabase::UseFile(home.Path() + "/registry.sqlite"));
    auto fake = std::make_unique<FakeClock>(test::kTestNow);
    clock = fake.get();
    app = std::make_unique<CAgentApp>(ui, std::move(fake));
    app->InitSettings();
    qt.Attach(*app, {});
    const std::string passphrase = kAgentPassphrase;
    EXPECT_TRUE(app->Keys().Unlock(
        {reinterpret_cast<const std::uint8_t*>(passphrase.data()), passphrase.size()}));
    ui.window_open = true;
    log_start = app->Log().Entries().size();
}

KeyDialogsTest::~KeyDialogsTest() {
    app.reset();
    RegistryDatabase::Close();
}

std::vector<std::string> KeyDialogsTest::Logged() const {
    std::vector<std::string> texts;
    const auto entries = app->Log().Entries();
    for (std::size_t i = log_start; i < entries.size(); ++i) {
        texts.push_back(std::string(LogCategoryName(entries[i].category)) + ":" +
                        entries[i].message);
    }
    return texts;
}

bool KeyDialogsTest::LoggedText(const std::string& text) const {
    for (const std::string& line : Logged()) {
        if (line.find(text) != std::string::npos) return true;
    }
    return false;
}

std::string KeyDialogsTest::Shown(std::size_t from) const {
    std::string joined;
    for (std::size_t i = from; i < ui.shown.size(); ++i) {
        if (!joined.empty()) joined += " | ";
        joined += ui.shown[i];
    }
    return joined;
}

std::int32_t KeyDialogsTest::StoreKey(const std::string& name, bool rsa,
                                      const std::string& comment) {
    auto made = rsa ? GenerateRsaKey(1024) : GenerateDssKey(1024);
    EXPECT_TRUE(made.ok());
    auto pub = made.value.DerivePublic();
    EXPECT_TRUE(pub.ok());
    KeyPair pair;
    EXPECT_TRUE(pair.SetBlobFromPublicKey(pub.value));
    pair.SetFileName(name);
    pair.SetComment(comment);
    PrivateKeyBlob blob(&pair);
    EXPECT_TRUE(blob.ProtectGenerated(made.value, app->Keys().HeldPassphrase()));
    const std::int32_t number = app->Keys().Add(blob, pair);
    EXPECT_NE(number, KeyPair::kNotStored);
    return number;
}

void SaveScreenshot(QWidget& widget, const std::string& name) {
    if (!widget.isVisible()) widget.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&widget));
    const std::string dir = ScreenshotDir();
    QDir().mkpath(QString::fromStdString(dir));
    EXPECT_TRUE(widget.grab().save(QString::fromStdString(dir + "/" + name + ".png")));
}

}  // namespace kv::test
