// The plug-in as a library: its exports, what loading and creating do, the
// objects it makes and their table of virtual functions.
#include <gtest/gtest.h>

#include <dirent.h>

#include <cstdio>
#include <set>
#include <string>

#include "pluginhost.h"

using namespace kwtest;

namespace {

int threadsOfThisProcess()
{
    int n = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (dirent* entry = readdir(dir))
            if (entry->d_name[0] != '.')
                ++n;
        closedir(dir);
    }
    return n;
}

TEST(PluginLibrary, ExportsExactlyTheTwoEntryPoints)
{
    const std::string command = std::string(KWCAM_NM_COMMAND) + " -D --defined-only " + KWCAM_PLUGIN_PATH;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::set<std::string> symbols;
    char line[1024];
    while (fgets(line, sizeof line, pipe)) {
        std::string text(line);
        text.erase(text.find_last_not_of("\r\n") + 1);
        symbols.insert(text.substr(text.find_last_of(' ') + 1));
    }
    ASSERT_EQ(pclose(pipe), 0) << command;
    EXPECT_EQ(symbols, (std::set<std::string>{"Camera_Create", "Camera_Delete"}));
}

TEST(PluginLibrary, LoadingAndCreatingMakeNoSdkCallAndStartNoThread)
{
    MVSIM_Reset();
    const MvsimDeviceSetup setup = deviceSetup("MV-TEST", "0001");
    MVSIM_AddDevice(&setup);
    MVSIM_ClearCallLog();
    const int threadsBefore = threadsOfThisProcess();

    Plugin::get();
    {
        HostCamera camera("MV-TEST 0001");
        ASSERT_NE(camera.object, nullptr);
        EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
    }
    EXPECT_EQ(MVSIM_CallLogSize(), 0) << "deleting an object that was never opened calls nothing either";
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
    EXPECT_EQ(threadsOfThisProcess(), threadsBefore);
}

TEST(PluginLibrary, CreateAnswersPointerArguments)
{
    tagQZ_CAMERA_CONFIG config{};
    RecordingCallback callback;
    EXPECT_EQ(Plugin::get().create(nullptr, &callback), nullptr);
    EXPECT_EQ(Plugin::get().create(nullptr, nullptr), nullptr);

    ICameraObject* listOnly = Plugin::get().create(&config, nullptr);
    ASSERT_NE(listOnly, nullptr);
    EXPECT_EQ(listOnly->m_pCallback, nullptr);
    EXPECT_EQ(memberAt<void*>(listOnly, 88), nullptr);
    Plugin::get().destroy(listOnly);

    Plugin::get().destroy(nullptr);
}

TEST(PluginLibrary, NewObjectMembersAtTheirOffsets)
{
    struct Case {
        int configured;
        int bits;
    };
    const Case cases[] = {{1, 8}, {2, 24}, {3, 32}, {4, 16}, {0, 0}, {5, 0}, {11, 0}, {12, 0}, {-1, 0}};
    for (const Case& c : cases) {
        HostCamera camera("MV-TEST 0001", c.configured);
        const ICameraObject* object = camera.object;
        SCOPED_TRACE(c.configured);
        EXPECT_EQ(memberAt<tagQZ_CAMERA_CONFIG*>(object, 8), &camera.config);
        EXPECT_EQ(memberAt<bool>(object, 16), false);
        EXPECT_EQ(memberAt<bool>(object, 17), false);
        for (size_t offset : {20, 24, 28, 36, 40, 44, 48, 52})
            EXPECT_EQ(memberAt<int>(object, offset), 0) << "offset " << offset;
        EXPECT_EQ(memberAt<int>(object, 32), c.bits);
        EXPECT_EQ(memberAt<int>(object, 56), 1);
        EXPECT_EQ(memberAt<unsigned char*>(object, 64), nullptr);
        EXPECT_EQ(memberAt<ICameraCallback*>(object, 72), &camera.callback);
        EXPECT_EQ(memberAt<void*>(object, 80), nullptr) << "m_hDevice";
        EXPECT_EQ(memberAt<ICameraCallback*>(object, 88), &camera.callback) << "m_pFrameCallback";
        EXPECT_EQ(memberAt<int>(object, 96), 0);
        EXPECT_EQ(memberAt<int>(object, 100), 0);
        // Fresh heap memory is rarely non-zero in a plain build; AddressSanitizer
        // fills it, so there a missing initialisation shows.
        EXPECT_EQ(memberAt<int>(object, 104), 0) << "m_nDevicePixelType";
    }
}

// Itanium ABI: a pointer to a virtual member function holds 1 + the byte
// offset of its entry in the table; the virtual destructor takes two entries.
template <typename F> long tableIndex(F member)
{
    long raw;
    static_assert(sizeof(member) >= sizeof raw, "member pointer");
    std::memcpy(&raw, &member, sizeof raw);
    return (raw - 1) / static_cast<long>(sizeof(void*));
}

TEST(PluginLibrary, SlotOrderAsAHostSeesIt)
{
    // What a host compiles from the contract: slot s >= 1 is entry s + 1.
    EXPECT_EQ(tableIndex(&ICameraObject::IGetCameraList), 2);
    EXPECT_EQ(tableIndex(&ICameraObject::IOpenCamera), 3);
    EXPECT_EQ(tableIndex(&ICameraObject::ICloseCamera), 4);
    EXPECT_EQ(tableIndex(&ICameraObject::IStartCamera), 5);
    EXPECT_EQ(tableIndex(&ICameraObject::IStopCamera), 6);
    EXPECT_EQ(tableIndex(&ICameraObject::IApplyParameters), 7);
    EXPECT_EQ(tableIndex(&ICameraObject::IExtensionA), 8);
    EXPECT_EQ(tableIndex(&ICameraObject::IExtensionB), 9);
    EXPECT_EQ(tableIndex(&ICameraObject::ISnapCamera), 10);
    EXPECT_EQ(tableIndex(&ICameraObject::IExtensionC), 11);
    EXPECT_EQ(tableIndex(&ICameraObject::ISetProperty), 12);
    EXPECT_EQ(tableIndex(&ICameraObject::IExtensionD), 13);
    EXPECT_EQ(tableIndex(&ICameraCallback::OnImageReady), 2);

    // What the plug-in's table holds at those entries, called by position.
    resetWithOneDevice();
    HostCamera camera("MV-TEST 0001");
    void** table = *reinterpret_cast<void***>(camera.object);
    using IntCall = int (*)(ICameraObject*);
    using BoolCall = bool (*)(ICameraObject*);
    using BoolPtrCall = bool (*)(ICameraObject*, void*);
    using VoidCall = void (*)(ICameraObject*);
    EXPECT_FALSE(reinterpret_cast<BoolCall>(table[8])(camera.object));
    EXPECT_FALSE(reinterpret_cast<BoolCall>(table[9])(camera.object));
    EXPECT_EQ(reinterpret_cast<IntCall>(table[11])(camera.object), 0);
    EXPECT_FALSE(reinterpret_cast<BoolPtrCall>(table[12])(camera.object, nullptr)) << "ISetProperty(null)";
    EXPECT_FALSE(reinterpret_cast<BoolPtrCall>(table[13])(camera.object, &camera)) << "IExtensionD";
    // The plug-in's own two slots follow the contract's and do nothing.
    reinterpret_cast<VoidCall>(table[14])(camera.object);
    reinterpret_cast<VoidCall>(table[15])(camera.object);
    EXPECT_EQ(MVSIM_CallLogSize(), 0);
    EXPECT_EQ(reinterpret_cast<IntCall>(table[3])(camera.object), 1) << "IOpenCamera";
    EXPECT_TRUE(camera->m_bOpened);
    EXPECT_EQ(reinterpret_cast<IntCall>(table[5])(camera.object), 1) << "IStartCamera";
    EXPECT_TRUE(camera->m_bGrabbing);
    reinterpret_cast<VoidCall>(table[6])(camera.object);
    EXPECT_FALSE(camera->m_bGrabbing) << "IStopCamera";
    reinterpret_cast<VoidCall>(table[4])(camera.object);
    EXPECT_FALSE(camera->m_bOpened) << "ICloseCamera";
    EXPECT_EQ(MVSIM_LiveHandles(), 0);
}

TEST(PluginLibrary, TwoObjectsShareNothing)
{
    const int id = resetWithOneDevice();
    HostCamera first("MV-TEST 0001", 2);
    HostCamera second("MV-TEST 0001", 4);
    ASSERT_NE(first.object, second.object);
    EXPECT_EQ(first->m_nBitsPerPixel, 24);
    EXPECT_EQ(second->m_nBitsPerPixel, 16);

    first->m_nTriggerMode = 2;
    ASSERT_EQ(first->IOpenCamera(), 1);
    EXPECT_FALSE(second->m_bOpened);
    EXPECT_EQ(second->m_nTriggerMode, 1);
    EXPECT_EQ(memberAt<void*>(second.object, 80), nullptr);
    ASSERT_EQ(MVSIM_DeliverFrame(id, 0), 0);
    EXPECT_EQ(first.callback.count(), 1);
    EXPECT_EQ(second.callback.count(), 0);
    EXPECT_EQ(second->m_nFrameCount, 0);
}

TEST(PluginLibrary, LogEntriesCarryFileLineAndFunction)
{
    LogCapture log;
    HostCamera camera("single-piece");
    EXPECT_EQ(camera->IOpenCamera(), 0);
    const std::vector<LogEntry> entries = log.all();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].file.endsWith(QLatin1String("camerahik.cpp"))) << entries[0].file.toStdString();
    EXPECT_GT(entries[0].line, 0);
    EXPECT_TRUE(entries[0].function.contains(QLatin1String("CCameraHik::IOpenCamera")))
        << entries[0].function.toStdString();
    EXPECT_EQ(entries[0].category, QLatin1String("default"));
}

}  // namespace
