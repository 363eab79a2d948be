#include "device.h"

#include "faults.h"

#include "acquisition.h"
#include "picturefeed.h"
#include "picturesource.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <new>
#include <system_error>

namespace mvsim {

namespace {

constexpr unsigned maxBalanceRatio = 16383;

void copyText(unsigned char* field, std::size_t size, const std::string& text)
{
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(size, text.size()));
}

// Compares a record field with a text as the record would hold it.
bool fieldHolds(const unsigned char* field, std::size_t size, const std::string& text)
{
    unsigned char expected[64] = {};
    copyText(expected, size, text);
    return std::memcmp(field, expected, size) == 0;
}

}  // namespace

double DeviceSetup::bandwidth() const
{
    if (instant)
        return 0.0;
    if (bandwidthMBps >= 0.0)
        return bandwidthMBps;
    return transport == MVSIM_TRANSPORT_USB ? usbBandwidthMBps : gigeBandwidthMBps;
}

DeviceSetup DeviceSetup::from(const MvsimDeviceSetup& s)
{
    DeviceSetup setup;
    setup.modelName = s.modelName;
    setup.serialNumber = s.serialNumber;
    setup.transport = s.transport;
    setup.width = s.width;
    setup.height = s.height;
    setup.pixelType = s.pixelType;
    setup.exposureMin = s.exposureMin;
    setup.exposureMax = s.exposureMax;
    setup.exposure = s.exposure;
    setup.gainMin = s.gainMin;
    setup.gainMax = s.gainMax;
    setup.gain = s.gain;
    setup.frameRate = s.frameRate;
    setup.linePulseRate = s.linePulseRate;
    setup.bufferCount = s.bufferCount;
    setup.bandwidthMBps = s.bandwidthMBps;
    setup.instant = s.instantTiming != 0;
    setup.ledgerSize = s.ledgerSize;
    if (s.images && *s.images)
        setup.replay.images = s.images;
    setup.replay.once = s.replayOnce != 0;
    setup.replay.stamp = s.stampPictures != 0;
    setup.replay.zeroCopy = s.sharePictures != 0;
    return setup;
}

void DeviceSetup::to(MvsimDeviceSetup* s) const
{
    *s = MvsimDeviceSetup{};
    s->modelName = modelName.c_str();
    s->serialNumber = serialNumber.c_str();
    s->transport = transport;
    s->width = width;
    s->height = height;
    s->pixelType = pixelType;
    s->exposureMin = exposureMin;
    s->exposureMax = exposureMax;
    s->exposure = exposure;
    s->gainMin = gainMin;
    s->gainMax = gainMax;
    s->gain = gain;
    s->frameRate = frameRate;
    s->linePulseRate = linePulseRate;
    s->bufferCount = bufferCount;
    s->bandwidthMBps = bandwidthMBps;
    s->instantTiming = instant ? 1 : 0;
    s->ledgerSize = ledgerSize;
    s->images = replay.images.empty() ? nullptr : replay.images.c_str();
    s->replayOnce = replay.once ? 1 : 0;
    s->stampPictures = replay.stamp ? 1 : 0;
    s->sharePictures = replay.zeroCopy ? 1 : 0;
}

Device::Device(int id, const DeviceSetup& setup)
    : id_(id), configured_(setup), live_(setup), record_(std::make_unique<MV_CC_DEVICE_INFO>()),
      ledger_(std::make_shared<Ledger>(setup.ledgerSize)), replay_(setup.replay)
{
    fillRecord();
}

void Device::setPictures(const ReplaySetup& replay)
{
    replay_ = replay;
    pictures_.reset();  // joins its loader, which takes no lock of ours
}

std::shared_ptr<PictureFeed> Device::pictureFeed()
{
    if (replay_.files.empty())
        return nullptr;
    if (!pictures_) {
        PictureFeed::Setup setup;
        setup.files = replay_.files;
        setup.width = live_.width;
        setup.height = live_.height;
        setup.pixelType = live_.pixelType;
        setup.loop = !replay_.once;
        setup.zeroCopy = replay_.zeroCopy;
        setup.cacheBytes = replayCacheBytes();
        pictures_ = std::make_shared<PictureFeed>(std::move(setup));
    }
    return pictures_;
}

void Device::fillRecord()
{
    MV_CC_DEVICE_INFO* record = record_.get();
    std::memset(record, 0, sizeof *record);
    record->nMajorVer = 1;
    record->nMinorVer = 0;
    record->nTLayerType = live_.transport;
    copyText(record->chModelName, sizeof record->chModelName, live_.modelName);
    copyText(record->chManufacturerName, sizeof record->chManufacturerName, "mvsim");
    copyText(record->chSerialNumber, sizeof record->chSerialNumber, live_.serialNumber);
}

bool Device::namedBy(const MV_CC_DEVICE_INFO& record) const
{
    return fieldHolds(record.chModelName, sizeof record.chModelName, live_.modelName) &&
        fieldHolds(record.chSerialNumber, sizeof record.chSerialNumber, live_.serialNumber);
}

void Device::pushSettings()
{
    if (acquisition_)
        acquisition_->update(frameSettings());
}

// Exposure time set while automatic exposure runs is accepted and stored.
int Device::setExposure(float value)
{
    if (std::isnan(value) || value < live_.exposureMin || value > live_.exposureMax)
        return MVSIM_E_PARAMETER;
    live_.exposure = value;
    pushSettings();
    return MVSIM_OK;
}

int Device::setGain(float value)
{
    if (std::isnan(value) || value < live_.gainMin || value > live_.gainMax)
        return MVSIM_E_PARAMETER;
    live_.gain = value;
    pushSettings();
    return MVSIM_OK;
}

int Device::setExposureAuto(unsigned mode)
{
    if (mode > 2)  // 0 off, 1 once, 2 continuous
        return MVSIM_E_PARAMETER;
    exposureAuto_ = mode;
    return MVSIM_OK;
}

int Device::setBalanceWhiteAuto(unsigned mode)
{
    if (mode > 2)  // 0 off, 1 continuous, 2 once
        return MVSIM_E_PARAMETER;
    balanceWhiteAuto_ = mode;
    return MVSIM_OK;
}

int Device::setBalanceRatio(int channel, unsigned value)
{
    if (value > maxBalanceRatio)
        return MVSIM_E_PARAMETER;
    // Ratios are the automatic balance's to set while it runs.
    if (balanceWhiteAuto_ != 0)
        return MVSIM_E_CALLORDER;
    balanceRatio_[channel] = value;
    return MVSIM_OK;
}

int Device::setEnum(const char* key, unsigned value)
{
    if (!key)
        return MVSIM_E_PARAMETER;
    if (std::strcmp(key, "TriggerMode") == 0) {
        if (value > 1)
            return MVSIM_E_PARAMETER;
        triggerMode_ = value;
    } else if (std::strcmp(key, "TriggerSource") == 0) {
        // Lines 0..3 and software.
        if (value > 3 && value != MVSIM_TRIGGER_SOURCE_SOFTWARE)
            return MVSIM_E_PARAMETER;
        triggerSource_ = value;
    } else {
        return MVSIM_E_SUPPORT;
    }
    pushSettings();
    return MVSIM_OK;
}

int Device::softwareTrigger()
{
    if (!acquisition_ || triggerMode_ != 1 || triggerSource_ != MVSIM_TRIGGER_SOURCE_SOFTWARE)
        return MVSIM_E_CALLORDER;
    // A trigger during an exposure is accepted, and missed.
    acquisition_->trigger(MVSIM_TRIGGER_SOURCE_SOFTWARE);
    return MVSIM_OK;
}

int Device::pulseLine0()
{
    if (!acquisition_)
        return MVSIM_E_CALLORDER;
    // Not armed for line 0, or missed during an exposure.
    if (acquisition_->trigger(MVSIM_TRIGGER_SOURCE_LINE0) != Acquisition::Trigger::Started)
        return MVSIM_E_CALLORDER;
    return MVSIM_OK;
}

FrameSettings Device::frameSettings() const
{
    FrameSettings s;
    s.width = live_.width;
    s.height = live_.height;
    s.pixelType = live_.pixelType;
    s.exposure = live_.exposure;
    s.gain = live_.gain;
    s.triggerMode = triggerMode_;
    s.triggerSource = triggerSource_;
    s.frameRate = live_.frameRate;
    s.linePulseRate = live_.linePulseRate;
    s.bufferCount = live_.bufferCount;
    s.bandwidthMBps = live_.bandwidth();
    s.instant = live_.instant;
    return s;
}

MvsimDeviceState Device::state() const
{
    MvsimDeviceState state{};
    state.present = present_ ? 1 : 0;
    state.openHandles = openedBy_ ? 1 : 0;
    state.grabbing = acquisition_ ? 1 : 0;
    state.triggerMode = triggerMode_;
    state.triggerSource = triggerSource_;
    state.exposureAuto = exposureAuto_;
    state.balanceWhiteAuto = balanceWhiteAuto_;
    state.balanceRatioRed = balanceRatio_[0];
    state.balanceRatioGreen = balanceRatio_[1];
    state.balanceRatioBlue = balanceRatio_[2];
    state.exposure = live_.exposure;
    state.exposureMin = live_.exposureMin;
    state.exposureMax = live_.exposureMax;
    state.gain = live_.gain;
    state.gainMin = live_.gainMin;
    state.gainMax = live_.gainMax;
    state.width = live_.width;
    state.height = live_.height;
    state.pixelType = live_.pixelType;
    return state;
}

int Device::open(Handle* handle)
{
    if (live_.exclusive) {
        switch (lock_.acquire(live_.modelName, live_.serialNumber)) {
        case DeviceLock::Result::Held:
            break;
        case DeviceLock::Result::Busy:
            return MVSIM_E_ACCESS;
        case DeviceLock::Result::Failed:
            return MVSIM_E_RESOURCE;
        }
    }
    openedBy_ = handle;
    ledger_->restartNumbers();
    return MVSIM_OK;
}

void Device::close()
{
    openedBy_ = nullptr;
    lock_.release();
}

void Device::unplug(bool remove)
{
    present_ = false;
    if (remove)
        removed_ = true;
    // Gone from the bus: no process holds it any more.
    lock_.release();
}

int Device::startGrab(const Handle& handle)
{
    const FrameSettings settings = frameSettings();
    // The frame record carries the length as 32 bits.
    if (frameBytes(settings.width, settings.height, settings.pixelType) > UINT_MAX)
        return MVSIM_E_RESOURCE;
    Acquisition::Identity identity;
    identity.model = live_.modelName;
    identity.serial = live_.serialNumber;
    if (const char* csv = std::getenv("MVSIM_LEDGER"))
        identity.ledgerCsv = csv;
    try {
        std::unique_ptr<FrameSource> source;
        if (std::shared_ptr<PictureFeed> feed = pictureFeed()) {
            feed->setActive(true);
            source = std::make_unique<PictureSource>(std::move(feed), replay_.stamp, replay_.zeroCopy);
        } else {
            source = std::make_unique<PatternSource>(settings.width, settings.height, settings.pixelType);
        }
        auto acquisition = std::make_shared<Acquisition>(settings, handle.callback, handle.user, ledger_, gate_,
                                                         std::move(source), identity);
        faults::throwIfDue("start.threads");
        thread_ = Acquisition::launch(acquisition);
        acquisition_ = std::move(acquisition);
    } catch (...) {
        // Nothing of a failed start keeps running: the source and the
        // acquisition are gone by now, and dropping the feed stops and joins
        // its loader (the next start makes it again). The caller's guard
        // turns the exception into MVSIM_E_RESOURCE.
        pictures_.reset();
        throw;
    }
    return MVSIM_OK;
}

StoppedGrab Device::stopGrab(unsigned fate)
{
    if (!acquisition_)
        return {};
    // The loader stops decoding ahead; the cache stays for the next grab.
    if (pictures_)
        pictures_->setActive(false);
    acquisition_->requestStop(fate);
    return {std::move(thread_), std::move(acquisition_)};
}

void Device::replug()
{
    // A device powers up with its configured features; a handle of the
    // earlier plug-in still names it, and stays dead.
    present_ = true;
    ++generation_;
    openedBy_ = nullptr;
    live_ = configured_;
    exposureAuto_ = 2;
    balanceWhiteAuto_ = 1;
    std::fill(std::begin(balanceRatio_), std::end(balanceRatio_), 1024u);
    triggerMode_ = 0;
    triggerSource_ = MVSIM_TRIGGER_SOURCE_LINE0;
    fillRecord();
}

}  // namespace mvsim
