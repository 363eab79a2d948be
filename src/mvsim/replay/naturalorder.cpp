#include "naturalorder.h"

namespace mvsim {

namespace {

bool isDigit(char c)
{
    return c >= '0' && c <= '9';
}

// -1, 0 or 1 as a sorts before, with or after b by natural order.
int naturalCompare(const std::string& a, const std::string& b)
{
    std::size_t i = 0;
    std::size_t j = 0;
    while (i < a.size() && j < b.size()) {
        if (isDigit(a[i]) && isDigit(b[j])) {
            std::size_t ia = i;
            std::size_t jb = j;
            while (ia < a.size() && a[ia] == '0')
                ++ia;
            while (jb < b.size() && b[jb] == '0')
                ++jb;
            std::size_t ea = ia;
            std::size_t eb = jb;
            while (ea < a.size() && isDigit(a[ea]))
                ++ea;
            while (eb < b.size() && isDigit(b[eb]))
                ++eb;
            // Without leading zeros, the longer run is the larger number;
            // runs of one length compare digit by digit. No overflow for
            // runs of any length.
            if (ea - ia != eb - jb)
                return ea - ia < eb - jb ? -1 : 1;
            for (std::size_t k = 0; k < ea - ia; ++k)
                if (a[ia + k] != b[jb + k])
                    return a[ia + k] < b[jb + k] ? -1 : 1;
            if (ea - i != eb - j)  // same value: fewer leading zeros first
                return ea - i < eb - j ? -1 : 1;
            i = ea;
            j = eb;
            continue;
        }
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[j]);
        if (ca != cb)
            return ca < cb ? -1 : 1;
        ++i;
        ++j;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

}  // namespace

bool naturalLess(const std::string& a, const std::string& b)
{
    const int order = naturalCompare(a, b);
    if (order != 0)
        return order < 0;
    return a < b;
}

}  // namespace mvsim
