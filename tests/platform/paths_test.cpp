// Where files go, and the refusals that keep another user out of our folders.
#include "platform/paths.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>

#include "tests/platform/temp_home.h"

namespace kv::testing {
namespace {

class PathsTest : public ::testing::Test {
  protected:
    TempHome m_home;
    std::string Sub(const char* leaf) const { return m_home.Dir() + "/" + leaf; }
};

TEST_F(PathsTest, FoldersFollowXdgVariablesAndFallBack) {
    setenv("XDG_CONFIG_HOME", "/somewhere/conf/", 1);
    EXPECT_EQ(paths::ConfigDir(), "/somewhere/conf/kvsshaa");
    setenv("XDG_CONFIG_HOME", "relative/conf", 1);  // not absolute: ignored
    EXPECT_EQ(paths::ConfigDir(), Sub("home") + "/.config/kvsshaa");
    unsetenv("XDG_CONFIG_HOME");
    EXPECT_EQ(paths::ConfigDir(), Sub("home") + "/.config/kvsshaa");
    EXPECT_EQ(paths::RegistryFile(), Sub("home") + "/.config/kvsshaa/registry.sqlite");

    EXPECT_EQ(paths::RuntimeDir(), Sub("run") + "/kvsshaa");
    EXPECT_EQ(paths::InstanceLockPath(), Sub("run") + "/kvsshaa/kvsshaaMutex.lock");
    unsetenv("XDG_RUNTIME_DIR");
    const std::string fallback = "/tmp/kvsshaa-" + std::to_string(geteuid());
    EXPECT_EQ(paths::RuntimeDir(), fallback);
    EXPECT_EQ(paths::AgentSocketPath(), fallback + "/agent");
    EXPECT_EQ(paths::SshSocketPath(), fallback + "/ssh");
}

TEST_F(PathsTest, ExecutableDirHoldsThisTest) {
    const std::string dir = paths::ExecutableDir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(access((dir + "/platform_os_test").c_str(), X_OK), 0) << dir;
}

TEST_F(PathsTest, PrivateDirIsCreatedWithParentsAndTightened) {
    const std::string dir = Sub("a/b/c");
    ASSERT_TRUE(paths::EnsurePrivateDir(dir + "/"));
    EXPECT_EQ(ModeOf(dir), 0700u);
    EXPECT_EQ(ModeOf(Sub("a")), 0700u);
    chmod(dir.c_str(), 0755);
    ASSERT_TRUE(paths::EnsurePrivateDir(dir));
    EXPECT_EQ(ModeOf(dir), 0700u);
}

TEST_F(PathsTest, PrivateDirRefusesLinksFilesAndRelativePaths) {
    const std::string target = Sub("target");
    ASSERT_EQ(mkdir(target.c_str(), 0755), 0);
    ASSERT_EQ(symlink(target.c_str(), Sub("link").c_str()), 0);
    EXPECT_FALSE(paths::EnsurePrivateDir(Sub("link")));
    EXPECT_EQ(ModeOf(target), 0755u);  // not followed
    std::ofstream(Sub("file")) << "x";
    EXPECT_FALSE(paths::EnsurePrivateDir(Sub("file")));
    EXPECT_FALSE(paths::EnsurePrivateDir("relative/dir"));
    EXPECT_FALSE(paths::EnsurePrivateDir(""));
}

TEST_F(PathsTest, PrivateFileIsCreatedOrTightenedButNeverThroughALink) {
    ASSERT_TRUE(paths::EnsurePrivateFile(Sub("new")));
    EXPECT_EQ(ModeOf(Sub("new")), 0600u);
    std::ofstream(Sub("old")) << "keep";
    chmod(Sub("old").c_str(), 0644);
    ASSERT_TRUE(paths::EnsurePrivateFile(Sub("old")));
    EXPECT_EQ(ModeOf(Sub("old")), 0600u);
    std::ifstream in(Sub("old"));
    std::string content;
    in >> content;
    EXPECT_EQ(content, "keep");

    chmod(Sub("old").c_str(), 0644);
    ASSERT_EQ(symlink(Sub("old").c_str(), Sub("link").c_str()), 0);
    EXPECT_FALSE(paths::EnsurePrivateFile(Sub("link")));
    EXPECT_EQ(ModeOf(Sub("old")), 0644u);
}

TEST_F(PathsTest, ObjectsOfAnotherOwnerAreRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another owner";
    const std::string dir = Sub("theirs");
    ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
    ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(paths::EnsurePrivateDir(dir));
    std::ofstream(Sub("their-file")) << "x";
    ASSERT_EQ(chown(Sub("their-file").c_str(), 65534, 65534), 0);
    EXPECT_FALSE(paths::EnsurePrivateFile(Sub("their-file")));
}

// A private folder is only as safe as the folders above it: anyone who may write in one of
// them can move ours aside and put their own (with their own socket) in its place.
TEST_F(PathsTest, FoldersAboveOthersMayWriteInOrOwnAreRefused) {
    const std::string open = Sub("open");
    ASSERT_EQ(mkdir(open.c_str(), 0700), 0);
    ASSERT_TRUE(paths::EnsurePrivateDir(open + "/run/kvsshaa"));
    // Above the home: /tmp, which others may write in, but root's and sticky.
    EXPECT_TRUE(paths::NoOtherUserControlsParents(open + "/run/kvsshaa"));
    ASSERT_EQ(chmod(open.c_str(), 0777), 0);
    EXPECT_FALSE(paths::NoOtherUserControlsParents(open + "/run/kvsshaa"));
    ASSERT_EQ(chmod(open.c_str(), 0775), 0);  // a group may write: the same
    EXPECT_FALSE(paths::NoOtherUserControlsParents(open + "/run/kvsshaa"));
    ASSERT_EQ(symlink(open.c_str(), Sub("link").c_str()), 0);  // reached through a link too
    EXPECT_FALSE(paths::NoOtherUserControlsParents(Sub("link") + "/run/kvsshaa"));
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    EXPECT_TRUE(paths::NoOtherUserControlsParents(Sub("link") + "/run/kvsshaa"));
    if (geteuid() != 0) return;
    ASSERT_EQ(chmod(open.c_str(), 01777), 0);  // root's and sticky
    EXPECT_TRUE(paths::NoOtherUserControlsParents(open + "/run/kvsshaa"));
    ASSERT_EQ(chown(open.c_str(), 65534, 65534), 0);  // sticky, but another user's
    EXPECT_FALSE(paths::NoOtherUserControlsParents(open + "/run/kvsshaa"));
    ASSERT_EQ(chmod(open.c_str(), 0755), 0);
    EXPECT_FALSE(paths::NoOtherUserControlsParents(open + "/run/kvsshaa"));
}

}  // namespace
}  // namespace kv::testing
