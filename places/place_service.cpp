#include "places/place_service.h"

PlaceService::PlaceService() : PlaceService(Options{}) {}

PlaceService::PlaceService(Options options) : options_(options), database_(options.database) {}

PlaceService::~PlaceService() {
    {
        std::lock_guard lock(mutex_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable())
        thread_.join();
}

std::optional<Place> PlaceService::Lookup(const IpAddress& address) {
    if (std::optional<Place> reserved = ReservedPlace(address))
        return reserved;
    std::unique_lock lock(mutex_);
    if (database_ != nullptr) {
        const PlaceDatabase* db = database_;
        lock.unlock();
        // The database's own lock, brief: it never waits behind a lookup.
        if (std::optional<Place> known = db->Cached(address))
            return known;
        lock.lock();
    }
    if (stopping_ || queued_.contains(address) || queue_.size() >= options_.maxQueued)
        return std::nullopt;
    queue_.push_back(address);
    queued_.insert(address);
    if (!thread_.joinable())
        thread_ = std::thread([this] { Run(); });
    lock.unlock();
    wake_.notify_one();
    return std::nullopt;
}

uint64_t PlaceService::Changes() const {
    std::lock_guard lock(mutex_);
    return changes_;
}

bool PlaceService::WaitIdle(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    return idle_.wait_for(lock, limit, [this] { return queue_.empty() && !busy_; });
}

void PlaceService::Run() {
    const PlaceDatabase* db = options_.database != nullptr ? options_.database : &InstalledPlaces();
    std::unique_lock lock(mutex_);
    database_ = db;
    for (;;) {
        wake_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
        if (stopping_)
            return;
        const IpAddress address = queue_.front();
        queue_.pop_front();
        busy_ = true;
        lock.unlock();
        db->Find(address);  // kept by the database, read back through Cached()
        lock.lock();
        queued_.erase(address);
        busy_ = false;
        ++changes_;
        if (queue_.empty())
            idle_.notify_all();
    }
}
