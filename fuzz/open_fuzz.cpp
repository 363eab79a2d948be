// Fuzzes discovery and open through the plug-in over the stand-in.
//
// Input: lines separated by '\n'. The first line is the camera key (UTF-8),
// each following pair of lines the model name and serial number bytes of a
// device added to the stand-in as they are (up to 16 devices). The plug-in
// lists the devices, opens and closes each listed key, and opens and closes
// the fuzzed key. Invariants, checked against the device texts as the plug-in
// reads them (within their fields, decoded as UTF-8):
//   - the list has one key per device, "<model> <serial>", in order;
//   - a key of exactly two pieces opens iff some device's texts are those two
//     pieces, and then holds the first such device;
//   - a key of fewer pieces never opens;
//   - after close, no handle is left and the object is closed.
#include <QtCore/QStringList>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cameraobject.h"
#include "mvsim/control.h"
#include "pluginloader.h"

namespace {

kwtest::PluginEntries g_plugin;

const size_t kMaxDevices = 16;
const size_t kModelField = 32;
const size_t kSerialField = 16;

[[noreturn]] void violated(const char* what, const QString& key)
{
    std::fprintf(stderr, "invariant violated: %s (key \"%s\")\n", what, key.toUtf8().constData());
    std::abort();
}

void discard(QtMsgType, const QMessageLogContext&, const QString&)
{}

struct DeviceTexts {
    std::string model;  // bytes as passed to the stand-in
    std::string serial;
    QString modelText;  // as the plug-in reads them
    QString serialText;
};

// What the plug-in reads from a field the stand-in filled with `bytes`.
QString fieldText(const std::string& bytes, size_t field)
{
    return QString::fromUtf8(bytes.data(), static_cast<int>(std::min(bytes.size(), field)));
}

QStringList pieces(const QString& key)
{
    return key.split(QChar(' '), Qt::SkipEmptyParts);
}

// Index of the first device listed under the two pieces, or -1.
int firstMatch(const std::vector<DeviceTexts>& devices, const QStringList& p)
{
    if (p.size() < 2)
        return -1;
    for (size_t i = 0; i < devices.size(); ++i)
        if (devices[i].modelText == p[0] && devices[i].serialText == p[1])
            return static_cast<int>(i);
    return -1;
}

void openAndClose(const std::vector<DeviceTexts>& devices, const QString& key)
{
    tagQZ_CAMERA_CONFIG config{};
    config.strCameraKey = key;
    config.nPixelFormat = CameraPixelFormatGray8;
    ICameraObject* camera = g_plugin.create(&config, nullptr);
    const int expected = firstMatch(devices, pieces(key));
    const int result = camera->IOpenCamera();
    if (result != (expected >= 0 ? 1 : 0) || camera->m_bOpened != (result == 1))
        violated(result ? "opened a key no device matches" : "a matching key did not open", key);
    if (expected >= 0) {
        MvsimDeviceState state{};
        if (MVSIM_GetDeviceState(expected, &state) != 0 || state.openHandles != 1)
            violated("the key opened another device than the first listed under it", key);
    }
    camera->ICloseCamera();
    if (camera->m_bOpened || MVSIM_LiveHandles() != 0)
        violated("a handle outlived close", key);
    g_plugin.destroy(camera);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    qInstallMessageHandler(&discard);
    g_plugin = kwtest::loadPluginEntries(KWCAM_PLUGIN_PATH);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; ++i) {
        if (data[i] == '\n')
            lines.emplace_back();
        else
            lines.back().push_back(static_cast<char>(data[i]));
    }
    // The stand-in takes C strings: a text ends at its first NUL.
    for (std::string& line : lines)
        line.resize(std::strlen(line.c_str()));

    MVSIM_Reset();
    std::vector<DeviceTexts> devices;
    for (size_t i = 1; i + 1 < lines.size() && devices.size() < kMaxDevices; i += 2) {
        DeviceTexts d{lines[i], lines[i + 1], fieldText(lines[i], kModelField), fieldText(lines[i + 1], kSerialField)};
        MvsimDeviceSetup setup;
        MVSIM_DefaultSetup(&setup, d.model.c_str(), d.serial.c_str());
        if (MVSIM_AddDevice(&setup) != static_cast<int>(devices.size()))
            violated("the stand-in refused a device", QString());
        devices.push_back(d);
    }
    const QString key = QString::fromUtf8(lines[0].data(), static_cast<int>(lines[0].size()));

    tagQZ_CAMERA_CONFIG config{};
    ICameraObject* lister = g_plugin.create(&config, nullptr);
    const QStringList keys = lister->IGetCameraList();
    g_plugin.destroy(lister);
    if (static_cast<size_t>(keys.size()) != devices.size())
        violated("the list does not have one key per device", key);
    for (size_t i = 0; i < devices.size(); ++i) {
        if (keys[static_cast<int>(i)] != devices[i].modelText + QLatin1Char(' ') + devices[i].serialText)
            violated("a listed key is not \"<model> <serial>\"", keys[static_cast<int>(i)]);
        const QStringList p = pieces(keys[static_cast<int>(i)]);
        if (p.size() == 2 && p[0] == devices[i].modelText && p[1] == devices[i].serialText)
            openAndClose(devices, keys[static_cast<int>(i)]);
    }
    openAndClose(devices, key);
    return 0;
}
