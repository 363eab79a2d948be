// The Python bindings: kwcamera.cameras, Camera, Frame and the errors.
//
// The interpreter lock: the SDK's thread never takes it (the frame callback
// only fills the ring). A grab that finds a frame ready keeps the lock; one
// that has to wait gives it up in slices of kSlice and, between slices,
// takes it back only to let Python handle signals, so that Ctrl-C ends a
// waiting grab with KeyboardInterrupt. Opening, starting, stopping and
// closing give the lock up too: they wait on the SDK.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <QtCore/QVariantList>
#include <QtCore/QVariantMap>

#include <chrono>
#include <memory>
#include <mutex>
#include <set>

#include "camera.h"
#include "session.h"

namespace py = pybind11;

namespace kwpy {

namespace {

using Clock = std::chrono::steady_clock;
const auto kSlice = std::chrono::milliseconds(20);

PyObject* g_cameraError = nullptr;
PyObject* g_timeout = nullptr;

[[noreturn]] void raise(PyObject* type, const QString& message)
{
    PyErr_SetString(type, message.toUtf8().constData());
    throw py::error_already_set();
}

QString text(const py::object& value, const char* name)
{
    if (value.is_none())
        return QString();
    if (!py::isinstance<py::str>(value))
        throw py::type_error(std::string(name) + " must be a str or None");
    return QString::fromStdString(value.cast<std::string>());
}

// The open cameras, closed before the interpreter goes: the SDK's threads
// must not outlive the process's teardown.
std::mutex g_openMutex;
std::set<std::shared_ptr<CameraCore>>* g_open = new std::set<std::shared_ptr<CameraCore>>;

void closeAll()
{
    std::set<std::shared_ptr<CameraCore>> open;
    {
        std::lock_guard<std::mutex> lock(g_openMutex);
        open.swap(*g_open);
    }
    py::gil_scoped_release release;
    for (const auto& core : open)
        core->close();
}

const kwhost::Plugin& host(const py::object& sdk, const py::object& plugin)
{
    const QString sdkText = text(sdk, "sdk");
    const QString pluginText = text(plugin, "plugin");
    QString notice;
    const kwhost::Plugin* loaded = nullptr;
    {
        py::gil_scoped_release release;
        loaded = &loadHost(sdkText, pluginText, &notice);
    }
    if (!notice.isEmpty() && PyErr_WarnEx(PyExc_RuntimeWarning, notice.toUtf8().constData(), 1) != 0)
        throw py::error_already_set();
    return *loaded;
}

kwhost::TriggerChoice triggerOf(const std::string& word)
{
    if (word == "free-running")
        return kwhost::TriggerChoice::Free;
    if (word == "software")
        return kwhost::TriggerChoice::Software;
    if (word == "hardware")
        return kwhost::TriggerChoice::Hardware;
    throw py::value_error("trigger '" + word + "' is none of 'free-running', 'software', 'hardware'");
}

const char* triggerName(kwhost::TriggerChoice trigger)
{
    switch (trigger) {
    case kwhost::TriggerChoice::Software:
        return "software";
    case kwhost::TriggerChoice::Hardware:
        return "hardware";
    case kwhost::TriggerChoice::Free:
        break;
    }
    return "free-running";
}

py::object toPython(const QVariant& value)
{
    switch (static_cast<int>(value.type())) {
    case QMetaType::UnknownType:
        return py::none();
    case QMetaType::Bool:
        return py::bool_(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
        return py::int_(value.toLongLong());
    case QMetaType::Double:
    case QMetaType::Float:
        return py::float_(value.toDouble());
    case QMetaType::QVariantList: {
        py::list list;
        for (const QVariant& item : value.toList())
            list.append(toPython(item));
        return py::tuple(list);
    }
    case QMetaType::QVariantMap: {
        py::dict dict;
        const QVariantMap map = value.toMap();
        for (auto it = map.begin(); it != map.end(); ++it)
            dict[py::str(it.key().toStdString())] = toPython(it.value());
        return dict;
    }
    default:
        return py::str(value.toString().toStdString());
    }
}

py::object rangeOf(const Range& range)
{
    if (!range.known)
        return py::none();
    return py::make_tuple(range.min, range.max);
}

struct Frame {
    py::object image;
    quint64 number = 0;
    qint64 timestampNs = 0;
    py::str pixelType;
    quint64 lostBefore = 0;
};

// The memory of one frame's array: back to its pool when the array goes.
struct ArrayMemory {
    unsigned char* data;
    std::shared_ptr<BufferPool> pool;
};

// A spare buffer held by a grab; back to the pool unless it became a frame.
class Spare {
public:
    explicit Spare(std::shared_ptr<BufferPool> pool) : m_pool(std::move(pool)), m_data(m_pool->take())
    {
        if (m_data == nullptr)
            throw std::bad_alloc();
    }
    ~Spare() { m_pool->giveBack(m_data); }
    Spare(const Spare&) = delete;
    Spare& operator=(const Spare&) = delete;
    unsigned char** slot() { return &m_data; }
    unsigned char* release()
    {
        unsigned char* data = m_data;
        m_data = nullptr;
        return data;
    }

private:
    std::shared_ptr<BufferPool> m_pool;
    unsigned char* m_data;
};

class PyCamera {
public:
    PyCamera(const py::object& choice, const py::object& sdk, const py::object& plugin, const std::string& trigger,
             int buffers)
    {
        if (buffers < 1 || buffers > 1024)
            throw py::value_error("buffers " + std::to_string(buffers) + " is out of range: 1 to 1024");
        const kwhost::TriggerChoice triggerChoice = triggerOf(trigger);
        QString wanted;
        if (py::isinstance<py::int_>(choice) && !py::isinstance<py::bool_>(choice))
            wanted = QString::number(choice.cast<long long>());
        else
            wanted = text(choice, "camera");
        const kwhost::Plugin& plugin_ = host(sdk, plugin);
        {
            py::gil_scoped_release release;
            const QString key = chooseKey(plugin_, wanted);
            m_core = std::make_shared<CameraCore>(plugin_, key, triggerChoice, buffers);
        }
        m_pixelType = py::str(m_core->pixelTypeName().toStdString());
        std::lock_guard<std::mutex> lock(g_openMutex);
        g_open->insert(m_core);
    }

    // Garbage collection: no waiting grab holds this object any more.
    ~PyCamera()
    {
        if (m_core)
            close(false);
    }

    void close(bool releaseLock = true)
    {
        {
            std::lock_guard<std::mutex> lock(g_openMutex);
            g_open->erase(m_core);
        }
        if (releaseLock) {
            py::gil_scoped_release release;
            m_core->close();
        } else {
            m_core->close();
        }
    }

    void start()
    {
        py::gil_scoped_release release;
        m_core->start();
    }

    void stop()
    {
        py::gil_scoped_release release;
        m_core->stop();
    }

    Frame grab(const py::object& timeout)
    {
        double seconds = -1;
        if (!timeout.is_none()) {
            seconds = timeout.cast<double>();
            if (!(seconds >= 0))
                throw py::value_error("timeout must be None or at least 0 seconds");
        }
        if (!m_core->isGrabbing())
            start();
        const std::shared_ptr<FrameRing>& ring = m_core->ring();
        const Clock::time_point begin = Clock::now();
        const bool forever = seconds < 0 || seconds > 1e9;
        const Clock::time_point deadline = forever
            ? Clock::time_point::max()
            : begin + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));

        Spare spare(ring->pool());
        FrameMeta meta;
        FrameRing::Taken taken = ring->pop(spare.slot(), &meta, begin);
        while (taken == FrameRing::Taken::Empty) {
            if (Clock::now() >= deadline)
                raise(g_timeout, QStringLiteral("no frame from camera %1 within %2 s").arg(m_core->key()).arg(seconds));
            {
                py::gil_scoped_release release;
                const Clock::time_point until = std::min(deadline, Clock::now() + kSlice);
                taken = ring->pop(spare.slot(), &meta, until);
            }
            if (taken == FrameRing::Taken::Empty && PyErr_CheckSignals() != 0)
                throw py::error_already_set();
        }
        if (taken == FrameRing::Taken::Closed)
            raise(g_cameraError, QStringLiteral("camera %1 is closed").arg(m_core->key()));
        if (taken == FrameRing::Taken::Stopped)
            raise(g_cameraError, QStringLiteral("camera %1 was stopped while grab waited").arg(m_core->key()));

        Frame frame;
        frame.number = meta.number;
        frame.timestampNs = meta.timestampNs;
        frame.pixelType = m_pixelType;
        frame.lostBefore = meta.droppedBefore + m_core->takeDeviceLosses();
        frame.image = arrayOf(spare.release(), meta, ring->pool());
        return frame;
    }

    py::object arrayOf(unsigned char* data, const FrameMeta& meta, const std::shared_ptr<BufferPool>& pool)
    {
        auto* memory = new ArrayMemory{data, pool};
        py::capsule owner(memory, [](void* p) {
            auto* m = static_cast<ArrayMemory*>(p);
            m->pool->giveBack(m->data);
            delete m;
        });
        const py::ssize_t h = meta.height;
        const py::ssize_t w = meta.width;
        switch (m_core->layout()) {
        case kwhost::PixelLayout::Gray16:
            return py::array(py::dtype::of<uint16_t>(), {h, w}, {w * 2, py::ssize_t(2)}, data, owner);
        case kwhost::PixelLayout::Rgb24:
        case kwhost::PixelLayout::Bgr24:
            return py::array(py::dtype::of<uint8_t>(), {h, w, py::ssize_t(3)}, {w * 3, py::ssize_t(3), py::ssize_t(1)},
                             data, owner);
        case kwhost::PixelLayout::Rgba32:
        case kwhost::PixelLayout::Bgra32:
            return py::array(py::dtype::of<uint8_t>(), {h, w, py::ssize_t(4)}, {w * 4, py::ssize_t(4), py::ssize_t(1)},
                             data, owner);
        case kwhost::PixelLayout::Rgb48:
            return py::array(py::dtype::of<uint16_t>(), {h, w, py::ssize_t(3)}, {w * 6, py::ssize_t(6), py::ssize_t(2)},
                             data, owner);
        case kwhost::PixelLayout::Gray8:
        case kwhost::PixelLayout::Unknown:
            break;
        }
        return py::array(py::dtype::of<uint8_t>(), {h, w}, {w, py::ssize_t(1)}, data, owner);
    }

    void snap()
    {
        py::gil_scoped_release release;
        m_core->snap();
    }

    void pulse()
    {
        py::gil_scoped_release release;
        m_core->pulse();
    }

    py::object whiteBalance()
    {
        unsigned int ratios[3];
        if (!m_core->whiteBalance(ratios))
            return py::none();
        return py::make_tuple(ratios[0], ratios[1], ratios[2]);
    }

    void setWhiteBalance(const py::object& value)
    {
        const py::sequence ratios = value.cast<py::sequence>();
        if (ratios.size() != 3)
            throw py::value_error("white_balance takes three ratios (red, green, blue)");
        long long values[3];
        for (size_t i = 0; i < 3; ++i)
            values[i] = ratios[i].cast<long long>();
        m_core->setWhiteBalance(values);
    }

    py::dict lost()
    {
        const Losses losses = m_core->lost();
        py::dict counts;
        counts["ring_full"] = losses.ringFull;
        counts["too_large"] = losses.tooLarge;
        // The device's causes as the simulator's table of fates names them.
        for (const kwhost::LossCause& cause : losses.device.causes) {
            if (cause.countsAsLost)
                counts[py::str(QString(cause.name).replace(QLatin1Char(' '), QLatin1Char('_')).toStdString())] =
                    cause.count;
        }
        counts["total"] = losses.total();
        return counts;
    }

    CameraCore& core() { return *m_core; }
    const std::shared_ptr<CameraCore>& corePointer() const { return m_core; }

private:
    std::shared_ptr<CameraCore> m_core;
    py::str m_pixelType;
};

class FrameIterator {
public:
    FrameIterator(PyCamera& camera, const py::object& count, py::object timeout)
        : m_camera(camera), m_timeout(std::move(timeout))
    {
        if (!count.is_none()) {
            const long long n = count.cast<long long>();
            if (n < 0)
                throw py::value_error("count must be None or at least 0");
            m_remaining = n;
        }
    }
    Frame next()
    {
        if (m_remaining == 0)
            throw py::stop_iteration();
        Frame frame = m_camera.grab(m_timeout);
        if (m_remaining > 0)
            --m_remaining;
        return frame;
    }

private:
    PyCamera& m_camera;
    py::object m_timeout;
    long long m_remaining = -1;  // -1: for ever
};

}  // namespace

}  // namespace kwpy

using namespace kwpy;

PYBIND11_MODULE(_kwcamera, m)
{
    m.doc() = "Cameras of the kwcamera plug-in contract, with frames as numpy arrays.";

    g_cameraError = PyErr_NewExceptionWithDoc("kwcamera.CameraError",
                                              "A camera, the plug-in or the SDK failed; the message says why.",
                                              PyExc_Exception, nullptr);
    const py::tuple timeoutBases = py::make_tuple(py::handle(g_cameraError), py::handle(PyExc_TimeoutError));
    g_timeout = PyErr_NewExceptionWithDoc("kwcamera.Timeout", "No frame came within the time-out.", timeoutBases.ptr(),
                                          nullptr);
    m.attr("CameraError") = py::handle(g_cameraError);
    m.attr("Timeout") = py::handle(g_timeout);

    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p)
                std::rethrow_exception(p);
        } catch (const HostFailure& failure) {
            PyErr_SetString(g_cameraError, failure.what());
        } catch (const ValueFailure& failure) {
            PyErr_SetString(PyExc_ValueError, failure.what());
        }
    });

    m.def(
        "cameras",
        [](const py::object& sdk, const py::object& plugin) {
            const kwhost::Plugin& loaded = host(sdk, plugin);
            QStringList keys;
            {
                py::gil_scoped_release release;
                keys = cameraKeys(loaded);
            }
            py::list result;
            for (const QString& key : keys)
                result.append(py::str(key.toStdString()));
            return result;
        },
        py::arg("sdk") = py::none(), py::arg("plugin") = py::none(), "The camera keys, as `kwcam list` prints them.");

    py::class_<Frame>(m, "Frame", "One frame: its pixels and what is known of it.")
        .def_readonly("image", &Frame::image)
        .def_readonly("number", &Frame::number)
        .def_readonly("timestamp_ns", &Frame::timestampNs)
        .def_readonly("pixel_type", &Frame::pixelType)
        .def_readonly("lost_before", &Frame::lostBefore)
        .def("__repr__", [](const Frame& frame) {
            const py::object shape = frame.image.attr("shape");
            return py::str("<kwcamera.Frame {} {} {} lost_before={}>")
                .format(frame.number, frame.pixelType, shape, frame.lostBefore);
        });

    py::class_<FrameIterator>(m, "FrameIterator")
        .def("__iter__", [](FrameIterator& it) -> FrameIterator& { return it; })
        .def("__next__", &FrameIterator::next);

    py::class_<PyCamera>(m, "Camera", "An open camera of the plug-in.")
        .def(py::init<const py::object&, const py::object&, const py::object&, const std::string&, int>(),
             py::arg("camera") = py::none(), py::kw_only(), py::arg("sdk") = py::none(), py::arg("plugin") = py::none(),
             py::arg("trigger") = "free-running", py::arg("buffers") = 8)
        .def("close", [](PyCamera& camera) { camera.close(); })
        .def_property_readonly("closed", [](PyCamera& camera) { return camera.core().isClosed(); })
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__",
             [](PyCamera& camera, const py::object&, const py::object&, const py::object&) {
                 camera.close();
                 return false;
             })
        .def("start", &PyCamera::start)
        .def("stop", &PyCamera::stop)
        .def("grab", &PyCamera::grab, py::arg("timeout") = py::none())
        .def(
            "frames",
            [](PyCamera& camera, const py::object& count, const py::object& timeout) {
                return FrameIterator(camera, count, timeout);
            },
            py::arg("count") = py::none(), py::arg("timeout") = py::none(), py::keep_alive<0, 1>())
        .def("snap", &PyCamera::snap)
        .def("pulse", &PyCamera::pulse)
        .def_property(
            "exposure", [](PyCamera& camera) { return camera.core().exposure(); },
            [](PyCamera& camera, double value) { camera.core().setExposure(value); })
        .def_property_readonly("exposure_range",
                               [](PyCamera& camera) { return rangeOf(camera.core().exposureRange()); })
        .def_property(
            "gain", [](PyCamera& camera) { return camera.core().gain(); },
            [](PyCamera& camera, double value) { camera.core().setGain(value); })
        .def_property_readonly("gain_range", [](PyCamera& camera) { return rangeOf(camera.core().gainRange()); })
        .def_property("white_balance", &PyCamera::whiteBalance, &PyCamera::setWhiteBalance)
        .def_property(
            "trigger", [](PyCamera& camera) { return triggerName(camera.core().trigger()); },
            [](PyCamera& camera, const std::string& word) {
                const kwhost::TriggerChoice trigger = triggerOf(word);
                py::gil_scoped_release release;
                camera.core().setTrigger(trigger);
            })
        .def_property_readonly("key", [](PyCamera& camera) { return camera.core().key().toStdString(); })
        .def("info", [](PyCamera& camera) { return toPython(camera.core().info()); })
        .def_property_readonly("lost", &PyCamera::lost)
        .def("__repr__", [](PyCamera& camera) {
            return "<kwcamera.Camera '" + camera.core().key().toStdString() + "'" +
                (camera.core().isClosed() ? " closed>" : ">");
        });

    py::module_::import("atexit").attr("register")(py::cpp_function([]() { closeAll(); }));
    // numpy now rather than at the first frame's array: importing it takes
    // long enough for a camera to fill its ring meanwhile.
    py::module_::import("numpy");
}
