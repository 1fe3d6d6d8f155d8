// The CSV export read back as a spreadsheet would, and the texts of names
// that others choose.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "talk/csv.h"
#include "talk/owner.h"
#include "talk/texts.h"

namespace {

// RFC 4180 records; fails the test on anything malformed.
std::vector<std::vector<std::string>> ParseCsv(const std::string& text) {
    std::vector<std::vector<std::string>> records(1, std::vector<std::string>(1));
    size_t i = 0;
    bool quoted = false, wasQuoted = false;
    while (i < text.size()) {
        const char c = text[i];
        std::string& field = records.back().back();
        if (quoted) {
            if (c == '"' && i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                i += 2;
                continue;
            }
            if (c == '"')
                quoted = false;
            else
                field += c;
            ++i;
            continue;
        }
        if (c == '"') {
            EXPECT_TRUE(field.empty() && !wasQuoted) << "quote inside a field at " << i;
            quoted = wasQuoted = true;
        } else if (c == ',') {
            records.back().emplace_back();
            wasQuoted = false;
        } else if (c == '\r') {
            EXPECT_TRUE(i + 1 < text.size() && text[i + 1] == '\n') << "bare CR at " << i;
            records.emplace_back(1);
            wasQuoted = false;
            ++i;
        } else {
            EXPECT_FALSE(wasQuoted) << "text after a closing quote at " << i;
            EXPECT_NE(c, '\n') << "bare LF at " << i;
            field += c;
        }
        ++i;
    }
    EXPECT_FALSE(quoted) << "unterminated quote";
    if (records.back().size() == 1 && records.back()[0].empty())
        records.pop_back();
    return records;
}

std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream all;
    all << in.rdbuf();
    return all.str();
}

CsvLine Line(uint16_t port, std::string program, std::string user, std::string host) {
    CsvLine l;
    l.conversation.key = {kProtocolTcp, 0x0A000001, port, 0x08080808, 443};
    l.conversation.counts = {3, 300, 4, 400, 1700000000123456789, 1700000005987654321};
    l.remoteHost = std::move(host);
    l.owner.state = OwnerState::kFound;
    l.owner.program = std::move(program);
    l.owner.pid = 4242;
    l.owner.user = std::move(user);
    return l;
}

class CsvFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char dir[] = "/tmp/qvtalkcsvXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        dir_ = dir;
    }
    void TearDown() override { std::system(("rm -rf " + dir_).c_str()); }
    std::string dir_;
};

// Names with separators, quotes, line breaks, formula starts and bytes that
// are not UTF-8 come back as the same fields, formulas defused.
TEST_F(CsvFile, ReadsBackFieldForField) {
    std::vector<CsvLine> lines = {
        Line(1, "curl", "alice", "dns.example"),
        Line(2, "a,b \"c\"", "bob\nsmith", ""),
        Line(3, "=HYPERLINK(\"x\")", "+1", "-2.example"),
        Line(4, DisplayableUtf8("bad\xFF\xC0\x80name\x01"), "@who", "\t"),
    };
    lines.push_back(Line(5, "", "", ""));
    lines.back().owner.state = OwnerState::kOtherUser;
    lines.back().owner.user = "nobody";
    lines.back().conversation.key.protocol = 1;
    const std::string path = dir_ + "/会话.csv";
    ASSERT_EQ(WriteConversationsCsv(path, lines), 0);
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    const auto records = ParseCsv(text.substr(3));
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0][0], "协议");
    EXPECT_EQ(records[0][6], "程序");
    EXPECT_EQ(records[0][14], "最近");
    for (const auto& r : records)
        ASSERT_EQ(r.size(), 15u);
    EXPECT_EQ(records[1],
              (std::vector<std::string>{"TCP", "10.0.0.1", "1", "8.8.8.8", "443", "dns.example",
                                        "curl", "4242", "alice", "3", "300", "4", "400",
                                        FormatLocalTime(1700000000123456789),
                                        FormatLocalTime(1700000005987654321)}));
    EXPECT_EQ(records[1][13].size(), 23u);
    EXPECT_EQ(records[1][13].substr(19), ".123");
    EXPECT_EQ(records[2][6], "a,b \"c\"");
    EXPECT_EQ(records[2][8], "bob\nsmith");
    EXPECT_EQ(records[3][6], "'=HYPERLINK(\"x\")");
    EXPECT_EQ(records[3][8], "'+1");
    EXPECT_EQ(records[3][5], "'-2.example");
    EXPECT_EQ(records[4][6], "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDname?");
    EXPECT_EQ(records[4][8], "'@who");
    EXPECT_EQ(records[4][5], "'\t");
    EXPECT_EQ(records[5][0], "ICMP");
    EXPECT_EQ(records[5][2], "");
    EXPECT_EQ(records[5][6], "用户 nobody 的进程 (另一用户)");
    EXPECT_EQ(records[5][7], "");
    EXPECT_EQ(records[5][8], "nobody");
}

// A failure gives its errno and leaves no file behind, nor a damaged earlier
// one; a new file is the user's alone, replacing a file keeps its permission
// bits; a pipe nobody reads fails instead of waiting for a reader.
TEST_F(CsvFile, FailuresAreReportedAndLeaveNothing) {
    const std::vector<CsvLine> lines = {Line(1, "curl", "alice", "")};
    EXPECT_EQ(WriteConversationsCsv(dir_ + "/missing/x.csv", lines), ENOENT);
    EXPECT_EQ(WriteConversationsCsv(dir_, lines), EISDIR);  // the rename over a folder
    const std::string path = dir_ + "/x.csv";
    const mode_t mask = umask(0);  // the mode asked for is what the file gets
    ASSERT_EQ(WriteConversationsCsv(path, lines), 0);
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    chmod(path.c_str(), 0640);
    ASSERT_EQ(WriteConversationsCsv(path, lines), 0);
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
    EXPECT_NE(ReadFile(path).find("curl"), std::string::npos);
    // A device is written as it is, not replaced: /dev/full fails the write.
    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(WriteConversationsCsv("/dev/full", lines), ENOSPC);
        struct stat dev {};
        ASSERT_EQ(stat("/dev/full", &dev), 0);
        EXPECT_TRUE(S_ISCHR(dev.st_mode));
    }
    // Through a symbolic link the file is replaced and the link stays.
    const std::string link = dir_ + "/link.csv";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    const std::vector<CsvLine> other = {Line(1, "wget", "alice", "")};
    ASSERT_EQ(WriteConversationsCsv(link, other), 0);
    struct stat ls {};
    ASSERT_EQ(lstat(link.c_str(), &ls), 0);
    EXPECT_TRUE(S_ISLNK(ls.st_mode));
    EXPECT_NE(ReadFile(path).find("wget"), std::string::npos);
    unlink(link.c_str());
    const std::string fifo = dir_ + "/fifo.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(WriteConversationsCsv(fifo, lines), ENXIO);
    unlink(fifo.c_str());
    // Only the one file: no temporary left behind.
    EXPECT_EQ(std::system(("test $(ls -A " + dir_ + " | wc -l) -eq 1").c_str()), 0);
}

TEST(Texts, DisplayableUtf8) {
    EXPECT_EQ(DisplayableUtf8("plain 中文 😀"), "plain 中文 😀");
    EXPECT_EQ(DisplayableUtf8("a\nb\x7F"), "a?b?");
    const char* const invalid[] = {
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        "\xE4\xB8",          // cut short
        "\x80",              // stray continuation
    };
    for (const char* s : invalid) {
        const std::string out = DisplayableUtf8(s);
        EXPECT_EQ(out.find_first_not_of("\xEF\xBF\xBD"), std::string::npos) << s;
        EXPECT_FALSE(out.empty());
    }
    OwnerInfo o;
    o.state = OwnerState::kFound;
    o.program = "curl";
    o.pid = 1234;
    o.user = "alice";
    EXPECT_EQ(OwnerPhrase(o), "curl (PID 1234, 用户 alice)");
    o.state = OwnerState::kClosed;
    EXPECT_EQ(OwnerPhrase(o), "套接字已关闭 (原属 curl, PID 1234)");
    EXPECT_EQ(OwnerPhrase(OwnerInfo{}), "查找中…");
    EXPECT_EQ(FormatBytes(1023), "1023 B");
    EXPECT_EQ(FormatBytes(1536), "1.5 KB");
}

}  // namespace
