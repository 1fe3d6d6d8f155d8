#include "alerts/alert_log.h"

void AlertLog::Add(Alert alert) {
    if (entries_.size() >= capacity_) {
        entries_.pop_front();
        ++dropped_;
    }
    entries_.push_back(std::move(alert));
}
