#pragma once
// Names read from the traffic itself, on the interface thread, from the
// samples the capture thread kept with each batch (ConversationTap): a DNS
// answer names the addresses it gave by the name that was asked for (the
// first of its alias chain), for the local address that asked; a TLS
// ClientHello's server name or an HTTP request's Host names the connection
// it opened. Also the application each conversation showed in its first
// bytes.
//
// Bounded: each store keeps at most its capacity, the least recently used
// dropped first. Names are lower-case host names (wire/hello_names.h), safe
// to show as they are.
#include <cstddef>
#include <cstdint>
#include <list>
#include <string>
#include <unordered_map>
#include <utility>

#include "talk/conversation.h"
#include "wire/app_protocol.h"
#include "wire/ip_address.h"

// Where a host name came from; the better sources first.
enum class NameSource : uint8_t { kNone, kTls, kHttp, kDnsAnswer, kReverse };

struct SourcedName {
    std::string name;
    NameSource source = NameSource::kNone;
};

// "DNS 应答", "TLS", "HTTP", "反向解析" (UTF-8); empty for kNone.
std::string NameSourceText(NameSource source);
// "DNS", "TLS", "QUIC", "HTTP", "SSH"; empty for kUnknown.
std::string ApplicationText(AppProtocol app);

// A map of at most `capacity` entries that drops the least recently used.
template <typename Key, typename Value, typename Hash>
class LruMap {
  public:
    explicit LruMap(size_t capacity) : capacity_(capacity == 0 ? 1 : capacity) {}
    // Null when absent; a hit becomes the most recently used.
    Value* Find(const Key& key) {
        const auto it = index_.find(key);
        if (it == index_.end())
            return nullptr;
        order_.splice(order_.begin(), order_, it->second);
        return &it->second->second;
    }
    // The entry of `key`, made (default) when absent, most recently used.
    Value& Put(const Key& key) {
        if (Value* v = Find(key))
            return *v;
        order_.emplace_front(key, Value{});
        index_.emplace(key, order_.begin());
        if (order_.size() > capacity_) {
            index_.erase(order_.back().first);
            order_.pop_back();
        }
        return order_.front().second;
    }
    void Clear() {
        order_.clear();
        index_.clear();
    }
    size_t Size() const { return order_.size(); }

  private:
    size_t capacity_;
    std::list<std::pair<Key, Value>> order_;  // most recently used first
    std::unordered_map<Key, typename std::list<std::pair<Key, Value>>::iterator, Hash> index_;
};

// An address a DNS answer gave, and the local address that asked.
struct AnswerKey {
    IpAddress local;
    IpAddress remote;
    friend bool operator==(const AnswerKey&, const AnswerKey&) = default;
};
struct AnswerKeyHash {
    uint64_t seed = RandomIpHashSeed();
    size_t operator()(const AnswerKey& k) const {
        return static_cast<size_t>(HashIp(k.local, seed) ^ MixHash(HashIp(k.remote, ~seed)));
    }
};

class WireNames {
  public:
    explicit WireNames(size_t answers = 8192, size_t connections = 16384);

    // Reads the batch's samples.
    void Take(const ConversationDeltas& deltas);
    // A new capture: its connections are new (answers stay, as reverse
    // names do).
    void ForgetConnections();

    // The name of the conversation's remote side from the wire: the
    // connection's own (SNI, Host), else the name a DNS answer gave its
    // address for its local address, else for any; kNone when there is none.
    SourcedName Named(const ConversationKey& key) const;
    // The name a DNS answer gave `remote`, asked from `local` (any local
    // address when none of `local`'s answers named it).
    std::string Answered(const IpAddress& local, const IpAddress& remote) const;
    AppProtocol Application(const ConversationKey& key) const;
    // Moves whenever a name or an application was learnt or changed.
    uint64_t Changes() const { return changes_; }
    size_t AnswersHeld() const { return byAddress_.Size(); }
    size_t ConnectionsHeld() const { return connections_.Size(); }

  private:
    struct Connection {
        std::string name;
        NameSource source = NameSource::kNone;
        AppProtocol app = AppProtocol::kUnknown;
    };
    void Answer(const ConversationKey& key, const IpAddress& address, const std::string& name);
    void Connect(const ConversationKey& key, AppProtocol app, std::string name, NameSource source);

    // Lookups move entries to the front: a name shown stays.
    mutable LruMap<AnswerKey, std::string, AnswerKeyHash> answers_;
    mutable LruMap<IpAddress, std::string, IpAddressHash> byAddress_;
    mutable LruMap<ConversationKey, Connection, ConversationKeyHash> connections_;
    uint64_t changes_ = 0;
};
