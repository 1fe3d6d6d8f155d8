#pragma once
// What else a batch of rows carries: the capture thread gives the tap every
// datagram that passed the filter into the batch it is filling, and the
// interface thread tells it when that batch went into the list. The session
// keeps two batches (one filled while the other is in flight), so the tap
// keeps two stores, named by the batch's index, 0 or 1. The session orders
// the two threads' use of each store: no lock is needed.
#include <cstdint>
#include <span>
#include <string_view>

class BatchTap {
  public:
    virtual ~BatchTap() = default;
    // Interface thread, before a capture thread starts: both stores are empty
    // again; `selectedLocal` is the dotted local address, or empty.
    virtual void Begin(std::string_view selectedLocal) = 0;
    // Capture thread: one datagram of batch `batch`, captured at `timeNs`.
    // Must never allocate or wait. True once the store is nearly full: the
    // batch is then handed over at once.
    virtual bool Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) = 0;
    // Interface thread, in the same task as the batch's rows and after them,
    // before anyone reads the rows' figures.
    virtual void Inserted(int batch) = 0;
    // The thread that owns the batch (the capture thread, or the interface
    // thread once it has gone): the batch was emptied with its rows.
    virtual void Clear(int batch) = 0;
    // Capture thread: how many datagrams so far brought news worth reading
    // at once rather than at the batch's end (for a conversation tap, one
    // that began a conversation not seen for a while). The capture thread
    // lets traffic wake it within a batch period while such news comes, and
    // sleeps through a steady stream that brings none.
    virtual uint64_t News() const { return 0; }
};
