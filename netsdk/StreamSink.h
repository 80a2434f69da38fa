#pragma once
// The client end of one live stream: the session's reader hands it the
// device's access units, and a thread of its own calls the data callback,
// so a slow callback holds up neither the reader nor other sessions.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "NetSdk.h"

namespace scoutrix::netsdk {

class StreamSink : public std::enable_shared_from_this<StreamSink>
{
public:
    explicit StreamSink(int32_t handle)
        : m_handle(handle)
    {
    }
    ~StreamSink();

    int32_t handle() const { return m_handle; }
    void startThread();

    // Reader thread: one access unit of |type|.
    void push(uint32_t type, const uint8_t *data, std::size_t size);
    // The session is over: nothing queued or still to come is handed out.
    void end();

    void setCallback(NetSdkDataCallback callback, void *user);
    // False when |callback| and |user| are not the ones set. On return no
    // call of them runs or will run, except the one this is called from.
    bool clearCallback(NetSdkDataCallback callback, void *user);
    // Ends the thread; on return no callback runs (but the one this may be
    // called from).
    void stop();

private:
    void run();

    const int32_t m_handle;
    std::mutex m_mutex;
    std::condition_variable m_cv;
    struct Unit
    {
        uint32_t type;
        std::vector<uint8_t> data;
    };
    std::deque<Unit> m_queue;
    bool m_skipToKey = false; // after an overflow, until the next key frame
    bool m_ended = false;
    bool m_stopping = false;
    NetSdkDataCallback m_callback = nullptr;
    void *m_user = nullptr;
    bool m_inCallback = false;
    std::thread::id m_threadId;
    std::thread m_thread;
};

} // namespace scoutrix::netsdk
