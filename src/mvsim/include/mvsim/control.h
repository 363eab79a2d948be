// Control interface of the SDK stand-in, for tests, benchmarks and tools.
//
// Camera plug-ins never use it: they see only the 21 SDK functions. Every
// function has C linkage so that a host can look it up at run time
// (dlsym) and do without it when the loaded SDK is not the stand-in.
//
// Devices are named by an id that MVSIM_AddDevice returns (0, 1, 2, ... in
// the order they were added since the last reset or configuration load).
#ifndef MVSIM_CONTROL_H
#define MVSIM_CONTROL_H

#include <stddef.h>

#include "mvcameracontrol.h"

#ifdef __cplusplus
extern "C" {
#endif

// Failure codes returned by the SDK functions and by this interface: the
// SDK's codes of mvcameracontrol.h under the simulator's names.
#define MVSIM_OK MV_OK
#define MVSIM_E_HANDLE MV_E_HANDLE
#define MVSIM_E_SUPPORT MV_E_SUPPORT
#define MVSIM_E_PARAMETER MV_E_PARAMETER
#define MVSIM_E_CALLORDER MV_E_CALLORDER
#define MVSIM_E_ACCESS MV_E_ACCESS
#define MVSIM_E_NODEVICE MV_E_NODEVICE
#define MVSIM_E_RESOURCE MV_E_RESOURCE
#define MVSIM_E_CONFIG MV_E_CONFIG
#define MVSIM_E_UNKNOWN MV_E_UNKNOWN

#define MVSIM_TRANSPORT_GIGE 1u
#define MVSIM_TRANSPORT_USB 4u

// Pixel types the stand-in produces (GigE Vision coding: top byte 1 mono /
// 2 colour, next byte bits per pixel).
#define MVSIM_PIXEL_MONO8 0x01080001u
#define MVSIM_PIXEL_RGB8 0x02180014u
#define MVSIM_PIXEL_RGBA8 0x02200016u
#define MVSIM_PIXEL_RGB16 0x02300033u
#define MVSIM_PIXEL_MONO16 0x01100007u
#define MVSIM_PIXEL_BAYERRG8 0x01080009u

// "TriggerSource" values.
#define MVSIM_TRIGGER_SOURCE_LINE0 0u
#define MVSIM_TRIGGER_SOURCE_SOFTWARE 7u

// A device to add. Texts are copied into the device record: a text as long as
// its field (32 bytes for the model name, 16 for the serial number) fills it
// with no terminator; a longer one is cut to the field.
typedef struct MvsimDeviceSetup {
    const char* modelName;
    const char* serialNumber;
    unsigned int transport;  // MVSIM_TRANSPORT_GIGE or MVSIM_TRANSPORT_USB
    unsigned int width;      // 1..65535
    unsigned int height;     // 1..65535
    unsigned int pixelType;
    float exposureMin, exposureMax, exposure;  // exposure time, microseconds
    float gainMin, gainMax, gain;              // gain, dB
    double frameRate;                          // free-running frames per second; 0 = as fast as the consumer takes them
    double linePulseRate;      // pulses per second on line 0 while grabbing (an encoder or PLC); 0 = none
    unsigned int bufferCount;  // frame buffers, 1..64
    double bandwidthMBps;      // transport bandwidth for the readout, MB/s; 0 = instant readout,
                               // < 0 = the transport's (115 GigE, 380 USB)
    int instantTiming;         // non-zero: frames take no time (no exposure, no readout)
    unsigned int ledgerSize;   // ledger entries kept, 1..16777216
    // Recorded pictures instead of the test pattern: a picture file or a
    // folder of them (null: the pattern; a relative path counts from the
    // working directory). With pictures, a width, height or pixel type of 0
    // is taken from the first picture; pictures that cannot be replayed make
    // MVSIM_AddDevice fail with MVSIM_E_PARAMETER, the reason on stderr.
    const char* images;
    int replayOnce;     // non-zero: each picture once, then no more frames until MVSIM_RewindPictures
    int stampPictures;  // non-zero: the frame stamp goes over the first bytes of each picture
    // Non-zero: each frame is the cached picture itself, not a copy of it in
    // a frame buffer, so that replay runs at the rate of the test pattern or
    // faster. The host must not write into such a frame: a write would
    // change the picture for later frames (reported on stderr when the grab
    // stops). Not with stampPictures.
    int sharePictures;
} MvsimDeviceSetup;

// Fills a setup with the stand-in's defaults (640 x 480 Mono8 GigE, exposure
// 10..1000000 at 10000, gain 0..20 at 0, frame rate 0, no pulses, 3 frame
// buffers, the transport's bandwidth, instant timing, 65536 ledger entries)
// and the given texts. Instant timing keeps tests fast; configuration files
// default to a camera's timing.
void MVSIM_DefaultSetup(MvsimDeviceSetup* setup, const char* modelName, const char* serialNumber);

// What a device currently holds; for tests that check a setting reached it.
typedef struct MvsimDeviceState {
    int present;      // 0 once unplugged or removed
    int openHandles;  // handles that hold it open (0 or 1)
    int grabbing;
    unsigned int triggerMode;       // 0 off, 1 on
    unsigned int triggerSource;     // 0 line 0, 7 software
    unsigned int exposureAuto;      // 0 off; devices start with 2 (continuous)
    unsigned int balanceWhiteAuto;  // 0 off; devices start with 1 (continuous)
    unsigned int balanceRatioRed, balanceRatioGreen, balanceRatioBlue;
    float exposure, exposureMin, exposureMax;
    float gain, gainMin, gainMax;
    unsigned int width, height, pixelType;
} MvsimDeviceState;

// Frame counters of a device since it was added. A frame event (a frame-rate
// tick, a line-0 pulse, a software trigger) is lost when it completes and no
// frame buffer is free, or when it is a trigger that arrives during an
// exposure; produced = delivered + frames generated while no callback was
// registered. Frames still in exposure, readout or a buffer when the
// acquisition stops or the device goes are neither: MVSIM_GetFrameFates
// counts every fate apart.
typedef struct MvsimCounters {
    unsigned long long produced;
    unsigned long long delivered;
    unsigned long long lost;
} MvsimCounters;

// The stamp the stand-in writes over the first bytes of every frame (as far
// as the frame is large enough), after the test pattern.
typedef struct MvsimFrameStamp {
    unsigned int magic;          // MVSIM_STAMP_MAGIC
    unsigned int frameNumber;    // same as _MV_FRAME_OUT_INFO_::nFrameNum
    float exposure;              // exposure time in effect
    float gain;                  // gain in effect
    unsigned int triggerSource;  // 0 line 0, 7 software, 0xFFFFFFFF free-running
} MvsimFrameStamp;

#define MVSIM_STAMP_MAGIC 0x5346574Bu  // "KWFS" in memory order
#define MVSIM_FREE_RUNNING 0xFFFFFFFFu

// The pattern value of pixel (x, y) of frame n, for each byte of the pixel:
// byte b of pixel (x, y) holds (x + 2*y + 3*n + 64*b) & 0xFF for 8-bit
// channels; 16-bit channels hold that value * 257.
// MVSIM_PatternValue returns (x + 2*y + 3*n + 64*channel) & 0xFF. Channels:
// Mono8 and BayerRG8 channel 0 (byte 0), RGB8 channels 0..2 (bytes 0..2),
// RGBa8 channels 0..3 (bytes 0..3), each holding the value; Mono16 channel 0
// and RGB16 channels 0..2 are little-endian uint16 (bytes 2c, 2c+1) holding
// value * 257. Other pixel types given as codes: with a whole number of
// bytes per pixel, byte b is channel b; packed ones are rows of
// ceil(width * bits / 8) bytes where byte i of a row takes x = i, channel 0.
// Frame numbers count frame events (delivered, lost, or produced with no
// callback, and MVSIM_DeliverFrame*) since a handle last opened the device,
// starting at 1.
unsigned int MVSIM_PatternValue(unsigned int x, unsigned int y, unsigned int frameNumber, unsigned int channel);

// Registry. Reset stops every acquisition thread, destroys every handle,
// removes all devices, clears faults, call log and counters, and leaves the
// registry empty (no configuration is loaded afterwards). Without a reset or a
// load, the first call into the stand-in loads $MVSIM_CONFIG, or the built-in
// default of three cameras when the variable is unset or empty.
void MVSIM_Reset(void);
int MVSIM_LoadConfig(const char* path);              // replaces the registry; MVSIM_E_CONFIG on error
int MVSIM_LoadDefaultConfig(void);                   // replaces the registry with the built-in three cameras
int MVSIM_AddDevice(const MvsimDeviceSetup* setup);  // device id >= 0, or a failure code (< 0)
int MVSIM_RemoveDevice(int deviceId);                // unlisted; its handles fail from now on
int MVSIM_UnplugDevice(int deviceId);                // frames stop; handle calls fail with MVSIM_E_NODEVICE
// Plugs an unplugged device back in: listed again under the same model and
// serial, with its configured settings, opened afresh by new handles. Handles
// made before the unplug stay dead (every call but MV_CC_DestroyHandle gives
// MVSIM_E_NODEVICE). MVSIM_E_CALLORDER when the device is present,
// MVSIM_E_NODEVICE for an unknown or removed device.
int MVSIM_ReplugDevice(int deviceId);
int MVSIM_DeviceCount(void);                                            // devices currently listed
int MVSIM_FindDevice(const char* modelName, const char* serialNumber);  // id or MVSIM_E_NODEVICE
int MVSIM_GetDeviceState(int deviceId, MvsimDeviceState* state);
int MVSIM_GetCounters(int deviceId, MvsimCounters* counters);

// Faults: the nth call (1 = the next one) of the named SDK function, counted
// from now, fails with code without doing anything. Several faults may be
// pending at once.
void MVSIM_FailCall(const char* functionName, unsigned int nth, int code);
// For tests of failure paths: the nth time (1 = the next one) the point is
// passed from now, std::bad_alloc is thrown there, as when memory runs out.
// Points: the name of any SDK or control function (thrown as the call
// begins, before it takes any lock), and "start.threads" (inside
// MV_CC_StartGrabbing, after the device's picture loader has been made
// active and before the acquisition threads start). The call fails with
// MVSIM_E_RESOURCE and says so on stderr; nothing it began stays running.
// MVSIM_ClearFaults removes these too.
void MVSIM_ThrowInCall(const char* point, unsigned int nth);
void MVSIM_ClearFaults(void);
// With on non-zero, a failing MV_CC_CreateHandle writes a non-null value that
// is no handle into its output before it returns, as some SDKs do. Reset
// turns it off.
void MVSIM_SetScribbleOnFailure(int on);

// Call log of the SDK functions (not of this interface). One entry per call:
// the function name, then each argument but the handle, separated by single
// spaces; texts unquoted, floats as %g, pointers as "ptr" or "null".
// Examples: "MV_CC_SetEnumValue TriggerSource 0", "MV_CC_SetExposureTime 100",
// "MV_CC_GetWidth ptr", "MV_CC_StartGrabbing".
// The log keeps the newest 16384 entries (a ring, so that a long run does not
// grow the process); entry 0 is the oldest kept.
int MVSIM_CallLogSize(void);
// Copies entry i (NUL-terminated, cut to cap) and returns its full length, or -1.
int MVSIM_CallLogEntry(int i, char* buffer, size_t cap);
// Entries the ring overwrote since the log was last cleared.
unsigned long long MVSIM_CallLogDropped(void);
void MVSIM_ClearCallLog(void);

// Handles created and not yet destroyed.
int MVSIM_LiveHandles(void);
// Acquisitions running now (one per grabbing device, each with a sensor and
// a delivery thread).
int MVSIM_AcquisitionThreads(void);

// Line 0: one pulse; triggers a frame when the device grabs with trigger mode
// on and source line 0. Returns 0 when the pulse started an exposure;
// MVSIM_E_CALLORDER when the device is not armed for line 0 or the pulse
// came during an exposure (missed).
int MVSIM_PulseLine0(int deviceId);

// Waits until the device's acquisition is idle: no frame in exposure,
// readout, a frame buffer or the image callback. Hosts do not need it (a
// trigger sent while frames are under way makes a frame); tests use it to
// know that everything triggered so far has settled. MVSIM_E_CALLORDER when
// the device does not grab (or stops meanwhile), when called from inside the
// device's own image callback, or when the acquisition is still busy after
// timeoutMs milliseconds.
int MVSIM_WaitIdle(int deviceId, unsigned int timeoutMs);

// Delivers one frame now through the image callback registered on the handle
// that holds the device open, whatever the trigger mode. With data null the
// frame comes from the device's own ring (pattern and stamp); otherwise data
// is passed as it is. width, height and pixelType go into the frame record
// (0 for all three: the device's own). Flags choose the thread and null
// pointers for the callback's three arguments.
#define MVSIM_DELIVER_OWN_THREAD 1u  // on a thread of the stand-in's own, joined before return
#define MVSIM_DELIVER_NULL_DATA 2u
#define MVSIM_DELIVER_NULL_INFO 4u
#define MVSIM_DELIVER_NULL_USER 8u
int MVSIM_DeliverFrame(int deviceId, unsigned int flags);
int MVSIM_DeliverFrameAs(int deviceId, unsigned char* data, unsigned int width, unsigned int height,
                         unsigned int pixelType, unsigned int flags);

// The ledger: one entry per frame event of a device, in the order of the
// events, the most recent ledgerSize of them. Times are steady-clock
// nanoseconds (the clock of _MV_FRAME_OUT_INFO_::nHostTimeStamp); 0 for a
// step the frame never reached.
#define MVSIM_CAUSE_FREE_RUN 0u  // a frame-rate tick
#define MVSIM_CAUSE_LINE0 1u     // a line-0 pulse
#define MVSIM_CAUSE_SOFTWARE 2u  // a software trigger
#define MVSIM_CAUSE_REQUEST 3u   // MVSIM_DeliverFrame*

#define MVSIM_FATE_PENDING 0u      // in exposure, readout, a buffer or the callback
#define MVSIM_FATE_DELIVERED 1u    // the callback returned
#define MVSIM_FATE_NO_BUFFER 2u    // completed with no free frame buffer
#define MVSIM_FATE_MISSED 3u       // a trigger during an exposure
#define MVSIM_FATE_DROPPED 4u      // not yet delivered when the acquisition stopped
#define MVSIM_FATE_UNPLUGGED 5u    // not yet delivered when the device was unplugged or removed
#define MVSIM_FATE_NO_CALLBACK 6u  // produced while no callback was registered
#define MVSIM_FATE_NO_PICTURE 7u   // a trigger after the last picture of a device that replays once

typedef struct MvsimLedgerEntry {
    unsigned int frameNumber;
    unsigned int cause;         // MVSIM_CAUSE_*
    unsigned int fate;          // MVSIM_FATE_*
    unsigned int pictureIndex;  // source picture of the frame, from 0 in name order; 0 for the test pattern
    long long triggerTime;      // the tick, pulse, trigger or request
    long long exposureStart;
    long long readoutEnd;     // the frame is complete
    long long deliveryStart;  // the callback is entered
    long long deliveryEnd;    // the callback returned
    int waitedForPicture;     // non-zero: the picture was not decoded in time and the sensor waited for it
} MvsimLedgerEntry;

// Entries held (>= 0), or MVSIM_E_NODEVICE.
int MVSIM_LedgerSize(int deviceId);
// Entry i, 0 being the oldest held. MVSIM_E_PARAMETER for a null entry or
// an index out of range, MVSIM_E_NODEVICE for an unknown device.
int MVSIM_LedgerEntry(int deviceId, int i, MvsimLedgerEntry* entry);

// Settled frame events of a device since it was added, by fate; lost (of
// MvsimCounters) = noBuffer + missed + noPicture.
typedef struct MvsimFrameFates {
    unsigned long long delivered;
    unsigned long long noBuffer;
    unsigned long long missed;
    unsigned long long dropped;
    unsigned long long unplugged;
    unsigned long long noCallback;
    unsigned long long noPicture;  // counted as lost too
} MvsimFrameFates;
int MVSIM_GetFrameFates(int deviceId, MvsimFrameFates* fates);

// The stand-in's one table of fates, for hosts that report losses without
// knowing the fates by heart: fates are numbered 0 .. MVSIM_FateCount() - 1
// (the MVSIM_FATE_* values). MVSIM_FateInfo gives a fate's name as the
// ledger's CSV file prints it ("no free buffer") and whether a frame of that
// fate counts as lost (MvsimCounters::lost is the sum of those); either
// pointer may be null. MVSIM_E_PARAMETER for a fate past the table.
int MVSIM_FateCount(void);
int MVSIM_FateInfo(unsigned int fate, const char** name, int* countsAsLost);
// The settled frame events of a device since it was added, counts[f] for
// fate f, for the first capacity fates (the rest are not written). Returns
// the fates written, MVSIM_E_NODEVICE for an unknown device, or
// MVSIM_E_PARAMETER for a null array.
int MVSIM_GetFateCounts(int deviceId, unsigned long long* counts, unsigned int capacity);

// The timing a device runs with, as configured: what a frame costs and how
// many the device holds. MVSIM_E_PARAMETER for a null record.
typedef struct MvsimDeviceTiming {
    double frameRate;          // frames per second at most; 0 = no limit
    double linePulseRate;      // line-0 pulses per second while grabbing; 0 = none
    double bandwidthMBps;      // readout bandwidth in effect, MB/s; 0 = instant readout
    unsigned int bufferCount;  // frame buffers
    int instantTiming;         // non-zero: frames take no time at all
} MvsimDeviceTiming;
int MVSIM_GetDeviceTiming(int deviceId, MvsimDeviceTiming* timing);

// Recorded pictures. MVSIM_SetPictures gives a device a picture file or a
// folder of pictures (path null or empty: back to the test pattern), which
// must have the device's size and are converted to its pixel type; once
// non-zero replays each picture once. MVSIM_E_CALLORDER while the device
// grabs, MVSIM_E_PARAMETER for pictures that cannot be replayed (the reason
// on stderr in one line), MVSIM_E_NODEVICE for an unknown device.
int MVSIM_SetPictures(int deviceId, const char* path, int once);
// Starts the pictures over from the first: a device that replays once and
// has shown them all delivers frames again. MVSIM_E_CALLORDER for a device
// that shows the test pattern.
int MVSIM_RewindPictures(int deviceId);
// Pictures the device replays (0 for the test pattern), or MVSIM_E_NODEVICE.
int MVSIM_PictureCount(int deviceId);
// Copies the path of picture `index` (NUL-terminated, cut to cap) and
// returns its full length; MVSIM_E_PARAMETER for an index out of range.
int MVSIM_PictureName(int deviceId, int index, char* buffer, size_t cap);

// The image callback and user pointer registered on the handle that holds the
// device open, for benchmarks that call the frame path exactly as the
// acquisition thread does, without the stand-in's locks. Both null when
// nothing is registered; MVSIM_E_PARAMETER for null out-pointers.
struct _MV_FRAME_OUT_INFO_;
int MVSIM_GetImageCallback(int deviceId, void (**callback)(unsigned char*, struct _MV_FRAME_OUT_INFO_*, void*),
                           void** user);

#ifdef __cplusplus
}  // extern "C"
#endif

#endif  // MVSIM_CONTROL_H
