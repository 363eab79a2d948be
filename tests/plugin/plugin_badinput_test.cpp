// Hostile input at the plug-in's entries: null pointers in every state,
// property codes and values across their whole range, camera keys and device
// texts of every shape. Each must be answered without a crash and with the
// plug-in's documented result.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <ostream>
#include <string>

#include "pluginhost.h"

// Readable QStrings in failure messages.
void PrintTo(const QString& text, std::ostream* out)
{
    *out << '"' << text.left(200).toStdString() << (text.size() > 200 ? "...\"" : "\"");
}

using namespace kwtest;

namespace {

const QString kOpenSuffix = QStringLiteral("  -  CCameraHik::IOpenCamera");

// The key is quoted by QDebug, which escapes control characters: only the
// frame of the message is compared.
bool isNotValidKeyWarning(const QStringList& lines)
{
    return lines.size() == 1 && lines[0].startsWith(warning(QStringLiteral("Not valid camera key: \""))) &&
        lines[0].endsWith(QStringLiteral("\"") + kOpenSuffix);
}

const QString kNoMatch = warning(QStringLiteral("Failed to get camera parameters.") + kOpenSuffix);

class BadInput : public ::testing::Test {
protected:
    void SetUp() override { MVSIM_Reset(); }
    void TearDown() override { MVSIM_Reset(); }

    int addDevice(const char* model, const char* serial)
    {
        const MvsimDeviceSetup setup = deviceSetup(model, serial);
        const int id = MVSIM_AddDevice(&setup);
        EXPECT_GE(id, 0) << model << " " << serial;
        return id;
    }
};

// The object in each state a host can leave it in.
enum class State { Closed, Open, Grabbing };

void bringTo(HostCamera& camera, State state)
{
    if (state == State::Closed)
        return;
    ASSERT_EQ(camera->IOpenCamera(), 1);
    if (state == State::Grabbing) {
        camera->m_nTriggerMode = 4;  // no frames unless triggered
        ASSERT_EQ(camera->IStartCamera(), 1);
    }
}

TEST_F(BadInput, NullPropertyRecordInEveryState)
{
    for (State state : {State::Closed, State::Open, State::Grabbing}) {
        SCOPED_TRACE(static_cast<int>(state));
        resetWithOneDevice();
        HostCamera camera("MV-TEST 0001");
        bringTo(camera, state);
        MVSIM_ClearCallLog();
        LogCapture log;
        EXPECT_FALSE(camera->ISetProperty(nullptr));
        EXPECT_TRUE(callLog().empty());
        EXPECT_TRUE(log.all().empty());
    }
}

TEST_F(BadInput, EveryOperationWorksWithoutACallback)
{
    const int id = resetWithOneDevice();
    HostCamera camera("MV-TEST 0001", 1, false);
    ASSERT_EQ(camera->IOpenCamera(), 1);
    camera->m_nTriggerMode = 4;
    ASSERT_EQ(camera->IStartCamera(), 1);
    camera->ISnapCamera();
    camera->IApplyParameters();
    tagQZ_CAMERA_PROPERTY property{1, 500};
    EXPECT_TRUE(camera->ISetProperty(&property));
    // Frames on the stand-in's own thread: counted, announced to nobody.
    ASSERT_EQ(MVSIM_DeliverFrame(id, MVSIM_DELIVER_OWN_THREAD), 0);
    camera->IStopCamera();
    EXPECT_GE(camera->m_nFrameCount, 1);
    camera->ICloseCamera();
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
}

// Codes without a property are accepted and ignored, in any state, whatever
// the value; none reaches the SDK.
TEST_F(BadInput, PropertyCodesOutsideTheTable)
{
    const int known[] = {1, 2, 3, 4, 0x10000};
    std::vector<int> codes = {INT_MIN, INT_MIN + 1, INT_MAX - 1, INT_MAX, 0x10000 - 1, 0x10000 + 1, 0x20000, -0x10000};
    for (int code = -300; code <= 0x10100; ++code)
        if (std::find(std::begin(known), std::end(known), code) == std::end(known))
            codes.push_back(code);

    for (State state : {State::Closed, State::Grabbing}) {
        SCOPED_TRACE(static_cast<int>(state));
        resetWithOneDevice();
        HostCamera camera("MV-TEST 0001");
        bringTo(camera, state);
        MVSIM_ClearCallLog();
        LogCapture log;
        int refused = 0;
        for (int code : codes)
            for (int value : {INT_MIN, 0, INT_MAX}) {
                tagQZ_CAMERA_PROPERTY property{code, value};
                if (!camera->ISetProperty(&property))
                    ++refused;
            }
        EXPECT_EQ(refused, 0);
        EXPECT_TRUE(callLog().empty());
        EXPECT_TRUE(log.all().empty());
    }
}

// Extreme exposure and gain values against devices whose limits reach the
// ends of the float range: the comparison is made in float, where INT_MIN and
// INT_MAX are exact powers of two.
TEST_F(BadInput, ExposureAndGainAtTheEndsOfTheRange)
{
    struct Case {
        const char* name;
        int id;
        int value;
        float min, max;
        bool accepted;
    };
    const float lowest = static_cast<float>(INT_MIN);
    const float highest = static_cast<float>(INT_MAX);  // 2^31
    const Case cases[] = {
        {"exposure INT_MAX within wide limits", 1, INT_MAX, 0.0f, highest, true},
        {"exposure INT_MIN within wide limits", 1, INT_MIN, lowest, 0.0f, true},
        {"gain INT_MAX within wide limits", 0x10000, INT_MAX, 0.0f, highest, true},
        {"gain INT_MIN within wide limits", 0x10000, INT_MIN, lowest, 0.0f, true},
        {"exposure INT_MAX just above", 1, INT_MAX, 0.0f, 2147483520.0f, false},  // next float below 2^31
        {"gain INT_MIN just below", 0x10000, INT_MIN, -2147483520.0f, 0.0f, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MVSIM_Reset();
        MvsimDeviceSetup setup = deviceSetup("MV-TEST", "0001");
        if (c.id == 1) {
            setup.exposureMin = c.min;
            setup.exposureMax = c.max;
            setup.exposure = c.min;
        } else {
            setup.gainMin = c.min;
            setup.gainMax = c.max;
            setup.gain = c.min;
        }
        const int id = MVSIM_AddDevice(&setup);
        ASSERT_GE(id, 0) << "the stand-in refused the limits";
        HostCamera camera("MV-TEST 0001");
        ASSERT_EQ(camera->IOpenCamera(), 1);
        tagQZ_CAMERA_PROPERTY property{c.id, c.value};
        EXPECT_EQ(camera->ISetProperty(&property), c.accepted);
        MvsimDeviceState state{};
        ASSERT_EQ(MVSIM_GetDeviceState(id, &state), 0);
        const float held = c.id == 1 ? state.exposure : state.gain;
        EXPECT_EQ(held, c.accepted ? static_cast<float>(c.value) : c.min);
    }
}

// Keys whose pieces cannot name a device, or name it only by the decoded
// text. Only the ASCII space separates pieces.
TEST_F(BadInput, CameraKeysOfEveryShape)
{
    addDevice("MV-TEST", "0001");
    addDevice("CAM-\xF0\x9F\x98\x80",
              "\xE2\x82\xAC"
              "42");  // emoji model, euro sign in the serial
    const QString longPiece(100000, QLatin1Char('x'));

    struct Case {
        const char* name;
        QString key;
        enum { Opens, NoMatch, NotValid } outcome;
    };
    const Case cases[] = {
        {"very long single piece", longPiece, Case::NotValid},
        {"very long third piece", QStringLiteral("MV-TEST 0001 ") + longPiece, Case::Opens},
        {"very long model", longPiece + QStringLiteral(" 0001"), Case::NoMatch},
        {"NUL inside the model", QString::fromLatin1("MV-TEST\0 0001", 13), Case::NoMatch},
        {"NUL as separator",
         QString::fromLatin1("MV-TEST\0"
                             "0001",
                             12),
         Case::NotValid},
        {"NUL at the end", QString::fromLatin1("MV-TEST 0001\0", 13), Case::NoMatch},
        {"tab as separator", QStringLiteral("MV-TEST\t0001"), Case::NotValid},
        {"newline as separator", QStringLiteral("MV-TEST\n0001"), Case::NotValid},
        {"no-break space as separator",
         QString::fromUtf8("MV-TEST\xC2\xA0"
                           "0001"),
         Case::NotValid},
        {"ideographic space as separator",
         QString::fromUtf8("MV-TEST\xE3\x80\x80"
                           "0001"),
         Case::NotValid},
        {"no-break space around a valid key", QString::fromUtf8("\xC2\xA0MV-TEST 0001"), Case::NoMatch},
        {"high Latin-1 bytes", QString::fromLatin1("\xFF\xFE 0001"), Case::NoMatch},
        {"emoji key",
         QString::fromUtf8("CAM-\xF0\x9F\x98\x80 \xE2\x82\xAC"
                           "42"),
         Case::Opens},
        {"half an emoji",
         QString::fromUtf8("CAM-\xF0\x9F\x98\x80").left(5) + QStringLiteral(" ") +
             QString::fromUtf8("\xE2\x82\xAC"
                               "42"),
         Case::NoMatch},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        MVSIM_ClearCallLog();
        LogCapture log;
        HostCamera camera(c.key);
        const int result = camera->IOpenCamera();
        EXPECT_EQ(result, c.outcome == Case::Opens ? 1 : 0);
        EXPECT_EQ(camera->m_bOpened, c.outcome == Case::Opens);
        if (c.outcome == Case::NotValid) {
            EXPECT_TRUE(isNotValidKeyWarning(log.lines())) << log.lines().join('\n').left(300).toStdString();
            EXPECT_TRUE(callLog().empty());
        } else if (c.outcome == Case::NoMatch) {
            EXPECT_EQ(log.lines(), QStringList{kNoMatch});
            EXPECT_EQ(callNames(), std::vector<std::string>{"MV_CC_EnumDevices"});
        }
        camera.destroy();
        EXPECT_EQ(MVSIM_LiveHandles(), 0);
    }
}

// The stand-in copies device texts byte for byte; the plug-in decodes them as
// UTF-8. Bytes that are no UTF-8 become U+FFFD, so distinct devices may list
// under one key, and a key opens the first device listed under it.
TEST_F(BadInput, DeviceTextsThatAreNotUtf8)
{
    const int first = addDevice("CAM\xFF",
                                "\x80"
                                "01");
    const int second = addDevice("CAM\xFE",
                                 "\x81"
                                 "01");
    // 31 ASCII bytes and a two-byte character: the field keeps its first byte.
    const int cut = addDevice("M234567890123456789012345678901\xC3\xA9", "S1");
    const int overlong = addDevice("\xC0\xAF", "S2");  // an overlong '/'

    HostCamera lister;
    const QStringList keys = lister->IGetCameraList();
    const QString replacement(QChar(0xFFFD));
    const QStringList expected = {
        QStringLiteral("CAM") + replacement + QStringLiteral(" ") + replacement + QStringLiteral("01"),
        QStringLiteral("CAM") + replacement + QStringLiteral(" ") + replacement + QStringLiteral("01"),
        QStringLiteral("M234567890123456789012345678901") + replacement + QStringLiteral(" S1"),
    };
    ASSERT_EQ(keys.size(), 4);
    EXPECT_EQ(keys.mid(0, 3), expected);
    EXPECT_TRUE(keys[3].endsWith(QLatin1String(" S2")));
    EXPECT_FALSE(keys[3].contains(QLatin1Char('/'))) << "an overlong form must not decode to its character";

    struct Case {
        QString key;
        int device;
    };
    const Case cases[] = {{keys[0], first}, {keys[1], first}, {keys[2], cut}, {keys[3], overlong}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key.toStdString());
        HostCamera camera(c.key);
        ASSERT_EQ(camera->IOpenCamera(), 1);
        MvsimDeviceState state{};
        ASSERT_EQ(MVSIM_GetDeviceState(c.device, &state), 0);
        EXPECT_EQ(state.openHandles, 1) << "opened another device than the first listed under the key";
    }
    MvsimDeviceState state{};
    ASSERT_EQ(MVSIM_GetDeviceState(second, &state), 0);
    EXPECT_EQ(state.openHandles, 0);

    // The raw bytes read as Latin-1 are another text: no match.
    HostCamera latin(
        QString::fromLatin1("CAM\xFF \x80"
                            "01"));
    EXPECT_EQ(latin->IOpenCamera(), 0);
}

TEST_F(BadInput, FullDeviceList)
{
    QStringList expected;
    for (int i = 0; i < 256; ++i) {
        const std::string serial = std::to_string(i);
        addDevice("MV-FULL", serial.c_str());
        expected.append(QStringLiteral("MV-FULL ") + QString::number(i));
    }
    MvsimDeviceSetup setup = deviceSetup("MV-FULL", "overflow");
    EXPECT_LT(MVSIM_AddDevice(&setup), 0) << "the stand-in lists at most 256 devices";

    HostCamera camera(QStringLiteral("MV-FULL 255"));
    EXPECT_EQ(camera->IGetCameraList(), expected);
    EXPECT_EQ(camera->IOpenCamera(), 1);
}

}  // namespace
