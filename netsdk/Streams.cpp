// Live streams: the stream handle table, the sink's delivery thread and the
// C entry points' logic.

#include <map>

#include "Internal.h"
#include "Protocol.h"
#include "StreamSink.h"

namespace scoutrix::netsdk {

namespace {

// A callback slower than the stream lets this many access units wait; more
// and they are dropped up to the next key frame, so memory stays bounded.
constexpr std::size_t kMaxQueuedUnits = 100;

bool hasKeyFrame(const uint8_t *p, std::size_t n)
{
    for (std::size_t i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0x1f) == 5)
            return true;
    }
    return false;
}

struct StreamEntry
{
    std::shared_ptr<StreamSink> sink;
    int32_t login = 0;
    uint32_t deviceId = 0;
};

std::mutex g_mutex;
std::map<int32_t, StreamEntry> g_streams;
int32_t g_nextHandle = 0;

std::shared_ptr<StreamSink> findSink(int32_t handle)
{
    std::lock_guard<std::mutex> lock(g_mutex);
    const auto it = g_streams.find(handle);
    return it == g_streams.end() ? nullptr : it->second.sink;
}

} // namespace

StreamSink::~StreamSink()
{
    // Only when stop() never ran, e.g. at exit: the thread holds a reference
    // to this, so reaching here means it has already finished.
    if (m_thread.joinable())
        m_thread.detach();
}

void StreamSink::startThread()
{
    auto self = shared_from_this();
    m_thread = std::thread([self] { self->run(); });
}

void StreamSink::push(uint32_t type, const uint8_t *data, std::size_t size)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_ended || m_stopping)
        return;
    if (m_queue.size() >= kMaxQueuedUnits) {
        m_queue.clear();
        m_skipToKey = true;
    }
    if (m_skipToKey) {
        if (!hasKeyFrame(data, size))
            return;
        m_skipToKey = false;
    }
    m_queue.push_back(Unit { type, std::vector<uint8_t>(data, data + size) });
    m_cv.notify_all();
}

void StreamSink::end()
{
    std::lock_guard<std::mutex> lock(m_mutex);
    m_ended = true;
    m_queue.clear();
    m_cv.notify_all();
}

void StreamSink::setCallback(NetSdkDataCallback callback, void *user)
{
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_stopping)
        return;
    m_callback = callback;
    m_user = user;
    m_cv.notify_all();
}

bool StreamSink::clearCallback(NetSdkDataCallback callback, void *user)
{
    std::unique_lock<std::mutex> lock(m_mutex);
    if (m_callback != callback || m_user != user)
        return false;
    m_callback = nullptr;
    m_user = nullptr;
    // From inside the callback itself the call in progress is the caller's
    // own; waiting for it would never end.
    if (std::this_thread::get_id() != m_threadId)
        m_cv.wait(lock, [this] { return !m_inCallback; });
    return true;
}

void StreamSink::stop()
{
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_stopping = true;
        m_callback = nullptr;
        m_user = nullptr;
        m_queue.clear();
        m_cv.notify_all();
    }
    if (!m_thread.joinable())
        return;
    if (std::this_thread::get_id() == m_thread.get_id())
        m_thread.detach(); // it ends once the callback it runs returns
    else
        m_thread.join();
}

void StreamSink::run()
{
    std::unique_lock<std::mutex> lock(m_mutex);
    m_threadId = std::this_thread::get_id();
    for (;;) {
        m_cv.wait(lock, [this] { return m_stopping || (!m_queue.empty() && m_callback); });
        if (m_stopping)
            return;
        Unit unit = std::move(m_queue.front());
        m_queue.pop_front();
        const NetSdkDataCallback callback = m_callback;
        void *const user = m_user;
        m_inCallback = true;
        lock.unlock();
        callback(m_handle, int32_t(unit.type), reinterpret_cast<char *>(unit.data.data()),
            int32_t(unit.data.size()), user);
        lock.lock();
        m_inCallback = false;
        m_cv.notify_all();
    }
}

int32_t startRealStream(int32_t loginHandle, const void *request)
{
    if (!request)
        return proto::InvalidArgument;
    const uint8_t *bytes = static_cast<const uint8_t *>(request);
    proto::StreamRequest req;
    if (!proto::decode(std::vector<uint8_t>(bytes, bytes + proto::StreamRequestSize), req))
        return proto::InvalidArgument;
    int32_t handle;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        do {
            g_nextHandle = g_nextHandle == kOwnHandleLimit - 1 ? 1 : g_nextHandle + 1;
        } while (g_streams.count(g_nextHandle));
        handle = g_nextHandle;
        g_streams[handle] = StreamEntry {}; // reserved while the device answers
    }
    auto sink = std::make_shared<StreamSink>(handle);
    sink->startThread();
    uint32_t deviceId = 0;
    const int32_t r = openStream(loginHandle, req, sink, deviceId);
    std::lock_guard<std::mutex> lock(g_mutex);
    if (r != proto::Ok) {
        g_streams.erase(handle);
        sink->stop();
        return r < 0 ? r : int32_t(proto::Fail);
    }
    g_streams[handle] = StreamEntry { sink, loginHandle, deviceId };
    return handle;
}

int32_t setStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user)
{
    const auto sink = findSink(streamHandle);
    if (!sink)
        return proto::InvalidHandle;
    sink->setCallback(callback, user);
    return proto::Ok;
}

int32_t clearStreamCallback(int32_t streamHandle, NetSdkDataCallback callback, void *user)
{
    const auto sink = findSink(streamHandle);
    if (!sink)
        return proto::InvalidHandle;
    return sink->clearCallback(callback, user) ? int32_t(proto::Ok) : int32_t(proto::InvalidArgument);
}

int32_t stopRealStream(int32_t streamHandle)
{
    StreamEntry entry;
    {
        std::lock_guard<std::mutex> lock(g_mutex);
        const auto it = g_streams.find(streamHandle);
        if (it == g_streams.end() || !it->second.sink)
            return proto::InvalidHandle;
        entry = std::move(it->second);
        g_streams.erase(it);
    }
    // The callbacks end first: whatever the device still sends is dropped.
    entry.sink->stop();
    return closeStream(entry.login, entry.deviceId);
}

} // namespace scoutrix::netsdk
