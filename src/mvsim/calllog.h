// The log of SDK calls that tests read through MVSIM_CallLog*.
#ifndef MVSIM_CALLLOG_H
#define MVSIM_CALLLOG_H

#include <cstddef>
#include <string>

namespace mvsim {
namespace calllog {

// The entries kept: the newest ones, older ones are overwritten.
constexpr std::size_t capacity = 16384;

// Leaf lock: callers may hold the registry lock, the log takes no other lock.
void append(std::string entry);
int size();
// Entries overwritten since the last clear.
unsigned long long dropped();
int entry(int index, char* buffer, std::size_t cap);
void clear();

// Argument texts in the log's format.
std::string arg(unsigned value);
std::string arg(int value);
std::string arg(float value);
std::string arg(const char* text);
std::string arg(const void* pointer);
inline std::string arg(const std::string& text)
{
    return text;
}

}  // namespace calllog
}  // namespace mvsim

#endif  // MVSIM_CALLLOG_H
