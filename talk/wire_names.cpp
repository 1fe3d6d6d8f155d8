#include "talk/wire_names.h"

#include "res/resource.h"
#include "res/string_table.h"
#include "wire/dns_message.h"
#include "wire/hello_names.h"

std::string NameSourceText(NameSource source) {
    switch (source) {
        case NameSource::kDnsAnswer:
            return std::string(LoadStringUtf8(IDS_NAME_FROM_DNS));
        case NameSource::kTls:
            return std::string(LoadStringUtf8(IDS_NAME_FROM_TLS));
        case NameSource::kHttp:
            return std::string(LoadStringUtf8(IDS_NAME_FROM_HTTP));
        case NameSource::kReverse:
            return std::string(LoadStringUtf8(IDS_NAME_FROM_REVERSE));
        case NameSource::kNone:
            break;
    }
    return {};
}

std::string ApplicationText(AppProtocol app) {
    switch (app) {
        case AppProtocol::kDns:
            return std::string(LoadStringUtf8(IDS_APP_DNS));
        case AppProtocol::kTls:
            return std::string(LoadStringUtf8(IDS_APP_TLS));
        case AppProtocol::kQuic:
            return std::string(LoadStringUtf8(IDS_APP_QUIC));
        case AppProtocol::kHttp:
            return std::string(LoadStringUtf8(IDS_APP_HTTP));
        case AppProtocol::kSsh:
            return std::string(LoadStringUtf8(IDS_APP_SSH));
        case AppProtocol::kUnknown:
            break;
    }
    return {};
}

WireNames::WireNames(size_t answers, size_t connections)
    : answers_(answers), byAddress_(answers), connections_(connections) {}

void WireNames::ForgetConnections() {
    if (connections_.Size() != 0)
        ++changes_;
    connections_.Clear();
}

void WireNames::Answer(const ConversationKey& key, const IpAddress& address,
                       const std::string& name) {
    std::string& forLocal = answers_.Put(AnswerKey{key.localAddr, address});
    std::string& forAny = byAddress_.Put(address);
    if (forLocal != name || forAny != name)
        ++changes_;
    forLocal = name;
    forAny = name;
}

void WireNames::Connect(const ConversationKey& key, AppProtocol app, std::string name,
                        NameSource source) {
    Connection& c = connections_.Put(key);
    if (c.app == AppProtocol::kUnknown && app != AppProtocol::kUnknown) {
        c.app = app;
        ++changes_;
    }
    // The first name a connection gave is its name.
    if (c.source == NameSource::kNone && source != NameSource::kNone) {
        c.name = std::move(name);
        c.source = source;
        ++changes_;
    }
}

void WireNames::Take(const ConversationDeltas& deltas) {
    for (const ConversationDeltas::Sample& s : deltas.Samples()) {
        const std::span<const uint8_t> bytes = deltas.SampleBytes(s);
        const PacketBytes payload(bytes.data(), static_cast<int>(bytes.size()));
        std::string name;
        switch (s.app) {
            case AppProtocol::kDns: {
                DnsResponse r;
                const bool ok = s.key.protocol == kProtocolTcp
                                    ? ParseDnsResponseOverTcp(payload, &r)
                                    : ParseDnsResponse(payload, &r);
                if (ok && !r.question.empty()) {
                    for (const IpAddress& a : r.addresses)
                        Answer(s.key, a, r.question);
                }
                Connect(s.key, s.app, {}, NameSource::kNone);
                break;
            }
            case AppProtocol::kTls:
                if (ParseTlsServerName(payload, &name))
                    Connect(s.key, s.app, std::move(name), NameSource::kTls);
                else
                    Connect(s.key, s.app, {}, NameSource::kNone);
                break;
            case AppProtocol::kHttp:
                if (ParseHttpHost(payload, &name))
                    Connect(s.key, s.app, std::move(name), NameSource::kHttp);
                else
                    Connect(s.key, s.app, {}, NameSource::kNone);
                break;
            case AppProtocol::kQuic:
            case AppProtocol::kSsh:
                Connect(s.key, s.app, {}, NameSource::kNone);
                break;
            case AppProtocol::kUnknown:
                break;
        }
    }
}

std::string WireNames::Answered(const IpAddress& local, const IpAddress& remote) const {
    // Both found, so that both keep a name in use.
    const std::string* forLocal = answers_.Find(AnswerKey{local, remote});
    const std::string* forAny = byAddress_.Find(remote);
    if (forLocal != nullptr)
        return *forLocal;
    return forAny != nullptr ? *forAny : std::string();
}

SourcedName WireNames::Named(const ConversationKey& key) const {
    if (const Connection* c = connections_.Find(key); c && c->source != NameSource::kNone)
        return SourcedName{c->name, c->source};
    std::string answered = Answered(key.localAddr, key.remoteAddr);
    if (!answered.empty())
        return SourcedName{std::move(answered), NameSource::kDnsAnswer};
    return {};
}

AppProtocol WireNames::Application(const ConversationKey& key) const {
    const Connection* c = connections_.Find(key);
    return c ? c->app : AppProtocol::kUnknown;
}
