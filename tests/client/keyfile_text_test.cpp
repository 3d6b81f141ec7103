// The text layer of SSH2 key files, the file naming rules and the bounded file access, all
// without the module.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <span>
#include <string>

#include "keys/key_file_io.h"
#include "keys/key_file_names.h"
#include "keys/ssh2_key_text.h"
#include "tests/client/keyfile_test_support.h"
#include "tests/support/temp_dir.h"

namespace kv {
namespace {

using test::AsBytes;
using test::AsString;

std::optional<Ssh2FileText> Parse(std::string_view text, bool privateKey = false) {
    return ParseSsh2File(text, privateKey);
}

std::string Body(const Ssh2FileText& text) { return AsString(text.base64); }

TEST(Ssh2FileCompose, WritesArmorCommentAndBodyWithLfOnly) {
    EXPECT_EQ(AsString(ComposeSsh2File(Ssh2FileKind::Public, "work key", "QUJD\nREVG")),
              "---- BEGIN SSH2 PUBLIC KEY ----\nComment: \"work key\"\nQUJD\nREVG\n"
              "---- END SSH2 PUBLIC KEY ----\n");
    EXPECT_EQ(AsString(ComposeSsh2File(Ssh2FileKind::PrivatePlain, "", "QUJD")),
              "---- BEGIN SSH2 PRIVATE KEY ----\nQUJD\n---- END SSH2 PRIVATE KEY ----\n");
    EXPECT_EQ(AsString(ComposeSsh2File(Ssh2FileKind::PrivateEncrypted, "c", "QUJD")),
              "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----\nComment: \"c\"\nQUJD\n"
              "---- END SSH2 ENCRYPTED PRIVATE KEY ----\n");
}

TEST(Ssh2FileParse, ReadsWhatTheWriterWrites) {
    for (auto kind :
         {Ssh2FileKind::Public, Ssh2FileKind::PrivatePlain, Ssh2FileKind::PrivateEncrypted}) {
        const bool isPrivate = kind != Ssh2FileKind::Public;
        for (std::string_view comment : {"", "work key"}) {
            const SecureBytes file = ComposeSsh2File(kind, comment, "QUJD\nREVG");
            const auto text = Parse(AsString(file), isPrivate);
            ASSERT_TRUE(text) << AsString(file);
            EXPECT_EQ(Body(*text), "QUJDREVG");
            EXPECT_EQ(text->comment, comment);
            // A public reader never takes a private file, nor the other way round.
            EXPECT_FALSE(Parse(AsString(file), !isPrivate));
        }
    }
}

TEST(Ssh2FileParse, AcceptsCrLfBlankEdgesAndOtherHeaders) {
    const auto text = Parse(
        "\xEF\xBB\xBF---- BEGIN SSH2 PUBLIC KEY ----\r\nSubject: me\r\n"
        "Comment: \"a \\\"quoted\\\" word\"  \r\nx-extra: y\r\n  QUJD \r\n\r\nREVG\r\n"
        "---- END SSH2 PUBLIC KEY ----  \r\ntrailing text\r\n");
    ASSERT_TRUE(text);
    EXPECT_EQ(Body(*text), "QUJDREVG");
    // Escapes stay; the record's clean-up drops quotes and backslashes.
    EXPECT_EQ(text->comment, "a \\\"quoted\\\" word");
    const auto unquoted = Parse(
        "---- BEGIN SSH2 PUBLIC KEY ----\nComment: plain words\nQUJD\n"
        "---- END SSH2 PUBLIC KEY ----");
    ASSERT_TRUE(unquoted);
    EXPECT_EQ(unquoted->comment, "plain words");
}

TEST(Ssh2FileParse, JoinsWrappedCommentsByteForByte) {
    // 60 bytes on the first line, a UTF-8 "é" (c3 a9) split over the wrap, as puttygen does.
    const std::string first(59, 'a');
    const std::string file = "---- BEGIN SSH2 ENCRYPTED PRIVATE KEY ----\nComment: \"" + first +
                             "\xC3\\\n\xA9 end: of it\"\nQUJD\n"
                             "---- END SSH2 ENCRYPTED PRIVATE KEY ----\n";
    const auto text = Parse(file, true);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->comment, first + "\xC3\xA9 end: of it");
    EXPECT_EQ(Body(*text), "QUJD");
}

TEST(Ssh2FileParse, BracketWrappedPrivateCommentGivesTheTextInside) {
    const std::string file =
        "---- BEGIN SSH2 PRIVATE KEY ----\nComment: \"[1024-bit dsa, build key\\\n]\"\n"
        "QUJD\n---- END SSH2 ENCRYPTED PRIVATE KEY ----\n";
    const auto text = Parse(file, true);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->comment, "1024-bit dsa, build key");
    // Brackets that were not wrapped that way belong to the comment.
    const auto plain = Parse(
        "---- BEGIN SSH2 PRIVATE KEY ----\nComment: \"[tag]\"\nQUJD\n"
        "---- END SSH2 PRIVATE KEY ----\n",
        true);
    ASSERT_TRUE(plain);
    EXPECT_EQ(plain->comment, "[tag]");
}

TEST(Ssh2FileParse, RejectsMalformedFiles) {
    const std::string begin = "---- BEGIN SSH2 PUBLIC KEY ----\n";
    const std::string end = "---- END SSH2 PUBLIC KEY ----\n";
    const std::string cases[] = {
        "",
        "\n\n",
        begin,
        "QUJD\n" + end,                                              // no begin line
        begin + "Comment: \"c\"\nQUJD\n",                            // no end line
        begin + end + "Comment: \"c\"\nQUJD\n" + end.substr(0, 10),  // end before the body
        begin + "Comment: \"c\"\n" + end,                            // empty body
        begin + "Comment: \"no closing quote\nQUJD\n" + end,
        begin + "Comment: \"\n" + "QUJD\n" + end,
        begin + "Comment: \"wrapped to the end\\\n" + end,  // continuation swallows the end
        begin + "Comment: \"x\\",
        begin + "Comment: \"before " + end.substr(0, end.size() - 1) + "\"\nQUJD\n",
    };
    for (const std::string& file : cases) EXPECT_FALSE(Parse(file)) << file;
}

TEST(KeyFileNames, ExportAndImportPaths) {
    EXPECT_EQ(ExportPrivateKeyPath("C:\\k\\id.PUB"), "C:\\k\\id");
    EXPECT_EQ(ExportPrivateKeyPath("C:\\k\\id.txt"), "C:\\k\\id.txt.prv");
    EXPECT_EQ(ExportPrivateKeyPath("/home/u/id_rsa.pub"), "/home/u/id_rsa");
    EXPECT_EQ(ExportPrivateKeyPath("a.pub"), "a");
    EXPECT_EQ(ExportPrivateKeyPath(".pub"), ".pub.prv");
    EXPECT_EQ(ExportPrivateKeyPath("key"), "key.prv");

    EXPECT_EQ(ImportPrivateKeyPath("/home/u/keys/id.pub"), "/home/u/keys/id");
    EXPECT_EQ(ImportPrivateKeyPath("C:\\k\\id.key.PUB"), "C:\\k\\id.key");
    EXPECT_EQ(ImportPrivateKeyPath("/home/u/.ssh/work.pub"), "/home/u/.ssh/work");
    // A dot in a folder name is no extension of the file.
    EXPECT_EQ(ImportPrivateKeyPath("/home/u/.ssh/work"), "");
    EXPECT_EQ(ImportPrivateKeyPath("C:\\my.keys\\id"), "");
    EXPECT_EQ(ImportPrivateKeyPath("/home/u/.pub"), "");
    EXPECT_EQ(ImportPrivateKeyPath("id"), "");
}

class KeyFileIo : public ::testing::Test {
  protected:
    std::string File(const char* name) const { return m_dir.Path() + "/" + name; }
    TempDir m_dir;
};

TEST_F(KeyFileIo, ReadsWholeRegularFilesUpToTheCap) {
    test::WriteText(File("small"), "abc");
    const auto small = ReadKeyFileBytes(File("small"));
    ASSERT_TRUE(small);
    EXPECT_EQ(AsString(*small), "abc");
    test::WriteText(File("empty"), "");
    ASSERT_TRUE(ReadKeyFileBytes(File("empty")));

    test::WriteText(File("cap"), std::string(64, 'x'));
    EXPECT_TRUE(ReadKeyFileBytes(File("cap"), 64));
    EXPECT_FALSE(ReadKeyFileBytes(File("cap"), 63));
    test::WriteText(File("big"), std::string(10 << 20, 'A'));
    EXPECT_FALSE(ReadKeyFileBytes(File("big")));
}

TEST_F(KeyFileIo, FailsCleanlyOnWhatIsNotAReadableFile) {
    EXPECT_FALSE(ReadKeyFileBytes(m_dir.Path()));
    EXPECT_FALSE(ReadKeyFileBytes(File("missing")));
    EXPECT_FALSE(ReadKeyFileBytes(""));
    test::WriteText(File("plain"), "x");
    EXPECT_FALSE(ReadKeyFileBytes(File("plain") + "/below"));
    // A pipe nobody writes to must not block the reader.
    ASSERT_EQ(::mkfifo(File("fifo").c_str(), 0600), 0);
    EXPECT_FALSE(ReadKeyFileBytes(File("fifo")));
    if (::geteuid() != 0) {  // root reads whatever the mode says
        test::WriteText(File("locked"), "x");
        ::chmod(File("locked").c_str(), 0);
        EXPECT_FALSE(ReadKeyFileBytes(File("locked")));
    }
}

TEST_F(KeyFileIo, ReplacesContentsWholeOrNotAtAll) {
    const std::string path = File("key");
    test::WriteText(path, "old contents that are longer");
    ASSERT_TRUE(ReplaceFileContents(path, AsBytes("new"), 0600));
    EXPECT_EQ(test::ReadText(path), "new");
    struct stat info {};
    ASSERT_EQ(::stat(path.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);

    EXPECT_FALSE(ReplaceFileContents(m_dir.Path(), AsBytes("x"), 0600));
    EXPECT_FALSE(ReplaceFileContents(File("no/such/dir"), AsBytes("x"), 0600));
    EXPECT_FALSE(ReplaceFileContents("", AsBytes("x"), 0600));
    // Failed attempts leave nothing behind: only the file written above remains.
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(m_dir.Path()))
        ++entries;
    EXPECT_EQ(entries, 1u);
}

// A pair is replaced whole or not at all, also when only the second file cannot be replaced
// (here a folder has its name; in a sticky folder, a file of another user does the same).
TEST_F(KeyFileIo, APairWhoseSecondFileCannotBeReplacedLeavesTheFirstAsItWas) {
    const auto bytes = [](const char* text) {
        return std::span(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
    };
    const auto entries = [this] {
        std::size_t n = 0;
        for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator(m_dir.Path()))
            ++n;
        return n;
    };
    test::WriteText(File("k"), "old private");
    std::filesystem::create_directory(File("k.pub"));
    EXPECT_FALSE(ReplaceFilePair({File("k"), bytes("new private"), 0600},
                                 {File("k.pub"), bytes("new public"), 0644}));
    EXPECT_EQ(test::ReadText(File("k")), "old private");
    EXPECT_EQ(entries(), 2u);  // k and the folder: no temporary file left

    // No private file there before: none after.
    std::filesystem::remove(File("k"));
    EXPECT_FALSE(ReplaceFilePair({File("k"), bytes("new private"), 0600},
                                 {File("k.pub"), bytes("new public"), 0644}));
    EXPECT_FALSE(std::filesystem::exists(File("k")));
    EXPECT_EQ(entries(), 1u);

    // And when both can be replaced, both are, with nothing left beside them.
    std::filesystem::remove(File("k.pub"));
    test::WriteText(File("k"), "old private");
    test::WriteText(File("k.pub"), "old public");
    EXPECT_TRUE(ReplaceFilePair({File("k"), bytes("new private"), 0600},
                                {File("k.pub"), bytes("new public"), 0644}));
    EXPECT_EQ(test::ReadText(File("k")), "new private");
    EXPECT_EQ(test::ReadText(File("k.pub")), "new public");
    EXPECT_EQ(entries(), 2u);
}

}  // namespace
}  // namespace kv
