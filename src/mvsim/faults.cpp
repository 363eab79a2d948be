#include "faults.h"

#include <mutex>
#include <string>
#include <vector>

namespace mvsim {
namespace faults {

namespace {

struct Fault {
    std::string function;
    unsigned remaining;  // calls until it fires, this one included
    int code;
};

struct Faults {
    std::mutex mutex;
    std::vector<Fault> pending;
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
}

// Every pending fault of the function counts the call; when two fall on the
// same call, the one added first gives the code and both are used up.
bool take(const char* functionName, int* code)
{
    Faults& f = state();
    std::lock_guard<std::mutex> lock(f.mutex);
    bool fired = false;
    for (auto it = f.pending.begin(); it != f.pending.end();) {
        if (it->function == functionName && --it->remaining == 0) {
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

}  // namespace faults
}  // namespace mvsim
