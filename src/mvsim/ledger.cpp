#include "ledger.h"

#include <algorithm>
#include <cstdio>

namespace mvsim {

// Indexed by MVSIM_FATE_*. A frame counts as lost when the device had it
// to give and the host never could have had it: no buffer to hold it, a
// trigger it could not take, no picture to show. Frames cut off by the
// host's own stop or by the device going away are told apart, not lost.
const FateInfo kFates[kFateCount] = {
    {"pending", false},         {"delivered", false},
    {"no free buffer", true},   {"trigger during exposure", true},
    {"dropped at stop", false}, {"device unplugged", false},
    {"no callback", false},     {"no picture left", true},
};

long long toNs(std::chrono::steady_clock::time_point t)
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
}

long long nowNs()
{
    return toNs(std::chrono::steady_clock::now());
}

Ledger::Id Ledger::open(MvsimLedgerEntry entry, unsigned* number)
{
    std::lock_guard<std::mutex> lock(mutex_);
    entry.frameNumber = ++lastNumber_;
    entry.fate = MVSIM_FATE_PENDING;
    if (number)
        *number = entry.frameNumber;
    if (ring_.size() < capacity_) {
        // A ring of the default size at the first event, so that it does
        // not move its entries at every doubling (a larger one grows on).
        if (ring_.empty())
            ring_.reserve(std::min<std::size_t>(capacity_, 65536));
        ring_.push_back(entry);
        return first_ + ring_.size() - 1;
    }
    ring_[oldest_] = entry;
    if (++oldest_ == ring_.size())
        oldest_ = 0;
    return first_++ + ring_.size();
}

MvsimLedgerEntry* Ledger::findLocked(Id id)
{
    if (id < first_ || id - first_ >= ring_.size())
        return nullptr;  // fell out of the ring
    return &atLocked(static_cast<std::size_t>(id - first_));
}

void Ledger::stamp(Id id, long long exposureStart, long long readoutEnd, long long deliveryStart, long long deliveryEnd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    MvsimLedgerEntry* e = findLocked(id);
    if (!e)
        return;
    if (exposureStart)
        e->exposureStart = exposureStart;
    if (readoutEnd)
        e->readoutEnd = readoutEnd;
    if (deliveryStart)
        e->deliveryStart = deliveryStart;
    if (deliveryEnd)
        e->deliveryEnd = deliveryEnd;
}

void Ledger::settle(Id id, unsigned fate)
{
    std::lock_guard<std::mutex> lock(mutex_);
    settleLocked(findLocked(id), fate);
}

void Ledger::settleDelivered(Id id, long long deliveryStart, long long deliveryEnd)
{
    std::lock_guard<std::mutex> lock(mutex_);
    MvsimLedgerEntry* e = findLocked(id);
    if (e) {
        e->deliveryStart = deliveryStart;
        e->deliveryEnd = deliveryEnd;
    }
    settleLocked(e, MVSIM_FATE_DELIVERED);
}

// `e` is null for an event that fell out of the ring: it is still counted.
void Ledger::settleLocked(MvsimLedgerEntry* e, unsigned fate)
{
    if (e) {
        if (e->fate != MVSIM_FATE_PENDING)
            return;
        e->fate = fate;
    }
    if (fate < kFateCount)
        ++counts_[fate];
}

void Ledger::markPictureWait(Id id)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (MvsimLedgerEntry* e = findLocked(id))
        e->waitedForPicture = 1;
}

void Ledger::restartNumbers()
{
    std::lock_guard<std::mutex> lock(mutex_);
    lastNumber_ = 0;
}

Ledger::Id Ledger::nextId()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return first_ + ring_.size();
}

std::size_t Ledger::size()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return ring_.size();
}

bool Ledger::entry(std::size_t i, MvsimLedgerEntry* out)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (i >= ring_.size())
        return false;
    *out = atLocked(i);
    return true;
}

MvsimFrameFates Ledger::fates()
{
    std::lock_guard<std::mutex> lock(mutex_);
    MvsimFrameFates f{};
    f.delivered = counts_[MVSIM_FATE_DELIVERED];
    f.noBuffer = counts_[MVSIM_FATE_NO_BUFFER];
    f.missed = counts_[MVSIM_FATE_MISSED];
    f.dropped = counts_[MVSIM_FATE_DROPPED];
    f.unplugged = counts_[MVSIM_FATE_UNPLUGGED];
    f.noCallback = counts_[MVSIM_FATE_NO_CALLBACK];
    f.noPicture = counts_[MVSIM_FATE_NO_PICTURE];
    return f;
}

void Ledger::fateCounts(unsigned long long* counts, unsigned capacity)
{
    std::lock_guard<std::mutex> lock(mutex_);
    for (unsigned f = 0; f < capacity && f < kFateCount; ++f)
        counts[f] = counts_[f];
}

MvsimCounters Ledger::counters()
{
    std::lock_guard<std::mutex> lock(mutex_);
    MvsimCounters c{};
    c.delivered = counts_[MVSIM_FATE_DELIVERED];
    c.produced = counts_[MVSIM_FATE_DELIVERED] + counts_[MVSIM_FATE_NO_CALLBACK];
    for (unsigned f = 0; f < kFateCount; ++f) {
        if (kFates[f].countsAsLost)
            c.lost += counts_[f];
    }
    return c;
}

const char* fateName(unsigned fate)
{
    return fate < kFateCount ? kFates[fate].name : "unknown";
}

const char* causeName(unsigned cause)
{
    switch (cause) {
    case MVSIM_CAUSE_FREE_RUN:
        return "free-run";
    case MVSIM_CAUSE_LINE0:
        return "line0";
    case MVSIM_CAUSE_SOFTWARE:
        return "software";
    case MVSIM_CAUSE_REQUEST:
        return "request";
    default:
        return "unknown";
    }
}

bool Ledger::writeCsv(const std::string& path, Id first, const std::string& model, const std::string& serial)
{
    std::vector<MvsimLedgerEntry> rows;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        for (Id id = std::max(first, first_); id < first_ + ring_.size(); ++id)
            rows.push_back(atLocked(static_cast<std::size_t>(id - first_)));
    }
    std::FILE* file = std::fopen(path.c_str(), "a");
    if (!file)
        return false;
    std::fseek(file, 0, SEEK_END);
    if (std::ftell(file) == 0)
        std::fputs(
            "model,serial,frame,cause,trigger_ns,exposure_start_ns,readout_end_ns,delivery_start_ns,"
            "delivery_end_ns,picture,fate\n",
            file);
    for (const MvsimLedgerEntry& e : rows)
        std::fprintf(file, "%s,%s,%u,%s,%lld,%lld,%lld,%lld,%lld,%u,%s\n", model.c_str(), serial.c_str(), e.frameNumber,
                     causeName(e.cause), e.triggerTime, e.exposureStart, e.readoutEnd, e.deliveryStart, e.deliveryEnd,
                     e.pictureIndex, fateName(e.fate));
    return std::fclose(file) == 0;
}

}  // namespace mvsim
