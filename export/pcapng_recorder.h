#pragma once
// Records every datagram the capture thread receives into a pcapng file.
//
// The capture thread only copies each datagram's block into memory chunks
// made at Start (no allocation, no system call); a writer thread of the
// recorder's own writes each chunk once it is full, and whatever has come
// every half second, so the file is never more than about half a second
// behind while datagrams come and a crash of the program loses little. A disk
// that stalls stalls only the writer: while every chunk waits to be written,
// datagrams are left out of the file and counted as missed instead of holding
// the capture back.
//
// Start makes the file (one section, one interface block); Close, when a
// capture stops, leaves it complete. A later capture with recording still on
// calls Resume, which reopens the same file and appends an interface block
// for that capture to the same section, which tcpdump, tshark and libpcap all
// read through (a second section would be misread by tshark 4.0 and libpcap
// refuses one of another link type).
//
// A write failure (full disk, I/O error, read-only remount, quota), or the
// file found removed (ENOENT), ends the recording: the file is cut back to its last complete block,
// the fault is kept for the interface thread, and later Appends do nothing. The capture itself is
// never disturbed.
#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "capture/counters.h"
#include "capture/sink.h"
#include "export/pcapng.h"

class PcapngRecorder final : public DatagramSink {
  public:
    // Memory for the file's next bytes: eight chunks of 1 MiB, about 0.9 s
    // of 100,000 small datagrams a second.
    static constexpr size_t kChunkBytes = size_t{1} << 20;
    static constexpr int kChunks = 8;
    // How long a datagram may stay in memory while no chunk fills.
    static constexpr int64_t kFlushEveryNs = 500'000'000;

    PcapngRecorder();
    ~PcapngRecorder() override;
    PcapngRecorder(const PcapngRecorder&) = delete;
    PcapngRecorder& operator=(const PcapngRecorder&) = delete;

    // Interface thread, while not recording. Makes `path` as OpenForSave
    // does and starts recording the capture on `interface`; the file stays
    // locked while it is open. Counters start again from 0.
    PcapngResult Start(const std::string& path, const PcapngInterface& interface);
    // Interface thread, while not recording: records a later capture into the
    // file Start made, after what is in it. Refused, with nothing written,
    // when the path no longer leads to that file (same device and inode) or
    // its size is not what this recorder left (kNotTheRecordedFile), when
    // another writer holds it locked (kRefused), and after a recording ended
    // in a fault (that fault again).
    PcapngResult Resume(const PcapngInterface& interface);
    // Any thread but the capture thread: stops recording, writes what is left
    // and closes the file, complete and flushed to the disk. Waits for an
    // Append under way to finish. A write error found by the flush or at
    // close counts as a fault.
    void Close();
    bool Recording() const { return recording_.load(std::memory_order_relaxed); }
    // A file was made and may be resumed.
    bool HasFile() const { return !path_.empty(); }
    const std::string& Path() const { return path_; }
    // The file Start made, while HasFile.
    FileIdentity File() const { return {device_, inode_}; }

    // Capture thread: one datagram, IPv4 header first, captured at `timeNs`
    // (nanoseconds since the epoch). Does nothing while not recording.
    void Append(int64_t timeNs, const uint8_t* bytes, uint32_t length) override;

    // Any thread, without a lock.
    uint64_t DatagramsWritten() const { return datagrams_.Get(); }        // in the file, whole
    uint64_t BytesWritten() const { return fileBytes_.Get(); }            // the file's size
    uint64_t DatagramsMissed() const { return missed_.Get(); }            // left out: no room
    int Fault() const { return fault_.load(std::memory_order_relaxed); }  // errno, 0 for none
    // Interface thread: true once after a fault, to show one message.
    bool TakeFaultNotice() { return faultNotice_.exchange(false, std::memory_order_relaxed); }
    // The fault as a result, for SaveErrorMessage.
    PcapngResult FaultResult() const;

  private:
    struct Chunk {
        std::atomic<uint32_t> used{0};    // bytes of whole blocks, set by the capture thread
        std::atomic<bool> sealed{false};  // the capture thread has moved on
        uint8_t* bytes = nullptr;
    };

    PcapngResult Begin(int fd, bool header, const PcapngInterface& interface);
    void WriterLoop();
    // Writer thread: 0, or the errno that ended the recording.
    int WriteOut(const uint8_t* bytes, size_t size);
    void EndWithFault(int error);
    void WakeWriter();

    std::unique_ptr<uint8_t[]> memory_;
    Chunk chunks_[kChunks];

    // Written by the interface thread while no writer thread runs.
    std::string path_;
    uint64_t device_ = 0, inode_ = 0;
    uint32_t interfaces_ = 0;  // interface blocks in the file
    int fd_ = -1;              // owned by the writer thread while it runs
    uint64_t fileEnd_ = 0;     // the same
    uint64_t datagramsInFile_ = 0;
    std::thread writer_;

    // Capture thread.
    uint64_t fillSeq_ = 0;  // chunks taken so far; the current one is fillSeq_ % kChunks
    uint32_t fillUsed_ = 0;
    bool haveChunk_ = false;
    uint32_t interfaceId_ = 0;

    std::atomic<bool> recording_{false};
    std::atomic<bool> appending_{false};  // the capture thread is inside Append
    std::atomic<bool> closing_{false};
    std::atomic<uint64_t> drainSeq_{0};  // chunks written out and free again
    std::atomic<uint32_t> wake_{0};      // futex word the writer sleeps on

    SingleWriterCount datagrams_;  // writer thread
    SingleWriterCount fileBytes_;  // writer thread
    SingleWriterCount missed_;     // capture thread
    std::atomic<int> fault_{0};
    std::atomic<bool> faultNotice_{false};
};
