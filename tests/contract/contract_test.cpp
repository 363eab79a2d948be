// The contract header on its own: it comes first here, with nothing before
// it, as in a host that includes nothing else.
#include "cameraobject.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstddef>
#include <vector>

namespace {

// Offsets and sizes hosts and plug-ins agree on (x86-64, GCC).
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Winvalid-offsetof"
static_assert(offsetof(ICameraObject, m_pConfig) == 8, "m_pConfig");
static_assert(offsetof(ICameraObject, m_bOpened) == 16, "m_bOpened");
static_assert(offsetof(ICameraObject, m_bGrabbing) == 17, "m_bGrabbing");
static_assert(offsetof(ICameraObject, m_nWidth) == 20, "m_nWidth");
static_assert(offsetof(ICameraObject, m_nHeight) == 24, "m_nHeight");
static_assert(offsetof(ICameraObject, m_nImageSize) == 28, "m_nImageSize");
static_assert(offsetof(ICameraObject, m_nBitsPerPixel) == 32, "m_nBitsPerPixel");
static_assert(offsetof(ICameraObject, m_nPixelFormat) == 36, "m_nPixelFormat");
static_assert(offsetof(ICameraObject, m_nReserved1) == 40, "m_nReserved1");
static_assert(offsetof(ICameraObject, m_nFrameCount) == 44, "m_nFrameCount");
static_assert(offsetof(ICameraObject, m_nReserved2) == 48, "m_nReserved2");
static_assert(offsetof(ICameraObject, m_nCurTriggerMode) == 52, "m_nCurTriggerMode");
static_assert(offsetof(ICameraObject, m_nTriggerMode) == 56, "m_nTriggerMode");
static_assert(offsetof(ICameraObject, m_pImageData) == 64, "m_pImageData");
static_assert(offsetof(ICameraObject, m_pCallback) == 72, "m_pCallback");
static_assert(sizeof(ICameraObject) == 80, "ICameraObject size");
static_assert(offsetof(tagQZ_CAMERA_PROPERTY, nValue) == 4 && sizeof(tagQZ_CAMERA_PROPERTY) == 8, "property");
#pragma GCC diagnostic pop
static_assert(sizeof(CameraType) == 4 && sizeof(CameraPixelFormat) == 4 && sizeof(CameraTriggerMode) == 4 &&
                  sizeof(CameraStatus) == 4,
              "enumerations are 32-bit");

template <typename Map> std::vector<std::pair<int, QString>> rows(const Map& map)
{
    std::vector<std::pair<int, QString>> result;
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        result.emplace_back(static_cast<int>(it.key()), it.value());
    return result;
}

using Rows = std::vector<std::pair<int, QString>>;

TEST(NameTables, CameraTypesInCodeOrderWithoutDuplicates)
{
    const Rows expected = {{0, "Unknown(0)"},     {100, "Virtual Camera(100)"}, {110, "BitFlow(110)"},
                           {120, "Gige(120)"},    {130, "USB Camera(130)"},     {140, "HIK(140)"},
                           {150, "Vimba(150)"},   {160, "Baumer(160)"},         {170, "AdLink(170)"},
                           {180, "DaHua(180)"},   {190, "Basler(190)"},         {200, "PtGray(200)"},
                           {220, "Euresys(220)"}, {230, "Dalsa(230)"}};
    EXPECT_EQ(rows(CameraTypeNames), expected);
    EXPECT_FALSE(CameraTypeNames.contains(static_cast<CameraType>(210)));
}

TEST(NameTables, CameraStatusesAndPixelFormats)
{
    const Rows statuses = {{0, "Uninitialized"}, {1, "Initialized"}, {2, "Opened"},
                           {3, "Running"},       {4, "Paused"},      {5, "Closed"}};
    EXPECT_EQ(rows(CameraStatusNames), statuses);
    const Rows formats = {{0, "None"},   {1, "GRAY8"}, {2, "RGB24"},  {3, "RGB32"},
                          {4, "GRAY16"}, {5, "RGB48"}, {11, "BGR24"}, {12, "BGR32"}};
    EXPECT_EQ(rows(CameraPixelFormatNames), formats);
}

TEST(BitsPerPixel, EveryCode)
{
    struct Case {
        int code;
        int bits;
    };
    const Case cases[] = {{0, 0}, {1, 8},  {2, 24}, {3, 32}, {4, 16}, {5, 0},  {6, 0},   {7, 0},       {8, 0},
                          {9, 0}, {10, 0}, {11, 0}, {12, 0}, {13, 0}, {-1, 0}, {100, 0}, {INT_MIN, 0}, {INT_MAX, 0}};
    for (const Case& c : cases)
        EXPECT_EQ(GetBitsPerPixel(c.code), c.bits) << "pixel format " << c.code;
}

// A plug-in class that overrides only the pure operations.
class MinimalCamera : public ICameraObject {
public:
    using ICameraObject::ICameraObject;
    int IOpenCamera() override { return 1; }
    void ICloseCamera() override {}
    int IStartCamera() override { return 1; }
    void IStopCamera() override {}
};

struct NullCallback : ICameraCallback {
    void OnImageReady(ICameraObject*) override {}
};

TEST(CameraObjectBase, ConstructorSetsDocumentedInitialState)
{
    struct Case {
        int configured;
        int bits;
    };
    const Case cases[] = {{1, 8}, {2, 24}, {3, 32}, {4, 16}, {0, 0}, {5, 0}, {11, 0}, {12, 0}, {-7, 0}, {99, 0}};
    for (const Case& c : cases) {
        tagQZ_CAMERA_CONFIG config{};
        config.nPixelFormat = c.configured;
        NullCallback callback;
        MinimalCamera camera(&config, &callback);
        SCOPED_TRACE(c.configured);
        EXPECT_EQ(camera.m_pConfig, &config);
        EXPECT_EQ(camera.m_pCallback, &callback);
        EXPECT_FALSE(camera.m_bOpened);
        EXPECT_FALSE(camera.m_bGrabbing);
        EXPECT_EQ(camera.m_nWidth, 0);
        EXPECT_EQ(camera.m_nHeight, 0);
        EXPECT_EQ(camera.m_nImageSize, 0);
        EXPECT_EQ(camera.m_nBitsPerPixel, c.bits);
        EXPECT_EQ(camera.m_nPixelFormat, 0);
        EXPECT_EQ(camera.m_nReserved1, 0);
        EXPECT_EQ(camera.m_nFrameCount, 0);
        EXPECT_EQ(camera.m_nReserved2, 0);
        EXPECT_EQ(camera.m_nCurTriggerMode, 0);
        EXPECT_EQ(camera.m_nTriggerMode, 1);
        EXPECT_EQ(camera.m_pImageData, nullptr);
        config.nPixelFormat = 2;  // read once: later changes do not reach the object
        EXPECT_EQ(camera.m_nBitsPerPixel, c.bits);
    }
}

TEST(CameraObjectBase, DefaultsOfTheNonPureOperations)
{
    tagQZ_CAMERA_CONFIG config{};
    config.nPixelFormat = 1;
    MinimalCamera camera(&config, nullptr);
    ICameraObject& host = camera;
    tagQZ_CAMERA_PROPERTY property{1, 100};
    int anything = 0;

    EXPECT_TRUE(host.IGetCameraList().isEmpty());
    EXPECT_FALSE(host.IExtensionA());
    EXPECT_FALSE(host.IExtensionB());
    EXPECT_EQ(host.IExtensionC(), 0);
    EXPECT_FALSE(host.ISetProperty(&property));
    EXPECT_FALSE(host.ISetProperty(nullptr));
    EXPECT_FALSE(host.IExtensionD(&anything));
    EXPECT_FALSE(host.IExtensionD(nullptr));
    host.IApplyParameters();
    host.ISnapCamera();
    EXPECT_EQ(camera.m_nBitsPerPixel, 8);
    EXPECT_EQ(camera.m_nCurTriggerMode, 0);
    EXPECT_EQ(property.nPropertyId, 1);
    EXPECT_EQ(property.nValue, 100);
}

}  // namespace
