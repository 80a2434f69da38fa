// The player SDK of sdk/PlaySdk.h: one port (0) for the whole program. Input
// arrives on the device SDK's thread and is decoded there, at once: the view
// gets the newest picture and older ones are dropped, so a slow screen never
// makes a queue. Open, play, stop and close come from the GUI thread.

#include "PlaySdk.h"

#include <QApplication>
#include <QPointer>
#include <QThread>
#include <QWidget>

#include <memory>
#include <mutex>

#include "H264Decoder.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"

using namespace scoutrix::play;

namespace {

// Decoded pictures handed to the decode callback are RGB32.
constexpr int32_t kFrameTypeRgb32 = 3;

struct Port
{
    std::mutex mutex; // input against stop and close
    bool open = false;
    int32_t bufferSize = 0;
    std::unique_ptr<H264Decoder> decoder;
    QPointer<PlayerView> view;
    PlaySdkDecodeCallback callback = nullptr;
    void *user = nullptr;
    PortStats stats;
    QString stalledText;
};

Port &port0()
{
    static Port p;
    return p;
}

bool onGuiThread()
{
    return QCoreApplication::instance() && QThread::currentThread() == QCoreApplication::instance()->thread();
}

void dropView(Port &p)
{
    // Deleted here, on the GUI thread, with the port locked: no input can be
    // offering it a picture at this moment.
    delete p.view.data();
    p.view = nullptr;
}

} // namespace

namespace scoutrix::play {

void setStalledText(const QString &text)
{
    std::lock_guard<std::mutex> lock(port0().mutex);
    port0().stalledText = text;
    if (port0().view)
        port0().view->setStalledText(text);
}

QString stalledText()
{
    std::lock_guard<std::mutex> lock(port0().mutex);
    return port0().stalledText;
}

PlayerView *portView()
{
    std::lock_guard<std::mutex> lock(port0().mutex);
    return port0().view.data();
}

PortStats portStats()
{
    std::lock_guard<std::mutex> lock(port0().mutex);
    return port0().stats;
}

} // namespace scoutrix::play

extern "C" {

int32_t PlaySdk_OpenStream(int32_t port, const char *, int32_t headerSize, int32_t bufferSize)
{
    if (port != 0 || headerSize < 0 || bufferSize <= 0)
        return 0;
    Port &p = port0();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (p.open)
        return 0; // one preview at a time
    auto decoder = std::make_unique<H264Decoder>();
    if (!decoder->valid())
        return 0;
    p.decoder = std::move(decoder);
    p.bufferSize = bufferSize;
    p.callback = nullptr;
    p.user = nullptr;
    p.stats = PortStats();
    p.open = true;
    return 1;
}

int32_t PlaySdk_Play(int32_t port, uintptr_t window)
{
    if (port != 0 || !onGuiThread())
        return 0;
    QWidget *target = QWidget::find(WId(window));
    Port &p = port0();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.open || !target)
        return 0;
    dropView(p);
    p.view = new PlayerView(target);
    if (!p.stalledText.isEmpty())
        p.view->setStalledText(p.stalledText);
    return 1;
}

int32_t PlaySdk_SetDecodeCallback(int32_t port, PlaySdkDecodeCallback callback, void *user)
{
    if (port != 0)
        return 0;
    Port &p = port0();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.open)
        return 0;
    p.callback = callback;
    p.user = user;
    return 1;
}

int32_t PlaySdk_InputData(int32_t port, const char *data, int32_t length)
{
    if (port != 0)
        return 0;
    Port &p = port0();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (!p.open || !data || length <= 0 || length > p.bufferSize) {
        ++p.stats.refused;
        return 0;
    }
    ++p.stats.inputs;
    const bool ok = p.decoder->feedAccessUnit(reinterpret_cast<const uint8_t *>(data), std::size_t(length),
                                    [&p](DecodedFrame &&f) {
        ++p.stats.frames;
        p.stats.lastDecodeMs = f.decodeMs;
        p.stats.lastConvertMs = f.convertMs;
        if (p.callback) {
            QImage &img = f.image;
            p.callback(0, reinterpret_cast<char *>(img.bits()), int32_t(img.sizeInBytes()), img.width(),
                       img.height(), int32_t(f.index), kFrameTypeRgb32, p.user);
        }
        if (p.view)
            p.view->offer(std::move(f.image));
    });
    return ok ? 1 : 0;
}

int32_t PlaySdk_Stop(int32_t port)
{
    if (port != 0)
        return 0;
    Port &p = port0();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (onGuiThread())
        dropView(p);
    return 1;
}

int32_t PlaySdk_CloseStream(int32_t port)
{
    if (port != 0)
        return 0;
    Port &p = port0();
    std::lock_guard<std::mutex> lock(p.mutex);
    if (onGuiThread())
        dropView(p);
    p.decoder.reset();
    p.callback = nullptr;
    p.user = nullptr;
    p.open = false;
    return 1;
}

} // extern "C"
