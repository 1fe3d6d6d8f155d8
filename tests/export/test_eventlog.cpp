// The event log file, byte for byte, and what a failed save reports.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "../file_size_limit.h"
#include "export/eventlog.h"
#include "export/save_fault.h"

namespace {

using Row = std::array<std::string, 8>;

class Rows : public EventLogSource {
  public:
    explicit Rows(std::vector<Row> rows) : rows_(std::move(rows)) {}
    int RowCount() const override { return static_cast<int>(rows_.size()); }
    std::string CellText(int r, int c) const override {
        if (r < 0 || r >= RowCount() || c < 0 || c >= 8)
            return {};
        return rows_[static_cast<size_t>(r)][static_cast<size_t>(c)];
    }

  private:
    std::vector<Row> rows_;
};

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

std::string TempPath(const char* name) {
    return (std::filesystem::temp_directory_path() /
            (std::string("qv-") + std::to_string(getpid()) + "-" + name))
        .string();
}

int OpenFds() {
    int n = 0;
    for ([[maybe_unused]] const auto& e : std::filesystem::directory_iterator("/proc/self/fd"))
        ++n;
    return n;
}

const Row kSample = {"2024-03-05 14:03:27",
                     "(\xB1\xBE\xBB\xFA)192.168.1.20",
                     "1025",
                     "10.0.0.9",
                     "80",
                     "http",
                     "GET /",
                     "ACK-PSH-"};

const std::string kSampleRecord =
    "\xCA\xB1\xBC\xE4:   2024-03-05 14:03:27\n"
    "\xD4\xB4\xB5\xD8\xD6\xB7: (\xB1\xBE\xBB\xFA)192.168.1.20\n"
    "\xD4\xB4\xB6\xCB\xBF\xDA: 1025\n"
    "\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: 10.0.0.9\n"
    "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: 80\n"
    "\xD0\xAD\xD2\xE9: http\n"
    "\xCA\xFD\xBE\xDD: GET /\n"
    "TCP\xB1\xEA\xD6\xBE: ACK-PSH-\n\n\n";

}  // namespace

TEST(EventLog, EmptyListGivesAnEmptyFileReplacingOldContent) {
    const auto path = TempPath("empty.doc");
    std::ofstream(path) << "old content";
    ASSERT_TRUE(WriteEventLogFile(path, Rows({})).ok());
    EXPECT_EQ(std::filesystem::file_size(path), 0u);
    std::filesystem::remove(path);
}

TEST(EventLog, OneRecordByteForByte) {
    const auto path = TempPath("one.doc");
    ASSERT_TRUE(WriteEventLogFile(path, Rows({kSample})).ok());
    const std::string got = ReadAll(path);
    EXPECT_EQ(got, kSampleRecord);
    size_t cells = 0;
    for (const auto& c : kSample)
        cells += c.size();
    EXPECT_EQ(got.size(), 65 + cells + 10);
    std::filesystem::remove(path);
}

TEST(EventLog, RowsGoFromTheBottomOfTheListToTheTop) {
    Row first = kSample, second = kSample, third = kSample;
    first[6] = "first", second[6] = "second", third[6] = "third";
    const auto path = TempPath("three.doc");
    // The newest row is at the top of the list.
    ASSERT_TRUE(WriteEventLogFile(path, Rows({third, second, first})).ok());
    const std::string got = ReadAll(path);
    const auto a = got.find("first"), b = got.find("second"), c = got.find("third");
    ASSERT_NE(c, std::string::npos);
    EXPECT_LT(a, b);
    EXPECT_LT(b, c);
    std::filesystem::remove(path);
}

TEST(EventLog, EmptyCellsAndRawBytesAreWrittenUnchanged) {
    Row icmp = {"t", "10.0.0.1", "", "10.0.0.2", "", "--", "", ""};
    Row odd = kSample;
    odd[6] = std::string("line1\nline2\r\n\xC4\xE3\xBA\xC3\xFF", 18);
    const auto path = TempPath("odd.doc");
    ASSERT_TRUE(WriteEventLogFile(path, Rows({odd, icmp})).ok());
    const std::string got = ReadAll(path);
    EXPECT_EQ(got.substr(0, got.find("TCP\xB1\xEA\xD6\xBE: \n\n\n") + 12),
              "\xCA\xB1\xBC\xE4:   t\n"
              "\xD4\xB4\xB5\xD8\xD6\xB7: 10.0.0.1\n"
              "\xD4\xB4\xB6\xCB\xBF\xDA: \n"
              "\xC4\xBF\xB5\xC4\xB5\xD8\xD6\xB7: 10.0.0.2\n"
              "\xC4\xBF\xB5\xC4\xB6\xCB\xBF\xDA: \n"
              "\xD0\xAD\xD2\xE9: --\n"
              "\xCA\xFD\xBE\xDD: \n"
              "TCP\xB1\xEA\xD6\xBE: \n\n\n");
    EXPECT_NE(got.find("\xCA\xFD\xBE\xDD: line1\nline2\r\n\xC4\xE3\xBA\xC3\xFF\n"),
              std::string::npos);
    EXPECT_EQ(got.find('\0'), std::string::npos);
    std::filesystem::remove(path);
}

// A device is refused, not written into: /dev/full would have said "disk full".
TEST(EventLog, FullDiskIsReportedWithThePathAndTheFileIsClosed) {
    const int fds = OpenFds();
    const auto dev = WriteEventLogFile("/dev/full", Rows({kSample}));
    EXPECT_EQ(dev.kind, EventLogResult::kRefused);
    EXPECT_EQ(dev.refusal, SaveRefusal::kNotRegularFile);
    EXPECT_EQ(OpenFds(), fds);
    EventLogResult full{EventLogResult::kDiskFull, ENOSPC};
    EXPECT_EQ(SaveErrorMessage(full, "/dev/full"), "在存取 /dev/full 时磁盘已满。");
}

// A write that fails (a file-size limit, like a filling disk): a file the
// save replaced keeps the lines written before the failure, one it made is
// gone again.
TEST(EventLog, FailedSaveKeepsAReplacedFileAndRemovesAMadeOne) {
    const auto path = TempPath("partial.doc");
    const auto made = TempPath("made.doc");
    std::filesystem::remove(made);
    std::ofstream(path) << "earlier";
    EventLogResult r, m;
    {
        const FileSizeLimit limit(kSampleRecord.size() + 20);
        r = WriteEventLogFile(path, Rows({kSample, kSample, kSample}));
        m = WriteEventLogFile(made, Rows({kSample, kSample, kSample}));
    }

    EXPECT_EQ(r.kind, EventLogResult::kDiskFull);
    EXPECT_EQ(r.error, EFBIG);
    const std::string got = ReadAll(path);
    EXPECT_EQ(got.substr(0, kSampleRecord.size()), kSampleRecord);
    EXPECT_LE(got.size(), kSampleRecord.size() + 20);
    EXPECT_EQ(m.kind, EventLogResult::kDiskFull);
    EXPECT_FALSE(std::filesystem::exists(made));
    EXPECT_EQ(SaveErrorMessage(m, made), "在存取 " + made + " 时磁盘已满。");
    std::filesystem::remove(path);
}

TEST(EventLog, UnopenableFileIsAnErrorAndCreatesNothing) {
    const std::string missing = "/nonexistent-qv-dir/x.doc";
    const auto r = WriteEventLogFile(missing, Rows({kSample}));
    EXPECT_EQ(r.kind, EventLogResult::kOpenFailed);
    EXPECT_FALSE(std::filesystem::exists(missing));
    EXPECT_EQ(SaveErrorMessage(r, missing), "/nonexistent-qv-dir/x.doc 包含一个无效路径。");

    const auto dir = std::filesystem::temp_directory_path().string();
    const auto isDir = WriteEventLogFile(dir, Rows({kSample}));
    EXPECT_EQ(isDir.kind, EventLogResult::kRefused);
    EXPECT_EQ(isDir.refusal, SaveRefusal::kNotRegularFile);
    EXPECT_EQ(SaveErrorMessage(isDir, dir), "在对 " + dir + " 进行访问时发生了一个不明错误。");

    EventLogResult denied{EventLogResult::kOpenFailed, EACCES};
    EXPECT_EQ(SaveErrorMessage(denied, "/root/a.doc"), "对 /root/a.doc 的访问被拒绝。");
    EventLogResult io{EventLogResult::kIoError, EIO};
    EXPECT_EQ(SaveErrorMessage(io, "/a"), "在存取 /a 时一个硬件输入/输出错误被报告。");
}

// A new file is the user's alone; a file of the user's is replaced in place
// and keeps its mode; a name that is a symbolic link, even to the user's own
// file or to nothing yet, is left as it is and nothing is made through it.
TEST(EventLog, NewFilesArePrivateAndLinksAreNotFollowed) {
    const auto path = TempPath("private.doc");
    const auto link = TempPath("private-link.doc");
    std::filesystem::remove(path);
    std::filesystem::remove(link);
    const mode_t mask = umask(0);  // the mode asked for is what the file gets
    ASSERT_TRUE(WriteEventLogFile(path, Rows({kSample})).ok());
    umask(mask);
    struct stat made {};
    ASSERT_EQ(stat(path.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 07777, 0600u);

    ASSERT_EQ(chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(WriteEventLogFile(path, Rows({kSample, kSample})).ok());
    struct stat replaced {};
    ASSERT_EQ(stat(path.c_str(), &replaced), 0);
    EXPECT_EQ(replaced.st_ino, made.st_ino);
    EXPECT_EQ(replaced.st_mode & 07777, 0640u);
    EXPECT_EQ(ReadAll(path), kSampleRecord + kSampleRecord);

    std::filesystem::create_symlink(path, link);
    auto r = WriteEventLogFile(link, Rows({}));
    EXPECT_EQ(r.kind, EventLogResult::kRefused);
    EXPECT_EQ(r.refusal, SaveRefusal::kSymbolicLink);
    EXPECT_EQ(ReadAll(path), kSampleRecord + kSampleRecord);
    std::filesystem::remove(path);
    r = WriteEventLogFile(link, Rows({kSample}));
    EXPECT_EQ(r.refusal, SaveRefusal::kSymbolicLink);
    EXPECT_FALSE(std::filesystem::exists(path));
    std::filesystem::remove(link);
}
