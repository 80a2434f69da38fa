#include "RtspReader.h"

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <thread>
#include <vector>

extern "C" {
#include <libavcodec/bsf.h>
#include <libavformat/avformat.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
}

namespace scoutrix::rtsp {

namespace {

using Clock = std::chrono::steady_clock;

int64_t nowNs()
{
    return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
        .count();
}

// Whether the Annex B data holds a sequence parameter set.
bool hasSps(const uint8_t *p, std::size_t n)
{
    for (std::size_t i = 0; i + 3 < n; ++i) {
        if (p[i] == 0 && p[i + 1] == 0 && p[i + 2] == 1 && (p[i + 3] & 0x1f) == 7)
            return true;
    }
    return false;
}

bool isAnnexB(const uint8_t *p, int n)
{
    return n >= 4 && p[0] == 0 && p[1] == 0 && (p[2] == 1 || (p[2] == 0 && p[3] == 1));
}

std::string avText(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

} // namespace

const char *readErrorText(ReadError error)
{
    switch (error) {
    case ReadError::Unauthorized:
        return "the camera refused the user name or password";
    case ReadError::NotFound:
        return "the camera has no such stream";
    case ReadError::Unreachable:
        return "the camera cannot be reached";
    case ReadError::Timeout:
        return "the camera did not answer in time";
    case ReadError::Closed:
        return "the camera ended the stream";
    case ReadError::NoVideo:
        return "the stream has no H.264 video";
    case ReadError::Failed:
        break;
    }
    return "the stream failed";
}

struct RtspReader::Impl
{
    // Polled by libavformat while it waits on the network.
    static int interrupted(void *p)
    {
        Impl &d = *static_cast<Impl *>(p);
        if (d.stopping.load() && !d.closing.load())
            return 1;
        if (nowNs() > d.deadlineNs.load()) {
            d.timedOut = true;
            return 1;
        }
        return 0;
    }

    void armDeadline(int ms) { deadlineNs = nowNs() + int64_t(ms) * 1000000; }

    void run();
    void end(ReadError error, const std::string &message)
    {
        finished = true;
        if (!stopping.load() && onEnd)
            onEnd(error, message);
    }
    // Reads until the stream ends or the reader stops.
    void readLoop(AVFormatContext *fmt, int video, AVBSFContext *bsf);
    void deliver(AVPacket *pkt, const AVStream *stream);

    std::string url;
    UnitCallback onUnit;
    EndCallback onEnd;
    ReaderOptions options;
    std::atomic<bool> stopping { false };
    std::atomic<bool> closing { false }; // stopping, but the goodbye may still go out
    std::atomic<bool> finished { false };
    std::atomic<int64_t> deadlineNs { 0 };
    std::atomic<bool> timedOut { false };
    std::vector<uint8_t> parameterSets; // Annex B, from the session description
    std::vector<uint8_t> scratch;
};

void RtspReader::Impl::run()
{
    AVFormatContext *fmt = avformat_alloc_context();
    if (!fmt) {
        end(ReadError::Failed, "out of memory");
        return;
    }
    fmt->interrupt_callback.callback = &Impl::interrupted;
    fmt->interrupt_callback.opaque = this;
    AVDictionary *opts = nullptr;
    av_dict_set(&opts, "rtsp_transport", "tcp", 0);
    // The socket's own limit, beside the deadline the interrupt keeps.
    av_dict_set_int(&opts, "timeout",
        int64_t(std::max(options.connectTimeoutMs, options.readTimeoutMs)) * 1000, 0);
    armDeadline(options.connectTimeoutMs);
    const int opened
        = avformat_open_input(&fmt, url.c_str(), nullptr, &opts); // frees |fmt| on failure
    av_dict_free(&opts);
    if (opened < 0) {
        if (timedOut)
            end(ReadError::Timeout, readErrorText(ReadError::Timeout));
        else if (opened == AVERROR_HTTP_UNAUTHORIZED || opened == AVERROR_HTTP_FORBIDDEN)
            end(ReadError::Unauthorized, readErrorText(ReadError::Unauthorized));
        else if (opened == AVERROR_HTTP_NOT_FOUND)
            end(ReadError::NotFound, readErrorText(ReadError::NotFound));
        else if (opened == AVERROR(ECONNREFUSED) || opened == AVERROR(EHOSTUNREACH)
            || opened == AVERROR(ENETUNREACH) || opened == AVERROR(ECONNRESET))
            end(ReadError::Unreachable,
                readErrorText(ReadError::Unreachable) + (": " + avText(opened)));
        else
            end(ReadError::Failed, readErrorText(ReadError::Failed) + (": " + avText(opened)));
        return;
    }

    const int video = av_find_best_stream(fmt, AVMEDIA_TYPE_VIDEO, -1, -1, nullptr, 0);
    AVBSFContext *bsf = nullptr;
    if (video < 0 || fmt->streams[video]->codecpar->codec_id != AV_CODEC_ID_H264) {
        end(ReadError::NoVideo, readErrorText(ReadError::NoVideo));
    } else {
        const AVCodecParameters *par = fmt->streams[video]->codecpar;
        bool ready = true;
        if (par->extradata_size > 0 && par->extradata[0] == 1) {
            // Length-prefixed units with an avcC record: turned into Annex B,
            // parameter sets before each key frame.
            const AVBitStreamFilter *filter = av_bsf_get_by_name("h264_mp4toannexb");
            if (!filter || av_bsf_alloc(filter, &bsf) < 0
                || avcodec_parameters_copy(bsf->par_in, par) < 0 || av_bsf_init(bsf) < 0) {
                av_bsf_free(&bsf);
                ready = false;
                end(ReadError::Failed, "no Annex B conversion");
            }
        } else if (isAnnexB(par->extradata, par->extradata_size)) {
            parameterSets.assign(par->extradata, par->extradata + par->extradata_size);
        }
        if (ready)
            readLoop(fmt, video, bsf);
    }
    av_bsf_free(&bsf);
    // A stop lets the goodbye (TEARDOWN) go out, briefly.
    closing = true;
    armDeadline(200);
    avformat_close_input(&fmt);
}

void RtspReader::Impl::readLoop(AVFormatContext *fmt, int video, AVBSFContext *bsf)
{
    AVPacket *pkt = av_packet_alloc();
    armDeadline(options.readTimeoutMs);
    while (!stopping.load()) {
        const int r = av_read_frame(fmt, pkt);
        if (r < 0) {
            if (timedOut)
                end(ReadError::Timeout,
                    "no picture from the camera for " + std::to_string(options.readTimeoutMs)
                        + " ms");
            else if (r == AVERROR_EOF)
                end(ReadError::Closed, readErrorText(ReadError::Closed));
            else
                end(ReadError::Closed, readErrorText(ReadError::Closed) + (": " + avText(r)));
            break;
        }
        if (pkt->stream_index != video || pkt->size <= 0) {
            av_packet_unref(pkt);
            continue;
        }
        armDeadline(options.readTimeoutMs);
        if (!bsf) {
            deliver(pkt, fmt->streams[video]);
            av_packet_unref(pkt);
            continue;
        }
        if (av_bsf_send_packet(bsf, pkt) < 0) {
            av_packet_unref(pkt);
            continue; // a damaged unit; the next key frame recovers
        }
        while (av_bsf_receive_packet(bsf, pkt) == 0) {
            deliver(pkt, fmt->streams[video]);
            av_packet_unref(pkt);
        }
    }
    av_packet_free(&pkt);
}

void RtspReader::Impl::deliver(AVPacket *pkt, const AVStream *stream)
{
    AccessUnit au;
    au.key = (pkt->flags & AV_PKT_FLAG_KEY) != 0;
    au.data = pkt->data;
    au.size = std::size_t(pkt->size);
    if (pkt->pts != AV_NOPTS_VALUE)
        au.ptsUs = av_rescale_q(pkt->pts, stream->time_base, AVRational { 1, 1000000 });
    // Cameras that send their parameter sets only in the session
    // description: a key frame gets them in front.
    if (au.key && !parameterSets.empty() && !hasSps(au.data, au.size)) {
        scratch.assign(parameterSets.begin(), parameterSets.end());
        scratch.insert(scratch.end(), au.data, au.data + au.size);
        au.data = scratch.data();
        au.size = scratch.size();
    }
    if (!stopping.load() && onUnit)
        onUnit(au);
}

namespace {
// The reader whose thread this is, so a stop from its callback is known.
thread_local const void *tCurrentReader = nullptr;
} // namespace

RtspReader::RtspReader() = default;

RtspReader::~RtspReader()
{
    stop();
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable())
        m_thread.detach(); // destroyed from its own callback: the thread ends after it
}

void RtspReader::start(
    const std::string &url, UnitCallback onUnit, EndCallback onEnd, ReaderOptions options)
{
    stop();
    static std::once_flag quiet;
    std::call_once(quiet, [] {
        av_log_set_level(AV_LOG_ERROR);
        avformat_network_init();
    });
    auto impl = std::make_shared<Impl>();
    impl->url = url;
    impl->onUnit = std::move(onUnit);
    impl->onEnd = std::move(onEnd);
    impl->options = options;
    std::lock_guard<std::mutex> lock(m_mutex);
    if (m_thread.joinable())
        m_thread.join(); // stopped from a callback before: ends on its own
    d = impl;
    m_thread = std::thread([impl] {
        tCurrentReader = impl.get();
        impl->run();
        impl->finished = true;
    });
}

void RtspReader::stop()
{
    std::thread thread;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (!d)
            return;
        d->stopping = true;
        // Inside a callback: that call finishes, nothing runs after it; the
        // thread is joined later.
        if (tCurrentReader == d.get())
            return;
        thread = std::move(m_thread);
    }
    if (thread.joinable())
        thread.join();
}

bool RtspReader::running() const
{
    std::lock_guard<std::mutex> lock(m_mutex);
    return d && !d->finished.load() && !d->stopping.load();
}

std::string RtspReader::makeUrl(const std::string &host, uint16_t port, const std::string &path,
    const std::string &user, const std::string &password)
{
    auto encode = [](const std::string &s) {
        std::string out;
        for (const unsigned char c : s) {
            if (std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~') {
                out += char(c);
            } else {
                char hex[4];
                std::snprintf(hex, sizeof hex, "%%%02X", c);
                out += hex;
            }
        }
        return out;
    };
    std::string url = "rtsp://";
    if (!user.empty())
        url += encode(user) + ":" + encode(password) + "@";
    url += host + ":" + std::to_string(port);
    if (path.empty() || path[0] != '/')
        url += '/';
    return url + path;
}

std::string RtspReader::redacted(const std::string &url)
{
    const std::size_t scheme = url.find("://");
    const std::size_t begin = scheme == std::string::npos ? 0 : scheme + 3;
    const std::size_t at = url.find('@', begin);
    const std::size_t slash = url.find('/', begin);
    if (at == std::string::npos || (slash != std::string::npos && slash < at))
        return url;
    const std::size_t colon = url.find(':', begin);
    if (colon == std::string::npos || colon > at)
        return url;
    return url.substr(0, colon + 1) + "***" + url.substr(at);
}

} // namespace scoutrix::rtsp
