#include "faults.h"

#include "exports.h"
#include "guard.h"

#include <atomic>
#include <cstdio>
#include <exception>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <vector>

namespace mvsim {
namespace faults {

namespace {

struct Fault {
    std::string function;
    unsigned remaining;  // calls until it fires, this one included
    int code;
    bool throws = false;  // throws std::bad_alloc instead of failing with code
};

struct Faults {
    std::mutex mutex;
    std::vector<Fault> pending;
    std::atomic<bool> anyThrow{false};  // spares every call the lock when no throw is pending
};

Faults& state()
{
    static Faults* instance = new Faults;
    return *instance;
}

}  // namespace

void add(const char* functionName, unsigned nth, int code)
{
    if (!functionName)
        return;
    Faults& f = state();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.pending.push_back({functionName, nth == 0 ? 1u : nth, code});
}

void clear()
{
    Faults& f = state();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.pending.clear();
    f.anyThrow = false;
}

// Every pending fault of the function counts the call; when two fall on the
// same call, the one added first gives the code and both are used up.
bool take(const char* functionName, int* code)
{
    Faults& f = state();
    std::lock_guard<std::mutex> lock(f.mutex);
    bool fired = false;
    for (auto it = f.pending.begin(); it != f.pending.end();) {
        if (!it->throws && it->function == functionName && --it->remaining == 0) {
            if (!fired)
                *code = it->code;
            fired = true;
            it = f.pending.erase(it);
        } else {
            ++it;
        }
    }
    return fired;
}

void addThrow(const char* point, unsigned nth)
{
    if (!point)
        return;
    Faults& f = state();
    std::lock_guard<std::mutex> lock(f.mutex);
    f.pending.push_back({point, nth == 0 ? 1u : nth, 0, true});
    f.anyThrow = true;
}

void throwIfDue(const char* point)
{
    Faults& f = state();
    if (!f.anyThrow)
        return;
    bool fire = false;
    {
        std::lock_guard<std::mutex> lock(f.mutex);
        bool left = false;
        for (auto it = f.pending.begin(); it != f.pending.end();) {
            if (it->throws && it->function == point && --it->remaining == 0) {
                fire = true;
                it = f.pending.erase(it);
                continue;
            }
            left = left || it->throws;
            ++it;
        }
        f.anyThrow = left;
    }
    if (fire)
        throw std::bad_alloc();
}

}  // namespace faults

int reportFailure(const char* function) noexcept
{
    // Only constant texts and the exception's own: no allocation here, as
    // memory may be what ran out.
    try {
        throw;
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "mvsim: %s: out of memory\n", function);
        return MVSIM_E_RESOURCE;
    } catch (const std::system_error& e) {
        std::fprintf(stderr, "mvsim: %s: out of resources: %s\n", function, e.what());
        return MVSIM_E_RESOURCE;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "mvsim: %s: internal error: %s\n", function, e.what());
        return MVSIM_E_UNKNOWN;
    } catch (...) {
        std::fprintf(stderr, "mvsim: %s: internal error\n", function);
        return MVSIM_E_UNKNOWN;
    }
}

}  // namespace mvsim
