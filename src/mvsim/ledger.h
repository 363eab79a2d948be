// The ledger of a device: every frame event, from the tick or trigger that
// started it to its fate, and the frame numbers and counters that follow
// from it. The simulator's ground truth about what happened to each frame.
#ifndef MVSIM_LEDGER_H
#define MVSIM_LEDGER_H

#include "exports.h"

#include <chrono>
#include <cstddef>
#include <mutex>
#include <string>
#include <vector>

namespace mvsim {

// Steady-clock nanoseconds, the clock of the frame records' host time stamps.
long long nowNs();
long long toNs(std::chrono::steady_clock::time_point t);

// The table of fates, indexed by MVSIM_FATE_*: the name that the CSV file
// and the hosts print, and whether a frame of that fate counts as lost.
struct FateInfo {
    const char* name;
    bool countsAsLost;
};
constexpr unsigned kFateCount = MVSIM_FATE_NO_PICTURE + 1;
extern const FateInfo kFates[kFateCount];

// Thread-safe: written by the sensor and delivery threads of an acquisition
// and by callers that trigger or deliver frames. A leaf lock.
class Ledger {
public:
    using Id = unsigned long long;  // sequence of an event since the device was added

    explicit Ledger(std::size_t capacity) : capacity_(capacity ? capacity : 1) {}

    // A new frame event: takes the next frame number and records the entry
    // (its frameNumber is filled in). Returns the event's id.
    Id open(MvsimLedgerEntry entry, unsigned* number = nullptr);
    // Sets times of a pending event (fields that are non-zero in `times`).
    void stamp(Id id, long long exposureStart, long long readoutEnd, long long deliveryStart, long long deliveryEnd);
    // Gives a pending event its fate and counts it. Settling twice is ignored.
    void settle(Id id, unsigned fate);
    // A frame handed to the callback: its delivery times and its fate in one go.
    void settleDelivered(Id id, long long deliveryStart, long long deliveryEnd);
    // The frame's picture was not decoded in time: the sensor waited for it.
    void markPictureWait(Id id);
    // Frame numbers restart from 1 (a handle opened the device).
    void restartNumbers();

    // The next event's id: events from here on belong to what starts now.
    Id nextId();
    std::size_t size();
    bool entry(std::size_t i, MvsimLedgerEntry* out);
    MvsimFrameFates fates();
    // The count of each fate, by MVSIM_FATE_* value, up to capacity of them.
    void fateCounts(unsigned long long* counts, unsigned capacity);
    MvsimCounters counters();
    // Appends the entries from `first` on to the CSV file at `path` (with a
    // header line when the file is new or empty). False when it cannot.
    bool writeCsv(const std::string& path, Id first, const std::string& model, const std::string& serial);

private:
    MvsimLedgerEntry* findLocked(Id id);
    // The i-th oldest entry held (i < ring_.size()).
    MvsimLedgerEntry& atLocked(std::size_t i)
    {
        const std::size_t j = oldest_ + i;
        return ring_[j < ring_.size() ? j : j - ring_.size()];
    }
    void settleLocked(MvsimLedgerEntry* e, unsigned fate);

    std::mutex mutex_;
    const std::size_t capacity_;
    // A ring that grows to its capacity and then writes over its oldest
    // entry: once grown, a frame event costs no allocation.
    std::vector<MvsimLedgerEntry> ring_;
    std::size_t oldest_ = 0;  // index of the oldest entry in ring_
    Id first_ = 0;            // id of the oldest entry
    unsigned lastNumber_ = 0;
    unsigned long long counts_[kFateCount] = {};
};

// The fate's name in the CSV file and the tool's summaries.
const char* fateName(unsigned fate);
const char* causeName(unsigned cause);

}  // namespace mvsim

#endif  // MVSIM_LEDGER_H
