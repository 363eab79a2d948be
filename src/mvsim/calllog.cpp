#include "calllog.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace mvsim {
namespace calllog {

namespace {

// A ring of the newest entries: a host that grabs or cycles for hours must
// not grow the process by its calls. Entry 0 is the oldest one kept.
struct Log {
    std::mutex mutex;
    std::vector<std::string> entries;  // reserved at the first entry, then written round
    std::size_t first = 0;             // index of the oldest entry once the ring is full
    unsigned long long dropped = 0;    // oldest entries overwritten since the last clear
};

// Never destroyed: an acquisition thread may still run while the process
// exits, and the log must outlive it.
Log& log()
{
    static Log* instance = new Log;
    return *instance;
}

}  // namespace

void append(std::string entry)
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (l.entries.size() < capacity) {
        if (l.entries.capacity() == 0)
            l.entries.reserve(capacity);
        l.entries.push_back(std::move(entry));
        return;
    }
    l.entries[l.first] = std::move(entry);
    l.first = (l.first + 1) % capacity;
    ++l.dropped;
}

int size()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    return static_cast<int>(l.entries.size());
}

unsigned long long dropped()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    return l.dropped;
}

int entry(int index, char* buffer, std::size_t cap)
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    if (index < 0 || static_cast<std::size_t>(index) >= l.entries.size())
        return -1;
    const std::string& text = l.entries[(l.first + static_cast<std::size_t>(index)) % l.entries.size()];
    if (buffer && cap > 0) {
        const std::size_t n = std::min(cap - 1, text.size());
        std::memcpy(buffer, text.data(), n);
        buffer[n] = '\0';
    }
    return static_cast<int>(text.size());
}

void clear()
{
    Log& l = log();
    std::lock_guard<std::mutex> lock(l.mutex);
    // Gives the memory back: a cleared log is as small as a new one.
    std::vector<std::string>().swap(l.entries);
    l.first = 0;
    l.dropped = 0;
}

std::string arg(unsigned value)
{
    return std::to_string(value);
}

std::string arg(int value)
{
    return std::to_string(value);
}

std::string arg(float value)
{
    char text[32];
    std::snprintf(text, sizeof text, "%g", static_cast<double>(value));
    return text;
}

std::string arg(const char* text)
{
    return text ? std::string(text) : std::string("null");
}

std::string arg(const void* pointer)
{
    return pointer ? "ptr" : "null";
}

}  // namespace calllog
}  // namespace mvsim
