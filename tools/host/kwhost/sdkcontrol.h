// The SDK stand-in's optional control functions, found by name at run time.
//
// Over the vendor's SDK none of them exist and every query answers "not
// available"; a host then does without: no line pulses of its own, frame
// losses counted from frame numbers or not at all, pixel layout as the
// plug-in reports it.
#ifndef KWHOST_SDKCONTROL_H
#define KWHOST_SDKCONTROL_H

#include <QtCore/QString>
#include <QtCore/QStringList>
#include <QtCore/QVector>

#include "mvcameracontrol.h"
#include "mvsim/control.h"

namespace kwhost {

// Frame events by fate, as the stand-in's ledger tells them.
using FrameFates = MvsimFrameFates;

class SdkControl {
public:
    // Looks the functions up in the whole process; call after the plug-in
    // (and with it the SDK) is loaded.
    SdkControl();

    bool canPulse() const { return m_pulse != nullptr; }

    // Why the SDK cannot list devices (its own code from MV_CC_EnumDevices),
    // or empty when it can or when the SDK is not loaded. A plug-in reports
    // such a failure as an empty list; this tells it from "no cameras".
    QString listingFailure() const;

    // The device behind a camera key ("MODEL SERIAL") as the plug-in lists
    // it, texts cut to their record fields included; -1 when the SDK cannot
    // tell.
    int findDevice(const QString& key) const;
    bool deviceState(int device, MvsimDeviceState* state) const;
    bool counters(int device, MvsimCounters* counters) const;
    // False where the SDK keeps no ledger.
    bool frameFates(int device, FrameFates* fates) const;
    // The simulated device's frame rate, readout and buffers; false over
    // other SDKs.
    bool deviceTiming(int device, MvsimDeviceTiming* timing) const;
    // One pulse on line 0; false when it triggered no frame event (or there
    // is no such function).
    bool pulseLine0(int device) const;

    // The stand-in's table of fates (see MVSIM_FateInfo) and a device's
    // count of each fate; false over other SDKs.
    bool fateInfo(unsigned int fate, QString* name, bool* countsAsLost) const;
    bool fateCounts(int device, QVector<quint64>* counts) const;

    // The device's ledger, oldest entry first (see MVSIM_LedgerEntry), and
    // the recorded pictures it replays; empty over other SDKs.
    QVector<MvsimLedgerEntry> ledger(int device) const;
    QStringList pictureNames(int device) const;

    // For hosts that test plug-ins (the kit): the stand-in's faults, call
    // log, handles and devices. Over other SDKs they do nothing and answer
    // false, empty or -1.
    bool canInjectFaults() const { return m_failCall != nullptr; }
    void failCall(const char* function, unsigned int nth, int code) const;
    void clearFaults() const;
    QStringList callLog() const;
    void clearCallLog() const;
    int liveHandles() const;
    bool unplug(int device) const;
    // Until the device has settled every frame event so far (MVSIM_WaitIdle).
    bool waitIdle(int device, unsigned int timeoutMs) const;

private:
    using FindDevice = int (*)(const char*, const char*);
    using GetDeviceState = int (*)(int, MvsimDeviceState*);
    using GetCounters = int (*)(int, MvsimCounters*);
    using PulseLine0 = int (*)(int);
    using EnumDevices = int (*)(unsigned int, MV_CC_DEVICE_INFO_LIST*);
    using GetFrameFates = int (*)(int, FrameFates*);
    using GetDeviceTiming = int (*)(int, MvsimDeviceTiming*);
    using FateCount = int (*)();
    using FateInfo = int (*)(unsigned int, const char**, int*);
    using GetFateCounts = int (*)(int, unsigned long long*, unsigned int);

    int findByListing(const QString& model, const QString& serial) const;

    FindDevice m_find = nullptr;
    GetDeviceState m_state = nullptr;
    GetCounters m_counters = nullptr;
    PulseLine0 m_pulse = nullptr;
    EnumDevices m_enum = nullptr;
    GetFrameFates m_fates = nullptr;
    GetDeviceTiming m_timing = nullptr;
    FateCount m_fateCount = nullptr;
    FateInfo m_fateInfo = nullptr;
    GetFateCounts m_fateCounts = nullptr;
    void (*m_failCall)(const char*, unsigned int, int) = nullptr;
    void (*m_clearFaults)() = nullptr;
    int (*m_callLogSize)() = nullptr;
    int (*m_callLogEntry)(int, char*, size_t) = nullptr;
    void (*m_clearCallLog)() = nullptr;
    int (*m_liveHandles)() = nullptr;
    int (*m_unplug)(int) = nullptr;
    int (*m_waitIdle)(int, unsigned int) = nullptr;
    int (*m_ledgerSize)(int) = nullptr;
    int (*m_ledgerEntry)(int, int, MvsimLedgerEntry*) = nullptr;
    int (*m_pictureCount)(int) = nullptr;
    int (*m_pictureName)(int, int, char*, size_t) = nullptr;
};

}  // namespace kwhost

#endif  // KWHOST_SDKCONTROL_H
