#include "kwhost/sdkcontrol.h"

#include <QtCore/QStringList>

#include <cstring>
#include <dlfcn.h>
#include <vector>

namespace kwhost {

namespace {

// A text of a device record, read within its field as the plug-in reads it.
QString fieldText(const unsigned char* field, size_t size)
{
    const char* text = reinterpret_cast<const char*>(field);
    return QString::fromUtf8(text, static_cast<int>(strnlen(text, size)));
}

template <typename Function> Function lookUp(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

SdkControl::SdkControl()
    : m_find(lookUp<FindDevice>("MVSIM_FindDevice")), m_state(lookUp<GetDeviceState>("MVSIM_GetDeviceState")),
      m_counters(lookUp<GetCounters>("MVSIM_GetCounters")), m_pulse(lookUp<PulseLine0>("MVSIM_PulseLine0")),
      m_enum(lookUp<EnumDevices>("MV_CC_EnumDevices")), m_fates(lookUp<GetFrameFates>("MVSIM_GetFrameFates")),
      m_timing(lookUp<GetDeviceTiming>("MVSIM_GetDeviceTiming")), m_fateCount(lookUp<FateCount>("MVSIM_FateCount")),
      m_fateInfo(lookUp<FateInfo>("MVSIM_FateInfo")), m_fateCounts(lookUp<GetFateCounts>("MVSIM_GetFateCounts")),
      m_failCall(lookUp<decltype(m_failCall)>("MVSIM_FailCall")),
      m_clearFaults(lookUp<decltype(m_clearFaults)>("MVSIM_ClearFaults")),
      m_callLogSize(lookUp<decltype(m_callLogSize)>("MVSIM_CallLogSize")),
      m_callLogEntry(lookUp<decltype(m_callLogEntry)>("MVSIM_CallLogEntry")),
      m_clearCallLog(lookUp<decltype(m_clearCallLog)>("MVSIM_ClearCallLog")),
      m_liveHandles(lookUp<decltype(m_liveHandles)>("MVSIM_LiveHandles")),
      m_unplug(lookUp<decltype(m_unplug)>("MVSIM_UnplugDevice")),
      m_waitIdle(lookUp<decltype(m_waitIdle)>("MVSIM_WaitIdle")),
      m_ledgerSize(lookUp<decltype(m_ledgerSize)>("MVSIM_LedgerSize")),
      m_ledgerEntry(lookUp<decltype(m_ledgerEntry)>("MVSIM_LedgerEntry")),
      m_pictureCount(lookUp<decltype(m_pictureCount)>("MVSIM_PictureCount")),
      m_pictureName(lookUp<decltype(m_pictureName)>("MVSIM_PictureName"))
{}

int SdkControl::findDevice(const QString& key) const
{
    if (m_find == nullptr)
        return -1;
        // Split as the plug-in splits a key: the first two words.
#if QT_VERSION >= QT_VERSION_CHECK(5, 14, 0)
    const QStringList words = key.split(QLatin1Char(' '), Qt::SkipEmptyParts);
#else
    const QStringList words = key.split(QLatin1Char(' '), QString::SkipEmptyParts);
#endif
    if (words.size() < 2)
        return -1;
    const int device = m_find(words.at(0).toUtf8().constData(), words.at(1).toUtf8().constData());
    if (device >= 0)
        return device;
    return findByListing(words.at(0), words.at(1));
}

// A name longer than its record field reaches the plug-in's key cut, and the
// stand-in knows its devices by their whole names. The device is then found
// by its place in the SDK's list: the stand-in lists the devices present in
// the order of their ids.
int SdkControl::findByListing(const QString& model, const QString& serial) const
{
    if (m_enum == nullptr || m_state == nullptr)
        return -1;
    MV_CC_DEVICE_INFO_LIST list;
    memset(&list, 0, sizeof list);
    if (m_enum(MV_GIGE_DEVICE | MV_USB_DEVICE, &list) != MVSIM_OK)
        return -1;
    const unsigned int count = qMin(list.nDeviceNum, static_cast<unsigned int>(MV_MAX_DEVICE_NUM));
    int place = -1;
    for (unsigned int i = 0; i < count && place < 0; ++i) {
        const MV_CC_DEVICE_INFO* info = list.pDeviceInfo[i];
        if (info != nullptr && fieldText(info->chModelName, sizeof info->chModelName) == model &&
            fieldText(info->chSerialNumber, sizeof info->chSerialNumber) == serial)
            place = static_cast<int>(i);
    }
    if (place < 0)
        return -1;
    MvsimDeviceState state;
    for (int id = 0; m_state(id, &state) == MVSIM_OK; ++id) {
        if (state.present && place-- == 0)
            return id;
    }
    return -1;
}

QString SdkControl::listingFailure() const
{
    if (m_enum == nullptr)
        return QString();
    MV_CC_DEVICE_INFO_LIST list;
    memset(&list, 0, sizeof list);
    const int result = m_enum(MV_GIGE_DEVICE | MV_USB_DEVICE, &list);
    if (result == MVSIM_OK)
        return QString();
    return QStringLiteral("cannot list cameras: the SDK's MV_CC_EnumDevices failed with 0x%1")
        .arg(static_cast<unsigned int>(result), 8, 16, QLatin1Char('0'));
}

bool SdkControl::deviceState(int device, MvsimDeviceState* state) const
{
    return m_state != nullptr && device >= 0 && m_state(device, state) == MVSIM_OK;
}

bool SdkControl::counters(int device, MvsimCounters* counters) const
{
    return m_counters != nullptr && device >= 0 && m_counters(device, counters) == MVSIM_OK;
}

bool SdkControl::frameFates(int device, FrameFates* fates) const
{
    return m_fates != nullptr && device >= 0 && m_fates(device, fates) == MVSIM_OK;
}

bool SdkControl::deviceTiming(int device, MvsimDeviceTiming* timing) const
{
    return m_timing != nullptr && device >= 0 && m_timing(device, timing) == MVSIM_OK;
}

bool SdkControl::pulseLine0(int device) const
{
    return m_pulse != nullptr && device >= 0 && m_pulse(device) == MVSIM_OK;
}

bool SdkControl::fateInfo(unsigned int fate, QString* name, bool* countsAsLost) const
{
    const char* text = nullptr;
    int lost = 0;
    if (m_fateInfo == nullptr || m_fateInfo(fate, &text, &lost) != MVSIM_OK || text == nullptr)
        return false;
    *name = QString::fromUtf8(text);
    *countsAsLost = lost != 0;
    return true;
}

bool SdkControl::fateCounts(int device, QVector<quint64>* counts) const
{
    if (m_fateCount == nullptr || m_fateCounts == nullptr || device < 0)
        return false;
    const int fates = m_fateCount();
    if (fates <= 0)
        return false;
    std::vector<unsigned long long> raw(static_cast<size_t>(fates), 0);
    const int written = m_fateCounts(device, raw.data(), static_cast<unsigned int>(fates));
    if (written < 0)
        return false;
    counts->clear();
    for (int i = 0; i < written; ++i)
        counts->append(raw[static_cast<size_t>(i)]);
    return true;
}

QVector<MvsimLedgerEntry> SdkControl::ledger(int device) const
{
    QVector<MvsimLedgerEntry> entries;
    if (m_ledgerSize == nullptr || m_ledgerEntry == nullptr || device < 0)
        return entries;
    const int size = m_ledgerSize(device);
    for (int i = 0; i < size; ++i) {
        MvsimLedgerEntry entry{};
        if (m_ledgerEntry(device, i, &entry) == MVSIM_OK)
            entries.append(entry);
    }
    return entries;
}

QStringList SdkControl::pictureNames(int device) const
{
    QStringList names;
    if (m_pictureCount == nullptr || m_pictureName == nullptr || device < 0)
        return names;
    const int count = m_pictureCount(device);
    for (int i = 0; i < count; ++i) {
        char buffer[4096];
        names << (m_pictureName(device, i, buffer, sizeof buffer) >= 0 ? QString::fromUtf8(buffer) : QString());
    }
    return names;
}

void SdkControl::failCall(const char* function, unsigned int nth, int code) const
{
    if (m_failCall != nullptr)
        m_failCall(function, nth, code);
}

void SdkControl::clearFaults() const
{
    if (m_clearFaults != nullptr)
        m_clearFaults();
}

QStringList SdkControl::callLog() const
{
    QStringList log;
    if (m_callLogSize == nullptr || m_callLogEntry == nullptr)
        return log;
    const int size = m_callLogSize();
    for (int i = 0; i < size; ++i) {
        char entry[512];
        if (m_callLogEntry(i, entry, sizeof entry) >= 0)
            log << QString::fromUtf8(entry);
    }
    return log;
}

void SdkControl::clearCallLog() const
{
    if (m_clearCallLog != nullptr)
        m_clearCallLog();
}

int SdkControl::liveHandles() const
{
    return m_liveHandles != nullptr ? m_liveHandles() : -1;
}

bool SdkControl::unplug(int device) const
{
    return m_unplug != nullptr && m_unplug(device) == MVSIM_OK;
}

bool SdkControl::waitIdle(int device, unsigned int timeoutMs) const
{
    return m_waitIdle != nullptr && device >= 0 && m_waitIdle(device, timeoutMs) == MVSIM_OK;
}

}  // namespace kwhost
