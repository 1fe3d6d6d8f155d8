#include "history/usage_history.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <mutex>
#include <thread>

#include "history/usage_store.h"
#include "res/resource.h"
#include "res/string_table.h"

namespace {

// Texts from outside are kept, but not without end.
constexpr size_t kNameLimit = 256;
constexpr size_t kPathLimit = 4096;
constexpr size_t kAddressLimit = 64;

// The front of `text` within `limit` bytes, not cutting a UTF-8 character.
std::string Clip(const std::string& text, size_t limit) {
    if (text.size() <= limit)
        return text;
    size_t n = limit;
    while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
        --n;
    return text.substr(0, n);
}

int64_t SystemClock() {
    return static_cast<int64_t>(time(nullptr));
}

int64_t LocalOffset(int64_t utc) {
    const time_t t = static_cast<time_t>(utc);
    tm local{};
    return localtime_r(&t, &local) ? local.tm_gmtoff : 0;
}

// mkdir -p, each folder made private (the XDG data folders are the user's own).
void MakeFolders(const std::string& path) {
    for (size_t at = path.find('/', 1); at != std::string::npos; at = path.find('/', at + 1))
        mkdir(path.substr(0, at).c_str(), 0700);
    mkdir(path.c_str(), 0700);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

bool DiskFull(int rc, int systemErrno) {
    // With SQLite's own VFS a refused write past a file size limit (EFBIG) or a
    // quota is an I/O error; for the user it is the same as a full disk.
    return (rc & 0xff) == SQLITE_FULL || systemErrno == ENOSPC || systemErrno == EFBIG ||
           systemErrno == EDQUOT;
}

}  // namespace

struct UsageHistory::Impl {
    Options options;
    std::string path;
    OpenResult opened;
    std::atomic<HistoryState> state{HistoryState::kClosed};
    std::atomic<uint64_t> dropped{0};

    std::mutex mutex;  // guards what follows, up to the store
    std::condition_variable wake;
    std::condition_variable written;
    PendingRows pending;
    std::unordered_map<int64_t, size_t> keysPerMinute;
    std::string message;
    uint64_t requested = 0;  // flushes asked for
    uint64_t done = 0;       // flushes written
    bool quit = false;
    Retention keep;

    UsageStore store;  // the writer thread's alone once it runs
    int lockFd = -1;
    std::thread thread;

    int64_t Now() const { return options.clock(); }
    void Open();
    bool OpenStore();
    void Run();
    void Write(const PendingRows& rows, const Retention& keep);
    void Stop(std::string text);
};

void UsageHistory::Impl::Stop(std::string text) {
    std::lock_guard lock(mutex);
    state = HistoryState::kStopped;
    message = std::move(text);
    pending.clear();
    keysPerMinute.clear();
}

// Opens the store; a damaged or foreign file goes aside and a new one starts.
bool UsageHistory::Impl::OpenStore() {
    UsageStore::Opened how = store.Open(path);
    if (how == UsageStore::Opened::kDamaged) {
        store.Close();
        const std::string aside = MoveHistoryAside(path, Now());
        if (aside.empty()) {
            opened.message = FormatUtf8(IDS_HISTORY_CANNOT_OPEN, {path, std::strerror(errno)});
            return false;
        }
        opened.movedAside = aside;
        opened.message = FormatUtf8(IDS_HISTORY_MOVED_ASIDE, {path, aside});
        how = store.Open(path);
    }
    if (how == UsageStore::Opened::kNewer) {
        opened.message = FormatUtf8(IDS_HISTORY_NEWER, {path});
        return false;
    }
    if (how != UsageStore::Opened::kOk) {
        opened.message = FormatUtf8(IDS_HISTORY_CANNOT_OPEN, {path, store.Error()});
        return false;
    }
    return true;
}

void UsageHistory::Impl::Open() {
    if (path.empty()) {
        opened.message = FormatUtf8(IDS_HISTORY_CANNOT_OPEN, {"usage.sqlite", "HOME"});
        state = HistoryState::kStopped;
        message = opened.message;
        return;
    }
    if (const std::string folder = FolderOf(path); !folder.empty())
        MakeFolders(folder);
    // One writer per file, enforced by a lock file beside it rather than by
    // SQLite's exclusive locking mode: that mode would shut the second
    // instance out of reading too, and a flock dies with its process, so a
    // killed writer leaves no stale lock.
    const std::string lockPath = path + ".lock";
    lockFd = open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (lockFd < 0) {
        opened.message = FormatUtf8(IDS_HISTORY_CANNOT_OPEN, {lockPath, std::strerror(errno)});
        state = HistoryState::kStopped;
        message = opened.message;
        return;
    }
    if (flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
        opened.ok = errno == EWOULDBLOCK;
        opened.message =
            opened.ok ? std::string(LoadStringUtf8(IDS_HISTORY_READ_ONLY))
                      : FormatUtf8(IDS_HISTORY_CANNOT_OPEN, {lockPath, std::strerror(errno)});
        state = opened.ok ? HistoryState::kReadOnly : HistoryState::kStopped;
        message = opened.message;
        return;
    }
    if (!OpenStore()) {
        state = HistoryState::kStopped;
        message = opened.message;
        store.Close();
        return;
    }
    opened.ok = true;
    state = HistoryState::kRecording;
    thread = std::thread([this] { Run(); });
}

void UsageHistory::Impl::Write(const PendingRows& rows, const Retention& retention) {
    int rc = store.Write(rows, Now(), retention, options.utcOffset);
    if ((rc & 0xff) == SQLITE_CORRUPT || (rc & 0xff) == SQLITE_NOTADB) {
        // Damaged under us (a disk fault, another program): aside, and the
        // minute goes into the new file.
        store.Close();
        const std::string aside = MoveHistoryAside(path, Now());
        if (!aside.empty() && store.Open(path) == UsageStore::Opened::kOk) {
            {
                std::lock_guard lock(mutex);
                message = FormatUtf8(IDS_HISTORY_MOVED_ASIDE, {path, aside});
            }
            rc = store.Write(rows, Now(), retention, options.utcOffset);
        }
    }
    if (rc == SQLITE_OK)
        return;
    if ((rc & 0xff) == SQLITE_BUSY || (rc & 0xff) == SQLITE_LOCKED) {
        // Someone else holds the file for longer than the busy timeout (a
        // tool opened it): this minute is lost, the next one tries again.
        dropped += rows.size();
        return;
    }
    const int systemErrno = store.SystemErrno();
    std::string text = DiskFull(rc, systemErrno)
                           ? std::string(LoadStringUtf8(IDS_HISTORY_DISK_FULL))
                           : FormatUtf8(IDS_HISTORY_WRITE_FAILED, {path, store.Error()});
    dropped += rows.size();
    store.Close();
    Stop(std::move(text));
}

void UsageHistory::Impl::Run() {
    store.LoadKnown();
    std::unique_lock lock(mutex);
    for (;;) {
        // Once a minute, or at once when a flush asks.
        wake.wait_for(lock, std::chrono::minutes(1), [&] { return quit || requested > done; });
        const uint64_t target = requested;
        PendingRows rows;
        rows.swap(pending);
        keysPerMinute.clear();
        const Retention retention = keep;
        lock.unlock();
        // Written even when empty: the retention then follows an idle clock.
        if (state == HistoryState::kRecording)
            Write(rows, retention);
        rows = PendingRows();
        // Read while a flush still waits, as the write read it: a test's
        // clock moves only between flushes.
        const int64_t writtenAt = Now();
        lock.lock();
        done = target;
        written.notify_all();
        if (quit)
            break;
        // After the minute's waiters are released and outside the lock, so
        // that neither Flush nor Add waits for the copy.
        if (store.CheckpointDue(writtenAt)) {
            lock.unlock();
            store.Checkpoint(writtenAt);
            lock.lock();
        }
    }
}

UsageHistory::UsageHistory(Options options) : impl_(std::make_unique<Impl>()) {
    Impl& d = *impl_;
    if (!options.clock)
        options.clock = SystemClock;
    if (!options.utcOffset)
        options.utcOffset = LocalOffset;
    d.keep = {options.keepDays, options.keepHourDays, options.keepMinuteHours};
    d.path = options.path.empty() ? DefaultHistoryPath() : options.path;
    d.options = std::move(options);
    d.Open();
}

UsageHistory::~UsageHistory() {
    Impl& d = *impl_;
    if (d.thread.joinable()) {
        {
            std::lock_guard lock(d.mutex);
            d.quit = true;
            ++d.requested;
        }
        d.wake.notify_one();
        d.thread.join();
    }
    d.store.Close();
    if (d.lockFd >= 0)
        close(d.lockFd);  // and the lock with it
}

const UsageHistory::OpenResult& UsageHistory::Opened() const {
    return impl_->opened;
}
const std::string& UsageHistory::Path() const {
    return impl_->path;
}
HistoryState UsageHistory::State() const {
    return impl_->state.load();
}
uint64_t UsageHistory::Dropped() const {
    return impl_->dropped.load();
}

std::string UsageHistory::StateMessage() const {
    std::lock_guard lock(impl_->mutex);
    return impl_->message;
}

void UsageHistory::SetRetention(int keepDays, int keepHourDays) {
    std::lock_guard lock(impl_->mutex);
    impl_->keep.keepDays = keepDays;
    impl_->keep.keepHourDays = keepHourDays;
}

void UsageHistory::Add(const UsageSample& sample) {
    Impl& d = *impl_;
    if (d.state != HistoryState::kRecording) {
        ++d.dropped;
        return;
    }
    PendingKey key{sample.minute,
                   Clip(sample.program, kNameLimit),
                   Clip(sample.executable, kPathLimit),
                   Clip(sample.remoteAddress, kAddressLimit),
                   Clip(sample.localAddress, kAddressLimit),
                   sample.protocol};
    std::lock_guard lock(d.mutex);
    if (d.state != HistoryState::kRecording) {
        ++d.dropped;
        return;
    }
    auto it = d.pending.find(key);
    if (it == d.pending.end()) {
        size_t& keys = d.keysPerMinute[key.minute];
        if (keys >= d.options.maxKeysPerMinute) {
            // Past the cap the minute keeps each program's total, not its hosts.
            key.remote = std::string(kOtherHosts);
            key.local.clear();
            key.protocol = 0;
            it = d.pending.find(key);
        }
        if (it == d.pending.end()) {
            if (d.pending.size() >= d.options.maxPendingKeys) {
                ++d.dropped;
                return;
            }
            ++keys;
            const bool other = key.remote == kOtherHosts;
            it = d.pending.emplace(std::move(key), PendingValue{}).first;
            if (other)
                it->second.remoteName = LoadStringUtf8(IDS_HISTORY_OTHER_HOSTS);
        }
    }
    if (!sample.remoteName.empty() && it->first.remote != kOtherHosts)
        it->second.remoteName = Clip(sample.remoteName, kNameLimit);
    it->second.counts += sample.counts;
}

void UsageHistory::Flush() {
    Impl& d = *impl_;
    if (!d.thread.joinable())
        return;
    std::unique_lock lock(d.mutex);
    const uint64_t target = ++d.requested;
    d.wake.notify_one();
    d.written.wait(lock, [&] { return d.done >= target; });
}

std::string DefaultHistoryPath() {
    std::string base;
    if (const char* xdg = getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/') {
        base = xdg;
    } else {
        const char* home = getenv("HOME");
        std::string h = home && home[0] == '/' ? home : "";
        if (h.empty()) {
            if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir)
                h = pw->pw_dir;
        }
        if (h.empty())
            return {};
        base = h + "/.local/share";
    }
    return base + "/quorvelan/usage.sqlite";
}
