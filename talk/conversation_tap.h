#pragma once
// The conversation counts of each batch of rows: the capture thread counts
// into the batch's ConversationDeltas, and the handler gets them on the
// interface thread as the batch's rows reach the list.
#include <cstdint>
#include <functional>
#include <span>
#include <string_view>

#include "capture/batch_tap.h"
#include "talk/conversation.h"

class ConversationTap final : public BatchTap {
  public:
    using Handler = std::function<void(const ConversationDeltas&)>;
    explicit ConversationTap(Handler handler) : handler_(std::move(handler)) {}

    void Begin(std::string_view selectedLocal) override;
    bool Add(int batch, std::span<const uint8_t> datagram, int64_t timeNs) override;
    void Inserted(int batch) override;
    void Clear(int batch) override { deltas_[batch].Clear(); }

  private:
    Handler handler_;
    uint32_t selectedLocal_ = 0;  // host order; 0: none
    ConversationDeltas deltas_[2];
};
