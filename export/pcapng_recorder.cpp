#include "export/pcapng_recorder.h"

#include <fcntl.h>
#include <linux/futex.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <system_error>
#include <vector>

#include "capture/clock.h"
#include "export/save_open.h"

namespace {

static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
static_assert(PcapngRecorder::kChunkBytes >= pcapng::kMaxPacketBlock);

uint32_t* FutexWord(std::atomic<uint32_t>& word) {
    return reinterpret_cast<uint32_t*>(&word);
}

// Sleeps while `word` holds `seen`, at most `timeoutNs`.
void FutexWait(std::atomic<uint32_t>& word, uint32_t seen, int64_t timeoutNs) {
    timespec ts{};
    ts.tv_sec = static_cast<time_t>(timeoutNs / 1000000000);
    ts.tv_nsec = static_cast<long>(timeoutNs % 1000000000);
    syscall(SYS_futex, FutexWord(word), FUTEX_WAIT_PRIVATE, seen, &ts, nullptr, 0);
}

void FutexWake(std::atomic<uint32_t>& word) {
    syscall(SYS_futex, FutexWord(word), FUTEX_WAKE_PRIVATE, INT_MAX, nullptr, nullptr, 0);
}

PcapngResult Failed(PcapngResult::Kind kind, int error) {
    PcapngResult r;
    r.kind = kind;
    r.error = error;
    return r;
}

}  // namespace

PcapngRecorder::PcapngRecorder() = default;

PcapngRecorder::~PcapngRecorder() {
    Close();
}

PcapngResult PcapngRecorder::Start(const std::string& path, const PcapngInterface& interface) {
    Close();
    path_.clear();
    interfaces_ = 0;
    fileEnd_ = 0;
    datagramsInFile_ = 0;
    datagrams_.Set(0);
    fileBytes_.Set(0);
    missed_.Set(0);
    fault_.store(0, std::memory_order_relaxed);
    faultNotice_.store(false, std::memory_order_relaxed);

    // Locked from here until Close: a save onto it, ours or another
    // program's, is refused rather than cut it short.
    const SaveFile file = OpenForSave(path);
    if (file.fd < 0) {
        return NotOpened(file);
    }
    PcapngResult result = Begin(file.fd, true, interface);
    if (!result.ok()) {
        RemoveIfMade(path, file);  // as every save: a failed start leaves nothing
    }
    if (result.ok()) {
        path_ = path;
        device_ = file.identity.device;
        inode_ = file.identity.inode;
    }
    return result;
}

PcapngResult PcapngRecorder::Resume(const PcapngInterface& interface) {
    Close();
    if (path_.empty()) {
        return Failed(PcapngResult::kOpenFailed, EINVAL);
    }
    if (const int error = Fault()) {
        return FaultResult();
    }
    // Looked at before it is opened: opening a device put there may act on it.
    struct stat seen {};
    if (::lstat(path_.c_str(), &seen) == 0 && (seen.st_dev != device_ || seen.st_ino != inode_)) {
        return Failed(PcapngResult::kNotTheRecordedFile, 0);
    }
    // Never created here: a file that has gone stays gone. Nor followed
    // through a link, nor waited on as a pipe: whatever is at the path then
    // is not the recording.
    const int fd = ::open(path_.c_str(), O_WRONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0) {
        return errno == ELOOP || errno == ENXIO ? Failed(PcapngResult::kNotTheRecordedFile, 0)
                                                : Failed(PcapngResult::kOpenFailed, errno);
    }
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return Failed(PcapngResult::kOpenFailed, error);
    }
    // Another file put at the path, or ours changed since we left it: adding
    // blocks to it would write into something that is not our recording.
    if (st.st_dev != device_ || st.st_ino != inode_ || !S_ISREG(st.st_mode) ||
        static_cast<uint64_t>(st.st_size) != fileEnd_) {
        ::close(fd);
        return Failed(PcapngResult::kNotTheRecordedFile, 0);
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        ::close(fd);
        PcapngResult r;
        r.kind = PcapngResult::kRefused;
        r.refusal = SaveRefusal::kLockedByAnother;
        return r;
    }
    (void)::fcntl(fd, F_SETFL, 0);
    return Begin(fd, false, interface);
}

PcapngResult PcapngRecorder::Begin(int fd, bool header, const PcapngInterface& interface) {
    std::vector<uint8_t> head;
    if (header) {
        pcapng::AppendSectionHeader(head);
    }
    pcapng::AppendInterfaceBlock(head, interface);
    fd_ = fd;
    if (const int error = WriteOut(head.data(), head.size())) {
        ::close(fd_);
        fd_ = -1;
        return WriteFailed(error);
    }

    if (!memory_) {
        memory_ = std::make_unique<uint8_t[]>(kChunkBytes * kChunks);
        // Touched here, so the capture thread does not take the page faults.
        std::memset(memory_.get(), 0, kChunkBytes * kChunks);
    }
    for (int i = 0; i < kChunks; ++i) {
        chunks_[i].bytes = memory_.get() + kChunkBytes * static_cast<size_t>(i);
        chunks_[i].used.store(0, std::memory_order_relaxed);
        chunks_[i].sealed.store(false, std::memory_order_relaxed);
    }
    fillSeq_ = 0;
    fillUsed_ = 0;
    haveChunk_ = false;
    interfaceId_ = interfaces_;
    drainSeq_.store(0, std::memory_order_relaxed);
    closing_.store(false, std::memory_order_relaxed);
    try {
        writer_ = std::thread(&PcapngRecorder::WriterLoop, this);
    } catch (const std::system_error& e) {
        ::close(fd_);
        fd_ = -1;
        // The interface block is in the file already but is referred to by nothing.
        ++interfaces_;
        return Failed(PcapngResult::kOtherWriteError, e.code().value());
    }
    ++interfaces_;
    PcapngResult result;
    result.datagrams = datagramsInFile_;
    recording_.store(true, std::memory_order_seq_cst);
    return result;
}

void PcapngRecorder::Close() {
    // Either the capture thread sees recording_ cleared when it enters
    // Append, or this sees it inside and waits: both are sequentially consistent.
    recording_.store(false, std::memory_order_seq_cst);
    while (appending_.load(std::memory_order_seq_cst)) {
        std::this_thread::yield();
    }
    if (writer_.joinable()) {
        closing_.store(true, std::memory_order_release);
        WakeWriter();
        writer_.join();
    }
    if (fd_ >= 0) {
        // Complete means on the disk, blocks and size. A delayed write error
        // (full disk on a network file system) shows here or at close.
        int error = ::fsync(fd_) != 0 ? errno : 0;
        if (::close(fd_) != 0 && error == 0 && errno != EINTR) {
            error = errno;
        }
        if (error != 0 && Fault() == 0) {
            fault_.store(error, std::memory_order_relaxed);
            faultNotice_.store(true, std::memory_order_relaxed);
        }
        fd_ = -1;
    }
    memory_.reset();
}

PcapngResult PcapngRecorder::FaultResult() const {
    const int error = Fault();
    if (error == 0) {
        PcapngResult ok;
        ok.datagrams = DatagramsWritten();
        return ok;
    }
    PcapngResult r = WriteFailed(error);
    r.datagrams = DatagramsWritten();
    return r;
}

void PcapngRecorder::Append(int64_t timeNs, const uint8_t* bytes, uint32_t length) {
    if (!recording_.load(std::memory_order_relaxed)) {
        return;  // the usual case when nothing records: no fence
    }
    appending_.store(true, std::memory_order_seq_cst);
    if (!recording_.load(std::memory_order_seq_cst)) {
        appending_.store(false, std::memory_order_release);
        return;
    }
    const uint32_t captured = std::min(length, pcapng::kSnapLength);
    const auto need = static_cast<uint32_t>(pcapng::PacketBlockSize(captured));
    if (haveChunk_ && fillUsed_ + need > kChunkBytes) {
        chunks_[fillSeq_ % kChunks].sealed.store(true, std::memory_order_release);
        ++fillSeq_;
        haveChunk_ = false;
        WakeWriter();  // once a megabyte
    }
    if (!haveChunk_) {
        if (fillSeq_ - drainSeq_.load(std::memory_order_acquire) >= kChunks) {
            // Every chunk waits for the disk: leave this one out rather
            // than hold the capture back.
            missed_.Add();
            appending_.store(false, std::memory_order_release);
            return;
        }
        haveChunk_ = true;
        fillUsed_ = 0;
    }
    Chunk& chunk = chunks_[fillSeq_ % kChunks];
    pcapng::PutPacketBlock(chunk.bytes + fillUsed_, interfaceId_, timeNs, bytes, length);
    fillUsed_ += need;
    chunk.used.store(fillUsed_, std::memory_order_release);
    appending_.store(false, std::memory_order_release);
}

void PcapngRecorder::WakeWriter() {
    wake_.fetch_add(1, std::memory_order_release);
    FutexWake(wake_);
}

int PcapngRecorder::WriteOut(const uint8_t* bytes, size_t size) {
    const int error = pcapng::WriteBlocks(fd_, bytes, size, &fileEnd_, &datagramsInFile_);
    datagrams_.Set(datagramsInFile_);
    fileBytes_.Set(fileEnd_);
    return error;
}

void PcapngRecorder::EndWithFault(int error) {
    recording_.store(false, std::memory_order_relaxed);
    fault_.store(error, std::memory_order_relaxed);
    faultNotice_.store(true, std::memory_order_relaxed);
    // Not held open until someone turns the recording off: the disk may be
    // about to be removed.
    ::close(fd_);
    fd_ = -1;
}

void PcapngRecorder::WriterLoop() {
    uint64_t seq = 0;      // the chunk being written out: seq % kChunks
    uint32_t written = 0;  // of it
    int64_t flushedAt = SteadyClockNs();
    for (;;) {
        const uint32_t wakeSeen = wake_.load(std::memory_order_acquire);
        // Seen before the chunk: once Close has set it, every block the
        // capture thread finished is visible below.
        const bool closing = closing_.load(std::memory_order_acquire);
        Chunk& chunk = chunks_[seq % kChunks];
        // Sealed first: its final length was stored before it.
        const bool sealed = chunk.sealed.load(std::memory_order_acquire);
        const uint32_t used = chunk.used.load(std::memory_order_acquire);
        const int64_t now = SteadyClockNs();
        const bool flushDue = now - flushedAt >= kFlushEveryNs;
        if (used > written && (sealed || closing || flushDue)) {
            if (const int error = WriteOut(chunk.bytes + written, used - written)) {
                EndWithFault(error);
                return;
            }
            written = used;
        }
        if (flushDue) {
            flushedAt = now;
            // A file removed under the recording (or its folder) takes every
            // later write without an error, and keeps none of it.
            struct stat st {};
            if (::fstat(fd_, &st) == 0 && st.st_nlink == 0) {
                EndWithFault(ENOENT);
                return;
            }
        }
        if (sealed) {
            chunk.used.store(0, std::memory_order_relaxed);
            chunk.sealed.store(false, std::memory_order_relaxed);
            written = 0;
            drainSeq_.store(++seq, std::memory_order_release);
            continue;
        }
        if (closing) {
            return;
        }
        FutexWait(wake_, wakeSeen, std::max<int64_t>(flushedAt + kFlushEveryNs - now, 1000000));
    }
}
