#include "discovery.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include <arv.h>

namespace genicam {
namespace {

struct Listed {
    std::string id;
    MV_CC_DEVICE_INFO record;
};

// The last enumeration; guarded by aravisListLock().
std::array<MV_CC_DEVICE_INFO, MV_MAX_DEVICE_NUM> g_records;
std::vector<std::string> g_ids;

void copyText(unsigned char* field, size_t size, const char* text)
{
    std::memset(field, 0, size);
    if (text != nullptr)
        std::strncpy(reinterpret_cast<char*>(field), text, size - 1);
}

bool sameText(const unsigned char* a, const unsigned char* b, size_t size)
{
    return std::strncmp(reinterpret_cast<const char*>(a), reinterpret_cast<const char*>(b), size) == 0;
}

unsigned int transportOf(const char* protocol)
{
    if (protocol == nullptr)
        return 0;
    if (std::strcmp(protocol, "GigEVision") == 0)
        return MV_GIGE_DEVICE;
    if (std::strcmp(protocol, "USB3Vision") == 0)
        return MV_USB_DEVICE;
    return 0;
}

}  // namespace

std::mutex& aravisListLock()
{
    static std::mutex lock;
    return lock;
}

int enumerate(unsigned int mask, MV_CC_DEVICE_INFO_LIST* list)
{
    if (list == nullptr)
        return MV_E_PARAMETER;
    std::lock_guard<std::mutex> guard(aravisListLock());
    // The in-process fake of Aravis is never a camera of ours.
    arv_disable_interface("Fake");
    if (mask & MV_GIGE_DEVICE)
        arv_enable_interface("GigEVision");
    else
        arv_disable_interface("GigEVision");
    if (mask & MV_USB_DEVICE)
        arv_enable_interface("USB3Vision");
    else
        arv_disable_interface("USB3Vision");
    arv_update_device_list();

    std::vector<Listed> found;
    const unsigned int n = arv_get_n_devices();
    for (unsigned int i = 0; i < n; ++i) {
        const unsigned int transport = transportOf(arv_get_device_protocol(i));
        if ((transport & mask) == 0 || arv_get_device_id(i) == nullptr)
            continue;
        Listed entry;
        entry.id = arv_get_device_id(i);
        std::memset(&entry.record, 0, sizeof entry.record);
        MV_CC_DEVICE_INFO& r = entry.record;
        r.nMajorVer = 1;
        r.nTLayerType = transport;
        copyText(r.chModelName, sizeof r.chModelName, arv_get_device_model(i));
        copyText(r.chManufacturerName, sizeof r.chManufacturerName, arv_get_device_vendor(i));
        // Aravis gives a device without a serial number feature its id's last
        // part (a GigE device's DeviceID) instead.
        copyText(r.chSerialNumber, sizeof r.chSerialNumber, arv_get_device_serial_nbr(i));
        if (transport == MV_GIGE_DEVICE)
            copyText(r.chAddress, sizeof r.chAddress, arv_get_device_address(i));
        found.push_back(std::move(entry));
    }
    std::sort(found.begin(), found.end(), [](const Listed& a, const Listed& b) { return a.id < b.id; });
    if (found.size() > MV_MAX_DEVICE_NUM)
        found.resize(MV_MAX_DEVICE_NUM);

    g_ids.clear();
    std::memset(list, 0, sizeof *list);
    for (size_t i = 0; i < found.size(); ++i) {
        g_records[i] = found[i].record;
        g_ids.push_back(found[i].id);
        list->pDeviceInfo[i] = &g_records[i];
    }
    list->nDeviceNum = static_cast<unsigned int>(found.size());
    return MV_OK;
}

bool deviceOf(const MV_CC_DEVICE_INFO* record, std::string* id, unsigned int* transport)
{
    std::lock_guard<std::mutex> guard(aravisListLock());
    for (size_t i = 0; i < g_ids.size(); ++i) {
        const MV_CC_DEVICE_INFO& r = g_records[i];
        if (record == &r ||
            (record->nTLayerType == r.nTLayerType && sameText(record->chModelName, r.chModelName, MV_MODEL_NAME_SIZE) &&
             sameText(record->chSerialNumber, r.chSerialNumber, MV_SERIAL_NUMBER_SIZE))) {
            *id = g_ids[i];
            *transport = r.nTLayerType;
            return true;
        }
    }
    return false;
}

}  // namespace genicam
