// Keys made by the generation wizard are real SSH keys: after the wizard has stored an RSA and
// a DSA key, the agent serves them on its OpenSSH socket and ssh logs in to a loopback sshd
// with each of them.
#include <pwd.h>
#include <unistd.h>

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/registry/registry_database.h"
#include "tests/e2e/agent_process.h"
#include "tests/openssh_e2e/loopback_sshd.h"
#include "tests/ui/key_dialogs_fixture.h"
#include "ui/wizard/keygen_wizard.h"

namespace kv {
namespace {

std::string SourceDir() {
    const char* source = std::getenv("KV_TEST_SOURCE_DIR");
    return source != nullptr ? source : KV_TEST_SOURCE;
}

class WizardKeyLoginTest : public test::KeyDialogsTest {
  protected:
    // Runs the command of the Keys page with the wizard driven to Finish.
    void GenerateWithWizard(const QString& type, const QString& name) {
        WhenModal<CKeygenWizard>([type, name](CKeygenWizard& wizard) {
            wizard.StartPage()->TypeBox()->setCurrentText(type);
            wizard.StartPage()->LengthBox()->setCurrentText("1024");
            wizard.next();
            EXPECT_TRUE(
                QTest::qWaitFor([&] { return wizard.currentPage()->isComplete(); }, 120000));
            wizard.next();
            wizard.FinishPage()->NameField()->setText(name);
            wizard.accept();
            if (wizard.isVisible()) wizard.QDialog::reject();  // a failure must not hang
        });
        GenerateKeyPair(Context());
    }

    // Hands the registry this process wrote to the agent process, which reads it from its
    // configuration folder.
    void HandOverRegistry() {
        app.reset();
        RegistryDatabase::Close();
        const std::string dir = home.Path() + "/config/kvsshaa";
        std::filesystem::create_directories(dir);
        std::filesystem::permissions(dir, std::filesystem::perms::owner_all);
        std::filesystem::copy_file(home.Path() + "/registry.sqlite", dir + "/registry.sqlite");
    }

    std::string Ssh(const LoopbackSshd& sshd, const std::string& agent_socket,
                    const std::string& identity) const {
        const passwd* pw = ::getpwuid(::geteuid());
        return "timeout 60 ssh -F /dev/null -o UserKnownHostsFile=/dev/null "
               "-o StrictHostKeyChecking=no -o LogLevel=ERROR -o BatchMode=yes "
               "-o PubkeyAcceptedAlgorithms=+ssh-dss -o IdentitiesOnly=yes -o IdentityAgent=" +
               agent_socket + " -i " + identity + " -p " + std::to_string(sshd.Port()) + " " +
               (pw != nullptr ? pw->pw_name : "root") + "@127.0.0.1 echo logged-in </dev/null";
    }
};

TEST_F(WizardKeyLoginTest, GeneratedKeysSignThroughTheOpenSshSocketAndLogIn) {
    if (!LoopbackSshd::Available()) GTEST_SKIP() << "sshd is not installed";
    GenerateWithWizard("RSA", "wizard rsa");
    GenerateWithWizard("DSA", "wizard dsa");
    ASSERT_EQ(app->Keys().Count(), 2u) << Shown();
    HandOverRegistry();

    std::ofstream(home.Path() + "/queue") << test::kAgentPassphrase << "\n";
    AgentProcess agent(home.Path(), {{"SSH_ASKPASS", SourceDir() + "/tests/support/askpass.sh"},
                                     {"SSH_ASKPASS_REQUIRE", "force"},
                                     {"KV_ASKPASS_QUEUE", home.Path() + "/queue"},
                                     {"KV_ASKPASS_LOG", home.Path() + "/askpass.log"}});
    ASSERT_TRUE(agent.Start()) << agent.Stderr();
    const std::string socket = agent.RuntimeDir() + "/ssh";
    for (int i = 0; i < 250 && !std::filesystem::exists(socket); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));

    std::string listed;
    ASSERT_EQ(RunCommand("SSH_AUTH_SOCK=" + socket + " ssh-add -L", &listed), 0) << listed;
    TempDir sshd_dir;
    LoopbackSshd sshd(sshd_dir.Path());
    std::string error;
    ASSERT_TRUE(sshd.Start(error)) << error;
    std::ofstream(sshd.AuthorizedKeysFile()) << listed;

    std::istringstream lines(listed);
    int logins = 0;
    for (std::string line; std::getline(lines, line);) {
        SCOPED_TRACE(line);
        const std::string identity = home.Path() + "/identity" + std::to_string(logins) + ".pub";
        std::ofstream(identity) << line << "\n";
        std::string out;
        EXPECT_EQ(RunCommand(Ssh(sshd, socket, identity), &out), 0) << out << sshd.Log();
        EXPECT_EQ(out, "logged-in\n");
        ++logins;
    }
    EXPECT_EQ(logins, 2);
    EXPECT_NE(listed.find(" wizard rsa: [1024-bit rsa, "), std::string::npos) << listed;
    EXPECT_NE(listed.find(" wizard dsa: [1024-bit dsa, "), std::string::npos) << listed;
    EXPECT_EQ(agent.Stop(), 0) << agent.Stderr();
}

}  // namespace
}  // namespace kv
