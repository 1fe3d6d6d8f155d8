#pragma once
// Feeds the alert engine from the conversations the interface thread holds:
// once a second, a sample of each conversation that moved, with its program
// once the owner is known. A capture file's traffic is not fed.
#include <cstdint>
#include <unordered_map>

#include "alerts/engine.h"
#include "ui/models/conversationtracker.h"

class AlertFeed {
  public:
    void Poll(const ConversationTracker& tracker, AlertEngine& engine, int64_t nowNs);

  private:
    struct Fed {
        uint64_t seen = 0;     // bytes at the last poll
        uint64_t counted = 0;  // bytes given to the engine with a program (or left out for good)
        bool settled = false;  // the owner lookup gave its answer
    };
    // By conversation id; only the conversations the table holds now.
    std::unordered_map<uint64_t, Fed> fed_;
};
