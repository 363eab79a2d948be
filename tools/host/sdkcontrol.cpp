#include "kwhost/sdkcontrol.h"

#include <QtCore/QStringList>

#include <dlfcn.h>

namespace kwhost {

namespace {

template <typename Function>
Function lookUp(const char* name)
{
    return reinterpret_cast<Function>(dlsym(RTLD_DEFAULT, name));
}

}  // namespace

SdkControl::SdkControl()
    : m_find(lookUp<FindDevice>("MVSIM_FindDevice")),
      m_state(lookUp<GetDeviceState>("MVSIM_GetDeviceState")),
      m_counters(lookUp<GetCounters>("MVSIM_GetCounters")),
      m_pulse(lookUp<PulseLine0>("MVSIM_PulseLine0"))
{
}

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
    return device >= 0 ? device : -1;
}

bool SdkControl::deviceState(int device, MvsimDeviceState* state) const
{
    return m_state != nullptr && device >= 0 && m_state(device, state) == MVSIM_OK;
}

bool SdkControl::counters(int device, MvsimCounters* counters) const
{
    return m_counters != nullptr && device >= 0 && m_counters(device, counters) == MVSIM_OK;
}

bool SdkControl::pulseLine0(int device) const
{
    return m_pulse != nullptr && device >= 0 && m_pulse(device) == MVSIM_OK;
}

}  // namespace kwhost
