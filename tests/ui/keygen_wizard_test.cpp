// The key generation wizard: its pages and buttons, the worker thread and every state of a
// generation, the proposed name and comment, and what Finish stores.
#include "ui/wizard/keygen_wizard.h"

#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QTest>
#include <atomic>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <regex>
#include <thread>

#include "platform/registry/registry_database.h"
#include "tests/ui/key_dialogs_fixture.h"
#include "ui/wizard/generated_key_text.h"

namespace kv {
namespace {

constexpr int kWaitMs = 120000;  // generous: a busy machine makes keys slowly

// A generator the test steers: it reports progress until it is held, released (it then hands
// out a key made by the module) or told to fail.
class GatedGenerator {
  public:
    KeyGenerator Generator() {
        return [this](std::int32_t type, std::uint32_t bits, const GenerationProgress& progress) {
            ++calls;
            for (;;) {
                {
                    std::unique_lock lock(m_mutex);
                    while (m_hold) {
                        m_held = true;
                        m_wake.notify_all();
                        m_wake.wait(lock);
                    }
                    m_held = false;
                    if (m_fail != 0) return ModuleResult<PrivateKey>{m_fail, {}};
                    if (m_released) break;
                }
                if (!progress(0)) return ModuleResult<PrivateKey>{KVCLM_E_CANCELLED, {}};
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
            return ModuleKeyGenerator()(type, bits, {});
        };
    }
    // Returns once the generator waits and no longer looks at the state.
    void Hold() {
        std::unique_lock lock(m_mutex);
        m_hold = true;
        m_wake.wait(lock, [this] { return m_held; });
    }
    void Resume() {
        Set([this] { m_hold = false; });
    }
    void Release() {
        Set([this] { m_released = true; });
    }
    void Fail(int code) {
        Set([this, code] { m_fail = code; });
    }
    std::atomic<int> calls{0};

  private:
    void Set(const std::function<void()>& change) {
        std::lock_guard lock(m_mutex);
        change();
        m_wake.notify_all();
    }

    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_hold = false;
    bool m_held = false;
    bool m_released = false;
    int m_fail = 0;
};

void WriteHelpPage(const std::string& path) { std::ofstream(path) << "<html></html>\n"; }

class KeygenWizardTest : public test::KeyDialogsTest {
  protected:
    // A new wizard on the record as it is (`fresh`: on a new record).
    void Open(KeyGenerator generate = ModuleKeyGenerator(), bool fresh = false) {
        wizard.reset();
        if (fresh) state = std::make_unique<WizardKeyState>();
        wizard = std::make_unique<CKeygenWizard>(*app, *state, std::move(generate));
        wizard->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(wizard.get()));
    }
    // Opens the wizard on the module's generator, counting the generations it starts.
    void OpenCounting(std::atomic<int>& calls) {
        Open([&calls](std::int32_t type, std::uint32_t bits, const GenerationProgress& progress) {
            ++calls;
            return ModuleKeyGenerator()(type, bits, progress);
        });
    }
    QAbstractButton* Button(QWizard::WizardButton which) const { return wizard->button(which); }
    bool Enabled(QWizard::WizardButton which) const {
        return Button(which)->isVisible() && Button(which)->isEnabled();
    }
    void Choose(const QString& type, const QString& bits) {
        wizard->StartPage()->TypeBox()->setCurrentText(type);
        wizard->StartPage()->LengthBox()->setCurrentText(bits);
    }
    // Waits until the Generate page shows that the worker has ended.
    bool WaitForEnd() {
        return QTest::qWaitFor([&] { return !wizard->GeneratePage()->TimerRunning(); }, kWaitMs);
    }

    std::unique_ptr<WizardKeyState> state = std::make_unique<WizardKeyState>();
    std::unique_ptr<CKeygenWizard> wizard;
};

// At a larger font the wrapped texts take more lines: the wizard grows to show them whole.
TEST_F(KeygenWizardTest, ALargerFontShowsEveryTextWhole) {
    const QFont normal = QApplication::font();
    QFont large = normal;
    large.setPointSizeF(normal.pointSizeF() * 2);
    QApplication::setFont(large);
    Open();
    std::vector<std::string> cut;
    for (const QLabel* label : wizard->StartPage()->findChildren<QLabel*>()) {
        if (label->wordWrap() && label->height() < label->heightForWidth(label->width())) {
            cut.push_back(label->text().left(20).toStdString());
        }
    }
    QApplication::setFont(normal);
    EXPECT_EQ(cut, std::vector<std::string>());
}

TEST_F(KeygenWizardTest, GeneratesRsaAndDsaKeysOnAWorkerThread) {
    for (const auto& [type, lower] : {std::pair{"RSA", "rsa"}, std::pair{"DSA", "dsa"}}) {
        SCOPED_TRACE(type);
        std::atomic<bool> off_ui_thread{false};
        const auto ui_thread = std::this_thread::get_id();
        Open(
            [&](std::int32_t t, std::uint32_t bits, const GenerationProgress& progress) {
                off_ui_thread = std::this_thread::get_id() != ui_thread;
                return ModuleKeyGenerator()(t, bits, progress);
            },
            true);
        // Opens on DSA and 2048, with only Next usable.
        EXPECT_EQ(wizard->windowTitle(), "(Step 1/3) Select key type and size");
        EXPECT_EQ(wizard->StartPage()->TypeBox()->currentText(), "DSA");
        EXPECT_EQ(wizard->StartPage()->LengthBox()->currentText(), "2048");
        EXPECT_FALSE(Enabled(QWizard::BackButton));
        EXPECT_TRUE(Enabled(QWizard::NextButton));
        if (std::string(type) == "RSA") test::SaveScreenshot(*wizard, "wizard_step1");

        Choose(type, "1024");
        wizard->next();
        CWizardPageKvcKeygenGenerate* page = wizard->GeneratePage();
        EXPECT_EQ(page->Description().toStdString(),
                  "A keypair (" + std::string(type) +
                      ", 1024 bits) is being generated. It might take from less than a second "
                      "to several minutes, depending on key size and the speed of your "
                      "computer.");
        ASSERT_TRUE(WaitForEnd());
        EXPECT_TRUE(off_ui_thread);
        EXPECT_EQ(page->Description(),
                  "Key generation complete. Press \"Next\" button to continue.");
        EXPECT_EQ(wizard->windowTitle(), "(Step 2/3) Generating key... Done.");
        EXPECT_EQ(page->Pattern().toStdString(), AllDotsProgressPattern());
        EXPECT_TRUE(Enabled(QWizard::BackButton));
        EXPECT_TRUE(Enabled(QWizard::NextButton));
        if (std::string(type) == "RSA") test::SaveScreenshot(*wizard, "wizard_step2_done");

        wizard->next();
        EXPECT_EQ(wizard->windowTitle(), "(Step 3/3) Key generated successfully");
        const std::string name = std::string("AgentKey") + (std::string(type) == "RSA" ? "1" : "2");
        EXPECT_EQ(wizard->FinishPage()->NameField()->text().toStdString(), name);
        const std::string comment = wizard->FinishPage()->CommentField()->text().toStdString();
        EXPECT_TRUE(std::regex_match(
            comment, std::regex("\\[1024-bit " + std::string(lower) +
                                ", \\w{3} \\w{3} [ \\d]\\d \\d\\d:\\d\\d:\\d\\d \\d{4} "
                                "Korvenix SSH Agent\\]")))
            << comment;
        EXPECT_TRUE(Enabled(QWizard::BackButton));
        EXPECT_TRUE(Enabled(QWizard::FinishButton));
        if (std::string(type) == "RSA") test::SaveScreenshot(*wizard, "wizard_step3");

        wizard->FinishPage()->CommentField()->setText("made \"here\"");
        QTest::mouseClick(Button(QWizard::FinishButton), Qt::LeftButton);
        EXPECT_EQ(wizard->result(), int(QDialog::Accepted));
        EXPECT_TRUE(LoggedText("Add:Generated and added private keypair \"" + name +
                               "\" : " + lower + " 1024-bit"));
        const KeyPair* stored = nullptr;
        for (std::size_t i = 0; i < app->Keys().Count(); ++i) {
            if (app->Keys().At(i).Name() == name) stored = &app->Keys().At(i);
        }
        ASSERT_NE(stored, nullptr);
        EXPECT_EQ(stored->Comment(), "made here");
        const auto blob = app->Keys().ReadPrivateKey(stored->Number());
        ASSERT_TRUE(blob);
        EXPECT_TRUE(blob->Matches(*stored, app->Keys().HeldPassphrase()));
    }
}

TEST_F(KeygenWizardTest, EveryStateOfAGeneration) {
    GatedGenerator gate;
    Open(gate.Generator());
    Choose("RSA", "768");
    wizard->next();
    CWizardPageKvcKeygenGenerate* page = wizard->GeneratePage();
    EXPECT_EQ(state->State(), KeyGenRunning);
    EXPECT_FALSE(Enabled(QWizard::BackButton));
    EXPECT_FALSE(Enabled(QWizard::NextButton));
    test::SaveScreenshot(*wizard, "wizard_step2_running");

    // While it runs the pattern moves (the UI thread is free) and Cancel asks first.
    const QString first = page->Pattern();
    EXPECT_EQ(first.split('\n', Qt::SkipEmptyParts).size(), 13);
    for (const QString& line : first.split('\n', Qt::SkipEmptyParts)) EXPECT_EQ(line.size(), 128);
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->Pattern() != first; }, kWaitMs));
    ui.message_box_results = {IDNO};
    wizard->reject();
    EXPECT_EQ(Shown(),
              "box:Key generation process is still running and it may take a long time.\nDo "
              "you want to stop key generation process?");
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(state->State(), KeyGenRunning);

    // Failure: the error code, Back only; Back and Next start a new worker.
    gate.Fail(7);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(state->State(), KeyGenFailed);
    EXPECT_EQ(page->Description(), "There has been an fatal error in generating a keypair (7).");
    EXPECT_TRUE(Enabled(QWizard::BackButton));
    EXPECT_FALSE(Enabled(QWizard::NextButton));
    EXPECT_FALSE(page->validatePage()) << "no key, no last page";

    GatedGenerator second;
    Open(second.Generator());
    Choose("RSA", "768");
    wizard->next();
    ui.shown.clear();
    ui.message_box_results = {IDYES};
    second.Hold();  // the worker does not look until the test has seen the request
    wizard->reject();
    EXPECT_EQ(state->State(), KeyGenCancelRequested);
    ui.shown.clear();
    wizard->reject();  // asked once only
    EXPECT_TRUE(ui.shown.empty());
    EXPECT_TRUE(wizard->isVisible());
    second.Resume();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(state->State(), KeyGenCancelled);
    page = wizard->GeneratePage();
    EXPECT_EQ(page->Description(), "Key generation cancelled.");
    EXPECT_TRUE(Enabled(QWizard::BackButton));
    EXPECT_FALSE(Enabled(QWizard::NextButton));
    test::SaveScreenshot(*wizard, "wizard_step2_cancelled");
    wizard->reject();
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(wizard->result(), int(QDialog::Rejected));
}

TEST_F(KeygenWizardTest, ASuccessThatMeetsACancelRequestStands) {
    GatedGenerator gate;
    Open(gate.Generator());
    Choose("RSA", "768");
    wizard->next();
    gate.Hold();
    ui.message_box_results = {IDYES};
    wizard->reject();
    EXPECT_EQ(state->State(), KeyGenCancelRequested);
    gate.Release();
    gate.Resume();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(state->State(), KeyGenDone);
    EXPECT_EQ(wizard->GeneratePage()->Description(),
              "Key generation complete. Press \"Next\" button to continue.");
    EXPECT_TRUE(Enabled(QWizard::NextButton));
}

TEST_F(KeygenWizardTest, ACancelBeforeTheWorkerStartsStillEndsTheGeneration) {
    int calls = 0;
    const KeyGenerator counting = [&](std::int32_t, std::uint32_t, const GenerationProgress&) {
        ++calls;
        return ModuleResult<PrivateKey>{KVCLM_E_CANCELLED, {}};
    };
    ASSERT_TRUE(state->RequestCancel());
    RunKeyGeneration(*state, counting);
    EXPECT_EQ(state->State(), KeyGenCancelled);
    EXPECT_EQ(calls, 0);
    // A finished state is left as it is.
    state->state = KeyGenDone;
    EXPECT_FALSE(state->RequestCancel());
    RunKeyGeneration(*state, counting);
    EXPECT_EQ(state->State(), KeyGenDone);
    EXPECT_EQ(calls, 0);
}

TEST_F(KeygenWizardTest, BackAndNextKeepTheKeyUntilTheChoiceChanges) {
    std::atomic<int> calls{0};
    OpenCounting(calls);
    Choose("RSA", "768");
    wizard->next();
    ASSERT_TRUE(WaitForEnd());
    const KVCLM_PRIVATE_KEY made = state->generated_key.Handle();
    wizard->back();
    EXPECT_EQ(wizard->currentId(), CKeygenWizard::kStartPage);
    wizard->next();
    EXPECT_EQ(state->State(), KeyGenDone);
    EXPECT_EQ(state->generated_key.Handle(), made);
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(wizard->GeneratePage()->Description(),
              "Key generation complete. Press \"Next\" button to continue.");
    EXPECT_EQ(calls, 1) << "no new worker";

    wizard->back();
    Choose("RSA", "1024");
    wizard->next();
    // The running text, not the old key's "complete" (the worker may already have ended).
    EXPECT_EQ(wizard->GeneratePage()->Description().toStdString(),
              "A keypair (RSA, 1024 bits) is being generated. It might take from less than a "
              "second to several minutes, depending on key size and the speed of your "
              "computer.");
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(state->bits, 1024);
    auto info = state->generated_key.GetInfo();
    ASSERT_TRUE(info.ok());
}

TEST_F(KeygenWizardTest, CancelDuringA3072BitGeneration) {
    // The module's own generation, held in its second progress report until the test has
    // asked to stop, so that it cannot end before the cancel reaches it.
    std::mutex mutex;
    std::condition_variable asked;
    bool cancel_asked = false;
    int reports = 0;
    Open([&](std::int32_t type, std::uint32_t bits, const GenerationProgress& progress) {
        return ModuleKeyGenerator()(type, bits, [&](int value) {
            if (++reports == 2) {
                std::unique_lock lock(mutex);
                asked.wait(lock, [&] { return cancel_asked; });
            }
            return progress(value);
        });
    });
    Choose("DSA", "3072");
    wizard->next();
    CWizardPageKvcKeygenGenerate* page = wizard->GeneratePage();
    // The window keeps working while the module computes: the pattern is redrawn.
    const QString first = page->Pattern();
    EXPECT_TRUE(QTest::qWaitFor([&] { return page->Pattern() != first; }, kWaitMs));
    ui.message_box_results = {IDNO, IDYES};
    wizard->reject();
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(state->State(), KeyGenRunning);
    wizard->reject();
    EXPECT_EQ(state->State(), KeyGenCancelRequested);
    {
        std::lock_guard lock(mutex);
        cancel_asked = true;
    }
    asked.notify_all();
    ASSERT_TRUE(WaitForEnd());
    EXPECT_EQ(state->State(), KeyGenCancelled);
    EXPECT_EQ(page->Description(), "Key generation cancelled.");
    EXPECT_FALSE(state->generated_key.IsValid());
}

TEST_F(KeygenWizardTest, DefaultNames) {
    struct Case {
        std::vector<std::string> stored;
        std::string proposed;
    };
    const Case cases[] = {{{}, "AgentKey1"},
                          {{"AgentKey1"}, "AgentKey2"},
                          {{"AgentKey1", "AgentKey3"}, "AgentKey2"},
                          {{"AgentKey2"}, "AgentKey1"},
                          {{"agentkey1"}, "AgentKey2"}};
    for (const Case& c : cases) {
        while (app->Keys().Count() > 0) app->Keys().Delete(app->Keys().At(0).Number());
        for (const std::string& name : c.stored) StoreKey(name);
        EXPECT_EQ(DefaultKeyName(app->Keys()), c.proposed);
    }
    std::tm when{};
    when.tm_year = 93;
    when.tm_mon = 5;
    when.tm_mday = 30;
    when.tm_wday = 3;
    when.tm_hour = 21;
    when.tm_min = 49;
    when.tm_sec = 8;
    EXPECT_EQ(GeneratedKeyComment(2048, WizardKeyDsa, when),
              "[2048-bit dsa, Wed Jun 30 21:49:08 1993 Korvenix SSH Agent]");
}

TEST_F(KeygenWizardTest, FinishRefusesADuplicateNameAndAStoreThatFails) {
    StoreKey("taken");
    Open();
    Choose("RSA", "768");
    wizard->next();
    ASSERT_TRUE(WaitForEnd());
    wizard->next();
    wizard->FinishPage()->NameField()->setText("TAKEN");
    QTest::mouseClick(Button(QWizard::FinishButton), Qt::LeftButton);
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(Shown(),
              "box:A keypair with this name is already stored in Agent. Please choose "
              "another name.");
    EXPECT_EQ(app->Keys().Count(), 1u);

    // The registry refuses the new key: the user is told and stays on the page.
    ui.shown.clear();
    wizard->FinishPage()->NameField()->setText("fresh");
    registry_testing::FailCommit(true);
    QTest::mouseClick(Button(QWizard::FinishButton), Qt::LeftButton);
    registry_testing::Reset();
    EXPECT_TRUE(wizard->isVisible());
    EXPECT_EQ(Shown(), "box:Can not save key.");
    EXPECT_EQ(app->Keys().Count(), 1u);
    EXPECT_FALSE(LoggedText("Generated and added"));

    // An empty name cannot be finished.
    wizard->FinishPage()->NameField()->setText("\"\\");
    EXPECT_FALSE(Enabled(QWizard::FinishButton));
    wizard->FinishPage()->NameField()->setText("fresh");
    QTest::mouseClick(Button(QWizard::FinishButton), Qt::LeftButton);
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(app->Keys().Count(), 2u);
}

// A client locked the agent while the wizard was open: Finish asks for the agent passphrase,
// and the wizard takes no click until that prompt is answered. A Back there could start a new
// generation into the very record Finish is storing from.
TEST_F(KeygenWizardTest, FinishOnALockedAgentAsksFirstAndTheWizardWaitsForTheAnswer) {
    std::atomic<int> calls{0};
    OpenCounting(calls);
    Choose("RSA", "768");
    wizard->next();
    ASSERT_TRUE(WaitForEnd());
    wizard->next();
    const KVCLM_PRIVATE_KEY made = state->generated_key.Handle();
    app->LockCommand();

    ui.passphrases = {ui.Typed(test::kAgentPassphrase)};
    // Back twice, another choice and Next, as the user could while the prompt is open.
    ui.while_open = [&] {
        QTest::mouseClick(Button(QWizard::BackButton), Qt::LeftButton);
        QTest::mouseClick(Button(QWizard::BackButton), Qt::LeftButton);
        Choose("DSA", "1024");
        QTest::mouseClick(Button(QWizard::NextButton), Qt::LeftButton);
    };
    QTest::mouseClick(Button(QWizard::FinishButton), Qt::LeftButton);
    EXPECT_EQ(Shown(), "unlock:Generate key command");
    EXPECT_FALSE(app->Keys().IsLocked());
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(state->generated_key.Handle(), made);
    ASSERT_EQ(app->Keys().Count(), 1u);
    EXPECT_EQ(app->Keys().At(0).Name(), "AgentKey1");
    EXPECT_FALSE(wizard->isVisible());
    EXPECT_EQ(wizard->result(), QDialog::Accepted);
}

TEST_F(KeygenWizardTest, TheCommandRunsTheWizardModallyAndHelpOpensEachPage) {
    // Help pages beside this test program, as the agent has them beside itself.
    for (const unsigned context : {148u, 150u}) {
        const std::filesystem::path page = CAgentApp::HelpPagePath(context);
        std::filesystem::create_directories(page.parent_path());
        if (!std::filesystem::exists(page)) WriteHelpPage(page.string());
    }
    // The command, from the Keys page: the wizard on the prompt stack, then a refill and
    // "key set changed".
    const int refreshes = ui.refreshes;
    WhenModal<CKeygenWizard>([&](CKeygenWizard& shown) {
        EXPECT_EQ(app->PromptDepth(), 1);
        QTest::mouseClick(shown.button(QWizard::HelpButton), Qt::LeftButton);
        shown.StartPage()->LengthBox()->setCurrentText("768");
        shown.next();
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown.currentPage()->isComplete(); }, kWaitMs));
        QTest::keyClick(&shown, Qt::Key_F1);
        shown.next();
        shown.accept();
        if (shown.isVisible()) shown.QDialog::reject();  // a failure must not hang
    });
    GenerateKeyPair(Context());
    EXPECT_EQ(app->PromptDepth(), 0);
    EXPECT_EQ(app->Keys().Count(), 1u);
    EXPECT_EQ(app->Keys().At(0).Name(), "AgentKey1");
    EXPECT_GE(ui.refreshes, refreshes + 2) << "refill and key set changed";
    // Help and F1 open the page of the current step.
    EXPECT_EQ(Shown(),
              "help:" + CAgentApp::HelpPagePath(148) + " | help:" + CAgentApp::HelpPagePath(150));

    // Cancelled on the first page: nothing stored, the key set event all the same.
    const int before = ui.refreshes;
    WhenModal<CKeygenWizard>([](CKeygenWizard& shown) { shown.reject(); });
    GenerateKeyPair(Context());
    EXPECT_EQ(app->Keys().Count(), 1u);
    EXPECT_EQ(ui.refreshes, before + 1);
}

}  // namespace
}  // namespace kv
