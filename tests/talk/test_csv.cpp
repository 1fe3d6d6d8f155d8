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

#include "../file_size_limit.h"
#include "export/save_open.h"
#include "res/resource.h"
#include "res/string_table.h"
#include "talk/csv.h"
#include "talk/owner.h"
#include "talk/texts.h"

#include <QChar>
#include <QString>
#include <QStringDecoder>

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
    lines[0].hostSource = NameSource::kDnsAnswer;
    lines[0].application = AppProtocol::kTls;
    lines[1].hostSource = NameSource::kTls;  // no name: no source either
    lines[2].hostSource = NameSource::kReverse;
    lines[0].country = "美国";
    lines[0].network = "AS15169 GOOGLE";
    lines[2].country = "=1+1";  // the database is outside input too
    lines[2].network = "AS64500 a,\"b\"";
    lines.push_back(Line(5, "", "", ""));
    lines.back().owner.state = OwnerState::kOtherUser;
    lines.back().owner.user = "nobody";
    lines.back().conversation.key.protocol = 1;
    const std::string path = dir_ + "/会话.csv";
    ASSERT_TRUE(WriteWholeFile(path, ConversationsCsv(lines)).ok());
    const std::string text = ReadFile(path);
    ASSERT_EQ(text.substr(0, 3), "\xEF\xBB\xBF");
    const auto records = ParseCsv(text.substr(3));
    ASSERT_EQ(records.size(), 6u);
    EXPECT_EQ(records[0][0], "协议");
    EXPECT_EQ(records[0][5], "远端主机");
    EXPECT_EQ(records[0][6], "名称来源");
    EXPECT_EQ(records[0][7], "程序");
    EXPECT_EQ(records[0][15], "最近");
    EXPECT_EQ(records[0][16], "应用");
    EXPECT_EQ(records[0][17], "国家/地区");
    EXPECT_EQ(records[0][18], "网络");
    for (const auto& r : records)
        ASSERT_EQ(r.size(), 19u);
    EXPECT_EQ(records[1],
              (std::vector<std::string>{
                  "TCP", "10.0.0.1", "1", "8.8.8.8", "443", "dns.example", "DNS 应答", "curl",
                  "4242", "alice", "3", "300", "4", "400", FormatLocalTime(1700000000123456789),
                  FormatLocalTime(1700000005987654321), "TLS", "美国", "AS15169 GOOGLE"}));
    // Where a name came from is said only beside a name.
    EXPECT_EQ(records[2][6], "");
    EXPECT_EQ(records[3][6], "反向解析");
    EXPECT_EQ(records[3][16], "");
    EXPECT_EQ(records[3][17], "'=1+1");
    EXPECT_EQ(records[3][18], "AS64500 a,\"b\"");
    EXPECT_EQ(records[5][17], "");
    EXPECT_EQ(records[1][14].size(), 23u);
    EXPECT_EQ(records[1][14].substr(19), ".123");
    EXPECT_EQ(records[2][7], "a,b \"c\"");
    EXPECT_EQ(records[2][9], "bob\nsmith");
    EXPECT_EQ(records[3][7], "'=HYPERLINK(\"x\")");
    EXPECT_EQ(records[3][9], "'+1");
    EXPECT_EQ(records[3][5], "'-2.example");
    EXPECT_EQ(records[4][7], "bad\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBDname\\u0001");
    EXPECT_EQ(records[4][9], "'@who");
    EXPECT_EQ(records[4][5], "'\t");
    EXPECT_EQ(records[5][0], "ICMP");
    EXPECT_EQ(records[5][2], "");
    EXPECT_EQ(records[5][7], "用户 nobody 的进程 (另一用户)");
    EXPECT_EQ(records[5][8], "");
    EXPECT_EQ(records[5][9], "nobody");
}

// The export is saved as every file is: a new file is the user's alone and
// a failed write leaves nothing of it behind; a file of the user's is
// replaced in place, keeping its mode; a folder, a device, a pipe (without
// waiting for a reader), a symbolic link and the recording's file are left
// as they are.
TEST_F(CsvFile, SavedAsEveryFileIs) {
    const std::string text = ConversationsCsv(std::vector<CsvLine>{Line(1, "curl", "alice", "")});
    const SaveResult missing = WriteWholeFile(dir_ + "/missing/x.csv", text);
    EXPECT_EQ(missing.kind, SaveResult::kOpenFailed);
    EXPECT_EQ(missing.error, ENOENT);
    EXPECT_EQ(WriteWholeFile(dir_, text).refusal, SaveRefusal::kNotRegularFile);
    const std::string path = dir_ + "/x.csv";
    const mode_t mask = umask(0);  // the mode asked for is what the file gets
    ASSERT_TRUE(WriteWholeFile(path, text).ok());
    umask(mask);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    chmod(path.c_str(), 0640);
    const std::string other = ConversationsCsv(std::vector<CsvLine>{Line(1, "wget", "bob", "")});
    ASSERT_TRUE(WriteWholeFile(path, other).ok());
    struct stat replaced {};
    ASSERT_EQ(stat(path.c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_mode & 0777, 0640u);
    EXPECT_EQ(replaced.st_ino, st.st_ino);
    EXPECT_EQ(ReadFile(path), other);

    if (access("/dev/full", W_OK) == 0) {
        EXPECT_EQ(WriteWholeFile("/dev/full", text).refusal, SaveRefusal::kNotRegularFile);
    }
    const std::string link = dir_ + "/link.csv";
    ASSERT_EQ(symlink(path.c_str(), link.c_str()), 0);
    EXPECT_EQ(WriteWholeFile(link, text).refusal, SaveRefusal::kSymbolicLink);
    unlink(link.c_str());
    const std::string fifo = dir_ + "/fifo.csv";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(WriteWholeFile(fifo, text).refusal, SaveRefusal::kNotRegularFile);
    unlink(fifo.c_str());
    const FileIdentity recording{static_cast<uint64_t>(st.st_dev),
                                 static_cast<uint64_t>(st.st_ino)};
    EXPECT_EQ(WriteWholeFile(path, text, recording).refusal, SaveRefusal::kBeingRecorded);
    EXPECT_EQ(ReadFile(path), other);

    // A write that fails (a file-size limit, like a full disk) on a new file.
    SaveResult full;
    {
        const FileSizeLimit limit(10);
        full = WriteWholeFile(dir_ + "/full.csv", text);
    }
    EXPECT_EQ(full.kind, SaveResult::kDiskFull);
    EXPECT_EQ(full.error, EFBIG);
    // Only the one file: nothing left of the failures.
    EXPECT_EQ(std::system(("test $(ls -A " + dir_ + " | wc -l) -eq 1").c_str()), 0);
}

// Every entry of the string table reads the same in UTF-8 (glibc's iconv) as
// the windows show it (Qt's GBK decoder); arguments are filled in one pass.
TEST(StringTable, Utf8EntriesAreTheWindowsText) {
    QStringDecoder gbk("GBK", QStringDecoder::Flag::Stateless);
    ASSERT_TRUE(gbk.isValid());
    int entries = 0;
    for (int id = 0; id < 1200; ++id) {
        const std::string_view bytes = LoadStringGbk(id);
        const QString shown = gbk.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
        EXPECT_EQ(LoadStringUtf8(id), shown.toStdString()) << id;
        entries += !bytes.empty();
    }
    EXPECT_GT(entries, 100);
    EXPECT_EQ(FormatUtf8(IDS_OWNER_FOUND, {"a%2b", "7", "%1"}), "a%2b (PID 7, 用户 %1)");
}

std::string Utf8(char32_t c) {
    std::string s;
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
    return s;
}

// What a reader of the shown text takes it for: each escape read back as its
// character. Fails the test on a backslash that opens no escape.
std::string Unescape(const std::string& shown) {
    std::string out;
    for (size_t i = 0; i < shown.size(); ++i) {
        if (shown[i] != '\\') {
            out += shown[i];
            continue;
        }
        const char kind = i + 1 < shown.size() ? shown[i + 1] : '\0';
        if (kind == '\\') {
            out += '\\';
            ++i;
            continue;
        }
        const size_t digits = kind == 'u' ? 4 : kind == 'U' ? 8 : 0;
        const std::string hex = shown.substr(i + 2, digits);
        EXPECT_TRUE(digits != 0 && hex.size() == digits &&
                    hex.find_first_not_of("0123456789ABCDEF") == std::string::npos)
            << "a bare backslash in " << shown;
        if (digits == 0 || hex.size() != digits)
            return out;
        out += Utf8(static_cast<char32_t>(std::stoul(hex, nullptr, 16)));
        i += 1 + digits;
    }
    return out;
}

std::u16string Utf16(const std::string& utf8) {
    return QString::fromStdString(utf8).toStdU16String();
}

// Every code point, between two letters: controls, format characters (bidi
// controls, zero-width ones, tags...) and the line and paragraph separators,
// as Qt's Unicode tables class them, come out as escapes and the rest as it
// went in; what is shown always reads back as what went in, the UTF-16 form
// says the same, and nothing shown is such a character itself.
TEST(Texts, EveryCodePointIsShownOrEscaped) {
    size_t escaped = 0;
    for (char32_t c = 0; c <= 0x10FFFF; ++c) {
        if (c >= 0xD800 && c <= 0xDFFF)
            continue;
        const std::string in = "a" + Utf8(c) + "b";
        const std::string shown = DisplayableUtf8(in);
        const QChar::Category category = QChar::category(c);
        const bool hiding = category == QChar::Other_Control || category == QChar::Other_Format ||
                            category == QChar::Separator_Line ||
                            category == QChar::Separator_Paragraph;
        // Qt's tables may be older than ours: a character they do not know yet is ours to class.
        const bool known = QChar::unicodeVersion(c) != QChar::Unicode_Unassigned;
        const bool escapes = known ? hiding || c == U'\\' : ShownEscaped(c);
        ASSERT_EQ(ShownEscaped(c), escapes) << std::hex << static_cast<uint32_t>(c);
        ASSERT_EQ(shown != in, escapes) << std::hex << static_cast<uint32_t>(c);
        ASSERT_EQ(Unescape(shown), in) << shown;
        ASSERT_EQ(DisplayableUtf16(Utf16(in)), Utf16(shown)) << shown;
        if (escapes) {
            ++escaped;
            ASSERT_EQ(shown.find_first_not_of("abuU\\0123456789ABCDEF"), std::string::npos)
                << shown;
        }
    }
    EXPECT_GT(escaped, 65 + 100u);  // C0, DEL and C1, the tags and the rest

    // The escapes themselves, and text from outside that looks like one.
    const std::pair<std::string, std::string> table[] = {
        {"\xE2\x80\xAEgnp.exe", "\\u202Egnp.exe"},
        {"\xE2\x81\xA6x\xE2\x81\xA9", "\\u2066x\\u2069"},
        {"line\xE2\x80\xA8two\r\n", "line\\u2028two\\u000D\\u000A"},
        {"\xC2\x85\xC2\x9F\x7F", "\\u0085\\u009F\\u007F"},
        {"zero\xE2\x80\x8Bwidth\xEF\xBB\xBF", "zero\\u200Bwidth\\uFEFF"},
        {"flag\xF3\xA0\x81\x81", "flag\\U000E0041"},
        {"\\u202E is text", "\\\\u202E is text"},
        {"C:\\Users\\", "C:\\\\Users\\\\"},
        {"中文 😀 Ελλάδα <b>&amp;</b>", "中文 😀 Ελλάδα <b>&amp;</b>"},
    };
    for (const auto& [in, shown] : table) {
        EXPECT_EQ(DisplayableUtf8(in), shown);
        EXPECT_EQ(Unescape(shown), in);
    }

    // Bytes that are not UTF-8 each become U+FFFD and never take the next character along.
    const char* const invalid[] = {
        "\xC0\xAF",          // overlong '/'
        "\xE0\x80\xAF",      // overlong
        "\xED\xA0\x80",      // surrogate
        "\xF4\x90\x80\x80",  // past U+10FFFF
        "\xE4\xB8",          // cut short
        "\x80",              // stray continuation
        "\xFF",
    };
    for (const char* s : invalid) {
        const std::string out = DisplayableUtf8(std::string(s) + "\n");
        ASSERT_GE(out.size(), 6u);
        EXPECT_EQ(out.substr(out.size() - 6), "\\u000A") << s;
        const std::string replaced = out.substr(0, out.size() - 6);
        EXPECT_EQ(replaced.find_first_not_of("\xEF\xBF\xBD"), std::string::npos) << s;
        EXPECT_FALSE(replaced.empty());
    }
    // An unpaired surrogate in UTF-16 likewise.
    EXPECT_EQ(DisplayableUtf16(std::u16string{0xD800, u'a', 0xDC00}), u"\uFFFDa\uFFFD");
}

TEST(Texts, Phrases) {
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
