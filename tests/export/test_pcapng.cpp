// pcapng files as libpcap, tcpdump and the program's own file endpoint read
// them: a whole-list save, a recording over two captures, a recording that
// fills its disk, and how files are made or replaced.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pcap/pcap.h>
#include <sched.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "capture/endpoint.h"
#include "export/pcapng.h"
#include "export/pcapng_recorder.h"
#include "export/save_fault.h"
#include "tests/export/pcap_readback.h"
#include "tests/small_tmpfs.h"

namespace fs = std::filesystem;

namespace readback {
// Found by the test framework next to the type it prints.
void PrintTo(const Packet& p, std::ostream* os) {
    *os << "{" << p.timeNs << " ns, " << p.bytes.size() << " bytes}";
}
}  // namespace readback

namespace {

using readback::Packet;
using ReadBack = readback::File;

// Looks like an IPv4 datagram (version, total length) so that the file
// endpoint takes it whole; the rest is noise.
std::vector<uint8_t> Datagram(size_t length, std::mt19937& random) {
    std::vector<uint8_t> d(length);
    for (auto& b : d)
        b = static_cast<uint8_t>(random());
    d[0] = 0x45;
    if (length >= 4) {
        d[2] = static_cast<uint8_t>(length >> 8);
        d[3] = static_cast<uint8_t>(length);
    }
    return d;
}

std::vector<Packet> Packets(const std::vector<size_t>& lengths, int64_t firstNs, int64_t stepNs,
                            unsigned seed) {
    std::mt19937 random(seed);
    std::vector<Packet> out;
    for (size_t i = 0; i < lengths.size(); ++i)
        out.push_back({firstNs + static_cast<int64_t>(i) * stepNs, Datagram(lengths[i], random)});
    return out;
}

ReadBack ReadWithLibpcap(const std::string& path) {
    ReadBack r = readback::WithLibpcap(path);
    EXPECT_EQ(r.linkType, DLT_IPV4);
    EXPECT_TRUE(r.whole);
    return r;
}

ReadBack ReadWithTcpdump(const std::string& path) {
    return readback::WithTcpdump(path);
}

ReadBack ReadWithFileEndpoint(const std::string& path) {
    ReadBack r;
    auto endpoint = MakeFileEndpoint(path);
    if (endpoint->Open("") != 0) {
        r.error = endpoint->ErrorText();
        return r;
    }
    std::vector<uint8_t> buffer(65536);
    for (;;) {
        const int n = endpoint->Receive(buffer.data(), static_cast<int>(buffer.size()));
        if (n < 0)
            break;
        r.packets.push_back({endpoint->LastCaptureTimeNs(),
                             std::vector<uint8_t>(buffer.begin(), buffer.begin() + n)});
    }
    r.clean = endpoint->Exhausted() && endpoint->Fault().kind == SourceFault::kNone;
    endpoint->Close();
    return r;
}

// The file's blocks, checked as a reader would: lengths at both ends equal,
// a multiple of four, and the last one ending exactly at the end of the file.
struct Block {
    uint32_t type = 0;
    std::vector<uint8_t> body;
};

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    uint32_t v = 0;
    std::memcpy(&v, b.data() + at, 4);
    return v;
}

std::vector<Block> Blocks(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> f(std::istreambuf_iterator<char>(in), {});
    std::vector<Block> blocks;
    size_t at = 0;
    while (at < f.size()) {
        EXPECT_GE(f.size() - at, 12u) << "a piece of a block at " << at;
        if (f.size() - at < 12)
            break;
        const uint32_t length = U32(f, at + 4);
        EXPECT_TRUE(length >= 12 && length % 4 == 0 && length <= f.size() - at) << at;
        if (!(length >= 12 && length % 4 == 0 && length <= f.size() - at))
            break;
        EXPECT_EQ(U32(f, at + length - 4), length) << at;
        blocks.push_back(
            {U32(f, at), std::vector<uint8_t>(f.begin() + static_cast<long>(at) + 8,
                                              f.begin() + static_cast<long>(at) + length - 4)});
        at += length;
    }
    return blocks;
}

// An option of an interface block, empty when absent.
std::vector<uint8_t> InterfaceOption(const Block& idb, uint16_t code) {
    size_t at = 8;  // link type, reserved, snap length
    while (at + 4 <= idb.body.size()) {
        uint16_t c = 0, len = 0;
        std::memcpy(&c, idb.body.data() + at, 2);
        std::memcpy(&len, idb.body.data() + at + 2, 2);
        if (c == 0 || at + 4 + len > idb.body.size())
            break;
        if (c == code)
            return {idb.body.begin() + static_cast<long>(at) + 4,
                    idb.body.begin() + static_cast<long>(at) + 4 + len};
        at += 4 + ((len + 3u) & ~3u);
    }
    return {};
}

class TempDir {
  public:
    TempDir() {
        std::string pattern = (fs::temp_directory_path() / "qv-pcapng-XXXXXX").string();
        path_ = mkdtemp(pattern.data()) ? pattern : "";
    }
    ~TempDir() {
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove_all(path_, ignored);
        }
    }
    std::string File(const char* name) const { return path_ + "/" + name; }
    const std::string& Path() const { return path_; }

  private:
    std::string path_;
};

std::vector<PcapngDatagram> View(const std::vector<Packet>& packets) {
    std::vector<PcapngDatagram> v;
    for (const auto& p : packets)
        v.push_back({p.timeNs, p.bytes});
    return v;
}

void Record(PcapngRecorder& r, const std::vector<Packet>& packets) {
    for (const auto& p : packets)
        r.Append(p.timeNs, p.bytes.data(), static_cast<uint32_t>(p.bytes.size()));
}

PcapngInterface Interface(const char* name, std::array<uint8_t, 4> address) {
    PcapngInterface i;
    i.name = name;
    i.hasAddress = true;
    i.address = address;
    i.netmask = {255, 255, 255, 0};
    return i;
}

}  // namespace

TEST(Pcapng, SavedDatagramsReadBackByteForByteAndTimeForTime) {
    TempDir dir;
    const auto path = dir.File("list.pcapng");
    // Every padding (lengths 1, 2, 3 and 0 mod 4), the least and the largest
    // datagram; nanosecond parts, the epoch itself, equal times, and the last
    // second tcpdump shows (early 2038).
    auto packets = Packets({1, 20, 61, 64, 1500, 65535, 22, 40, 3}, 1700000000'123456789, 1, 7);
    packets[2].timeNs = 0;
    packets[3].timeNs = packets[4].timeNs;
    packets[5].timeNs = 2147483647'999999999;
    packets[6].timeNs = 1'000000001;

    // The interface block of the loopback address, as LocalInterface finds it.
    const auto r = WritePcapngFile(path, LocalInterface("127.0.0.1"), View(packets));
    ASSERT_TRUE(r.ok()) << r.error;
    EXPECT_EQ(r.datagrams, packets.size());

    for (const auto& [reader, read] : {std::pair{"libpcap", ReadWithLibpcap(path)},
                                       std::pair{"tcpdump", ReadWithTcpdump(path)}}) {
        SCOPED_TRACE(reader);
        EXPECT_TRUE(read.clean) << read.error;
        EXPECT_EQ(read.packets, packets);
    }
    // The program's own reader: the same datagrams in the same order, with
    // the same times to the nanosecond.
    const auto own = ReadWithFileEndpoint(path);
    EXPECT_TRUE(own.clean) << own.error;
    EXPECT_EQ(own.packets, packets);

    const auto blocks = Blocks(path);
    ASSERT_EQ(blocks.size(), 2 + packets.size());
    EXPECT_EQ(blocks[0].type, 0x0A0D0D0Au);
    ASSERT_EQ(blocks[1].type, 1u);
    EXPECT_EQ(U32(blocks[1].body, 0), 228u);  // link type, reserved 0
    EXPECT_EQ(InterfaceOption(blocks[1], 2), (std::vector<uint8_t>{'l', 'o'}));
    EXPECT_EQ(InterfaceOption(blocks[1], 4), (std::vector<uint8_t>{127, 0, 0, 1, 255, 0, 0, 0}));
    EXPECT_EQ(InterfaceOption(blocks[1], 9), (std::vector<uint8_t>{9}));
    // An address no interface holds keeps a /32 mask and no name; no address, neither.
    const auto gone = LocalInterface("203.0.113.77");
    EXPECT_TRUE(gone.hasAddress && gone.name.empty());
    EXPECT_EQ(gone.netmask, (std::array<uint8_t, 4>{255, 255, 255, 255}));
    EXPECT_FALSE(LocalInterface("10.0.0").hasAddress);

    // An empty list is a file with no packets, not an error.
    ASSERT_TRUE(WritePcapngFile(path, {}, {}).ok());
    const auto empty = ReadWithLibpcap(path);
    EXPECT_TRUE(empty.clean) << empty.error;
    EXPECT_TRUE(empty.packets.empty());
}

// Recording a capture, then a later one into the same file: every datagram of
// both, read back whole, each capture under its own interface.
TEST(PcapngRecorder, TwoCapturesReadBackWholeAndAnotherFileIsNeverAppendedTo) {
    TempDir dir;
    const auto path = dir.File("rec.pcapng");
    // Each capture spans a few chunks but stays within the chunks the
    // recorder holds, so none is missed however slow the writer thread is.
    std::vector<size_t> lengths;
    for (int i = 0; i < 3000; ++i)
        lengths.push_back(i % 100 == 0 ? 65535 : static_cast<size_t>(20 + i % 700));
    const auto first = Packets(lengths, 1700000000'000000001, 333, 1);
    const auto second = Packets(lengths, 1700000100'000000007, 777, 2);

    PcapngRecorder rec;
    ASSERT_TRUE(rec.Start(path, Interface("eth0", {10, 0, 0, 5})).ok());
    Record(rec, first);
    rec.Close();
    EXPECT_EQ(rec.DatagramsWritten(), first.size());
    EXPECT_EQ(rec.BytesWritten(), fs::file_size(path));
    rec.Append(1, first[1].bytes.data(), 20);  // between captures: nothing

    ASSERT_TRUE(rec.Resume(Interface("wlan0", {192, 168, 7, 9})).ok());
    Record(rec, second);
    rec.Close();
    EXPECT_EQ(rec.DatagramsMissed(), 0u);
    EXPECT_EQ(rec.Fault(), 0);
    EXPECT_FALSE(rec.TakeFaultNotice());

    auto all = first;
    all.insert(all.end(), second.begin(), second.end());
    EXPECT_EQ(rec.DatagramsWritten(), all.size());
    EXPECT_EQ(rec.BytesWritten(), fs::file_size(path));
    for (const auto& read : {ReadWithLibpcap(path), ReadWithTcpdump(path)}) {
        EXPECT_TRUE(read.clean) << read.error;
        EXPECT_EQ(read.packets.size(), all.size());
        EXPECT_TRUE(read.packets == all);
    }
    // One section; the second capture's packets refer to the second interface.
    const auto blocks = Blocks(path);
    ASSERT_EQ(blocks.size(), 3 + all.size());
    EXPECT_EQ(blocks[0].type, 0x0A0D0D0Au);
    EXPECT_EQ(blocks[1].type, 1u);
    EXPECT_EQ(blocks[2 + first.size()].type, 1u);
    EXPECT_EQ(InterfaceOption(blocks[2 + first.size()], 2),
              (std::vector<uint8_t>{'w', 'l', 'a', 'n', '0'}));
    EXPECT_EQ(U32(blocks[2].body, 0), 0u);
    EXPECT_EQ(U32(blocks.back().body, 0), 1u);

    // The file changed since the recorder left it, or another file now has
    // its name: refused, and that file is left as it is.
    const auto size = fs::file_size(path);
    std::ofstream(path, std::ios::app) << "x";
    EXPECT_EQ(rec.Resume({}).kind, PcapngResult::kNotTheRecordedFile);
    EXPECT_EQ(fs::file_size(path), size + 1);
    fs::resize_file(path, size);
    const auto other = dir.File("other");
    std::ofstream(other) << "someone else's";
    fs::rename(other, path);
    const auto refused = rec.Resume({});
    EXPECT_EQ(refused.kind, PcapngResult::kNotTheRecordedFile);
    EXPECT_FALSE(rec.Recording());
    EXPECT_EQ(fs::file_size(path), 14u);
    EXPECT_NE(SaveErrorMessage(refused, path).find(path), std::string::npos);
    fs::remove(path);
    EXPECT_EQ(rec.Resume({}).kind, PcapngResult::kOpenFailed);
    EXPECT_FALSE(fs::exists(path));
    // Nor followed through a link put there, nor waited on as a pipe.
    ASSERT_EQ(symlink(other.c_str(), path.c_str()), 0);
    EXPECT_EQ(rec.Resume({}).kind, PcapngResult::kNotTheRecordedFile);
    fs::remove(path);
    ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
    EXPECT_EQ(rec.Resume({}).kind, PcapngResult::kNotTheRecordedFile);
    fs::remove(path);
}

// Turning recording off while the capture thread appends: what reached the
// file is whole and counted, and the thread goes on undisturbed.
TEST(PcapngRecorder, TurnedOffWhileTheCaptureThreadAppends) {
    TempDir dir;
    const auto path = dir.File("off.pcapng");
    PcapngRecorder rec;
    ASSERT_TRUE(rec.Start(path, {}).ok());
    std::atomic<uint64_t> appended{0};
    std::atomic<bool> stop{false};
    std::thread capture([&] {
        std::mt19937 random(3);
        const auto d = Datagram(200, random);
        int64_t t = 1700000000'000000000;
        while (!stop.load()) {
            rec.Append(t++, d.data(), static_cast<uint32_t>(d.size()));
            appended.fetch_add(1);
            if (appended.load() % 512 == 0)
                std::this_thread::yield();  // lets the writer thread in on one core
        }
    });
    while (appended.load() < 20000)
        std::this_thread::yield();
    rec.Close();
    const uint64_t written = rec.DatagramsWritten();
    const auto size = fs::file_size(path);
    const uint64_t at = appended.load();
    while (appended.load() < at + 1000)
        std::this_thread::yield();
    stop = true;
    capture.join();

    EXPECT_GT(written, 0u);
    EXPECT_LE(written + rec.DatagramsMissed(), appended.load());
    EXPECT_EQ(rec.DatagramsWritten(), written);
    EXPECT_EQ(fs::file_size(path), size);
    const auto read = ReadWithLibpcap(path);
    EXPECT_TRUE(read.clean) << read.error;
    EXPECT_EQ(read.packets.size(), written);
}

// A full disk mid-recording (a small tmpfs, mounted in a mount namespace of
// this process's own): the file keeps every block that reached it whole, the
// counts say so, and the recording stops; a whole-list save that fills the
// disk likewise.
TEST(PcapngRecorder, FullDiskLeavesAReadableFileAndStopsRecording) {
    TempDir dir;
    if (const std::string refused = MountSmallTmpfs(dir.Path(), 256 << 10); !refused.empty()) {
        ASSERT_FALSE(MustMountTmpfs()) << refused;
        GTEST_SKIP() << refused;
    }
    const auto path = dir.File("full.pcapng");

    PcapngRecorder rec;
    ASSERT_TRUE(rec.Start(path, Interface("eth0", {10, 0, 0, 5})).ok());
    std::mt19937 random(5);
    const auto d = Datagram(1000, random);
    // Two megabytes: more than the disk holds, less than the recorder's chunks.
    for (int i = 0; i < 2000; ++i)
        rec.Append(1700000000'000000000 + i, d.data(), static_cast<uint32_t>(d.size()));
    // The writer thread meets the full disk on the first chunk it writes.
    for (int i = 0; i < 6000 && rec.Recording(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_FALSE(rec.Recording());
    EXPECT_EQ(rec.Fault(), ENOSPC);
    EXPECT_TRUE(rec.TakeFaultNotice());
    EXPECT_FALSE(rec.TakeFaultNotice());
    EXPECT_EQ(rec.FaultResult().kind, PcapngResult::kDiskFull);

    const uint64_t written = rec.DatagramsWritten();
    const uint64_t bytes = rec.BytesWritten();
    for (int i = 0; i < 100; ++i)
        rec.Append(1800000000'000000000, d.data(), static_cast<uint32_t>(d.size()));
    rec.Close();
    EXPECT_EQ(rec.DatagramsWritten(), written);
    EXPECT_EQ(rec.DatagramsMissed(), 0u);
    EXPECT_EQ(rec.Resume({}).kind, PcapngResult::kDiskFull);
    EXPECT_GT(written, 100u);
    EXPECT_EQ(fs::file_size(path), bytes);
    for (const auto& read : {ReadWithLibpcap(path), ReadWithTcpdump(path)}) {
        EXPECT_TRUE(read.clean) << read.error;
        EXPECT_EQ(read.packets.size(), written);
    }
    Blocks(path);

    // The same for a save of the whole list over the recording, in place; a
    // file the save made is gone again.
    const auto packets = Packets(std::vector<size_t>(500, 1500), 1700000000'000000000, 1000, 9);
    const auto save = WritePcapngFile(path, {}, View(packets));
    EXPECT_EQ(save.kind, PcapngResult::kDiskFull);
    EXPECT_EQ(save.error, ENOSPC);
    EXPECT_GT(save.datagrams, 0u);
    const auto read = ReadWithTcpdump(path);
    EXPECT_TRUE(read.clean) << read.error;
    EXPECT_EQ(read.packets.size(), save.datagrams);
    EXPECT_TRUE(std::equal(read.packets.begin(), read.packets.end(), packets.begin()));
    EXPECT_EQ(SaveErrorMessage(save, "/mnt/a.pcapng"), "在存取 /mnt/a.pcapng 时磁盘已满。");
    const auto made = dir.File("made.pcapng");
    EXPECT_EQ(WritePcapngFile(made, {}, View(packets)).kind, PcapngResult::kDiskFull);
    EXPECT_FALSE(fs::exists(made));
    umount2(dir.Path().c_str(), MNT_DETACH);
}

// What a save or a recording finds at its path. A new file is the user's
// alone; a file of the user's is replaced in place, keeping its mode; anything
// else is refused with nothing written, and whatever was there stays as it was.
TEST(Pcapng, WritesOnlyIntoTheUsersOwnRegularFiles) {
    TempDir dir;
    std::mt19937 random(11);
    const auto d = Datagram(64, random);
    const std::vector<PcapngDatagram> one = {{1700000000'000000000, d}};
    PcapngRecorder rec;
    std::optional<FileIdentity> busy;

    using Write = std::function<PcapngResult(const std::string&)>;
    const Write save = [&](const std::string& p) { return WritePcapngFile(p, {}, one, busy); };
    const Write record = [&](const std::string& p) {
        auto r = rec.Start(p, {});
        rec.Append(one[0].timeNs, d.data(), static_cast<uint32_t>(d.size()));
        rec.Close();
        return r;
    };
    const auto content = [](const std::string& p) {
        std::ifstream in(p, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    const auto lstatOf = [](const std::string& p) {
        struct stat st {};
        EXPECT_EQ(lstat(p.c_str(), &st), 0) << p;
        return st;
    };
    int n = 0;
    for (const Write& write : {save, record}) {
        const bool isSave = n++ == 0;
        SCOPED_TRACE(isSave ? "save" : "recorder");
        const auto path = dir.File(isSave ? "a.pcapng" : "b.pcapng");
        const auto other = dir.File(isSave ? "a.other" : "b.other");
        const mode_t mask = umask(0);  // the mode asked for is what the file gets
        ASSERT_TRUE(write(path).ok());
        umask(mask);
        const struct stat made = lstatOf(path);
        EXPECT_EQ(made.st_mode & 07777, 0600u);

        // The user's file, open to the group: replaced in place, mode kept.
        std::ofstream(path, std::ios::trunc) << std::string(100000, 'z');
        chmod(path.c_str(), 0640);
        ASSERT_TRUE(write(path).ok());
        const struct stat replaced = lstatOf(path);
        EXPECT_EQ(replaced.st_ino, made.st_ino);
        EXPECT_EQ(replaced.st_mode & 07777, 0640u);
        const auto read = ReadWithLibpcap(path);
        EXPECT_TRUE(read.clean) << read.error;
        EXPECT_EQ(read.packets.size(), 1u);
        const std::string saved = content(path);

        // Each hostile path: what is put there, and what the save must say.
        struct Case {
            const char* what;
            std::function<bool()> make;  // false: cannot be set up here
            SaveRefusal refusal;
        };
        std::ofstream(other) << "someone else's";
        const std::vector<Case> cases = {
            {"a link to a file of the user's",
             [&] { return fs::remove(path), symlink(other.c_str(), path.c_str()) == 0; },
             SaveRefusal::kSymbolicLink},
            {"a link to nothing yet",
             [&] { return fs::remove(path), symlink((other + ".new").c_str(), path.c_str()) == 0; },
             SaveRefusal::kSymbolicLink},
            {"a pipe nobody reads",
             [&] { return fs::remove(path), mkfifo(path.c_str(), 0600) == 0; },
             SaveRefusal::kNotRegularFile},
            {"a folder", [&] { return fs::remove(path), mkdir(path.c_str(), 0700) == 0; },
             SaveRefusal::kNotRegularFile},
            {"another user's file, writable by all",
             [&] {
                 fs::remove(path);
                 std::ofstream(path) << "someone else's";
                 return geteuid() == 0 && chown(path.c_str(), 65534, 65534) == 0 &&
                        chmod(path.c_str(), 0666) == 0;
             },
             SaveRefusal::kOtherUsersFile},
        };
        for (const Case& c : cases) {
            SCOPED_TRACE(c.what);
            if (!c.make()) {
                continue;  // another user's file needs root
            }
            const struct stat before = lstatOf(path);
            const auto r = write(path);
            EXPECT_EQ(r.kind, PcapngResult::kRefused);
            EXPECT_EQ(r.refusal, c.refusal);
            const struct stat after = lstatOf(path);
            EXPECT_EQ(after.st_ino, before.st_ino);
            EXPECT_EQ(after.st_mode, before.st_mode);
            EXPECT_EQ(after.st_uid, before.st_uid);
            EXPECT_EQ(after.st_size, before.st_size);
            EXPECT_EQ(content(other), "someone else's");
            EXPECT_FALSE(fs::exists(other + ".new"));
            EXPECT_FALSE(rec.Recording());
            fs::remove(path);
        }

        // Held locked by another writer, or the file being recorded: not
        // even emptied.
        std::ofstream(path) << saved;
        const int holder = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        ASSERT_EQ(flock(holder, LOCK_EX), 0);
        auto r = write(path);
        EXPECT_EQ(r.refusal, SaveRefusal::kLockedByAnother);
        close(holder);
        EXPECT_EQ(content(path), saved);
        const struct stat st = lstatOf(path);
        busy = FileIdentity{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
        if (isSave) {
            r = write(path);
            EXPECT_EQ(r.kind, PcapngResult::kRefused);
            EXPECT_EQ(r.refusal, SaveRefusal::kBeingRecorded);
            EXPECT_EQ(content(path), saved);
        }
        busy.reset();

        // Nothing opened, nothing made.
        const auto missing = dir.File("no-such-dir/x.pcapng");
        r = write(missing);
        EXPECT_EQ(r.kind, PcapngResult::kOpenFailed);
        EXPECT_EQ(r.error, ENOENT);
        EXPECT_FALSE(fs::exists(missing));
        EXPECT_EQ(SaveErrorMessage(r, missing), missing + " 包含一个无效路径。");
    }
}

// The full-disk test runs as a test of its own: when all it selects are
// skipped, the run reports CTest's skip code.
int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    const int status = RUN_ALL_TESTS();
    const auto* unit = testing::UnitTest::GetInstance();
    if (status == 0 && unit->test_to_run_count() > 0 &&
        unit->skipped_test_count() == unit->test_to_run_count()) {
        return 77;
    }
    return status;
}
