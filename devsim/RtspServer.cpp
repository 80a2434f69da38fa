#include "RtspServer.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <thread>

#include <gst/app/gstappsrc.h>
#include <gst/gst.h>
#include <gst/rtsp-server/rtsp-server.h>

#include "ConfigRecords.h"
#include "Emulator.h"
#include "Fleet.h"
#include "Net.h"

namespace scoutrix::devsim {

namespace {

using Clock = std::chrono::steady_clock;

// A path whose clients do not take what is sent (no PLAY after DESCRIBE, or
// a slow connection) loses frames past this backlog, until a key frame.
constexpr guint64 kBacklogLimit = 2u << 20;

const char *const kRole = "viewer";

bool initGstreamer(std::string &error)
{
    static std::once_flag once;
    static std::string failure;
    std::call_once(once, [] {
        GError *err = nullptr;
        if (!gst_init_check(nullptr, nullptr, &err)) {
            failure = std::string("gstreamer: ") + (err ? err->message : "cannot start");
            g_clear_error(&err);
            return;
        }
        // Missing plugins show here, not at a client's first request, and
        // are loaded before any client waits for them.
        for (const char *element : { "appsrc", "rtph264pay", "rtpbin" }) {
            if (GstElement *e = gst_element_factory_make(element, nullptr)) {
                gst_object_unref(gst_object_ref_sink(e));
            } else {
                failure = std::string("gstreamer has no ") + element + " element";
                return;
            }
        }
    });
    error = failure;
    return failure.empty();
}

// One path's encoder while its media is prepared: a thread that paces the
// frames and pushes each access unit into the media's appsrc.
class Feeder
{
public:
    Feeder(RtspMount mount, GstElement *appsrc, std::function<SceneLook()> look,
        std::atomic<int> &running, std::atomic<int64_t> &units)
        : m_mount(std::move(mount))
        , m_src(GST_ELEMENT(gst_object_ref(appsrc)))
        , m_look(std::move(look))
        , m_running(running)
        , m_units(units)
    {
    }

    ~Feeder()
    {
        halt();
        gst_object_unref(m_src);
    }

    const std::string &path() const { return m_mount.path; }

    bool start(std::string &error)
    {
        if (!m_encoder.open(m_mount.format, error))
            return false;
        ++m_running;
        m_thread = std::thread([this] { run(); });
        return true;
    }

    // A client has just asked to play: it decodes from the next picture on.
    void keyFrameSoon() { m_forceKey = true; }

    // Idempotent; safe from any thread but the feeder's own.
    void halt()
    {
        std::lock_guard<std::mutex> joinLock(m_joinMutex);
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            m_stop = true;
        }
        m_wake.notify_all();
        if (m_thread.joinable()) {
            m_thread.join();
            --m_running;
        }
    }

private:
    void run()
    {
        const auto interval = std::chrono::microseconds(1000000 / std::max(1, m_mount.format.fps));
        const GstClockTime duration = GST_SECOND / guint64(std::max(1, m_mount.format.fps));
        auto next = Clock::now();
        std::vector<uint8_t> au;
        for (int64_t n = 0;; ++n) {
            const SceneLook look = m_look ? m_look() : SceneLook();
            const bool forceKey = m_forceKey.exchange(false);
            if (!m_encoder.encode(n, look, forceKey, au))
                return;
            if (!au.empty()) {
                if (gst_app_src_get_current_level_bytes(GST_APP_SRC(m_src)) > kBacklogLimit) {
                    m_forceKey = true; // what follows a lost frame needs a key frame
                } else {
                    GstBuffer *buffer = gst_buffer_new_memdup(au.data(), au.size());
                    GST_BUFFER_DURATION(buffer) = duration;
                    // Takes the buffer; refused only while the media shuts down.
                    gst_app_src_push_buffer(GST_APP_SRC(m_src), buffer);
                    ++m_units;
                }
            }
            next += interval;
            const auto now = Clock::now();
            if (next < now)
                next = now; // behind: no burst to catch up
            std::unique_lock<std::mutex> lock(m_mutex);
            if (m_wake.wait_until(lock, next, [this] { return m_stop; }))
                return;
        }
    }

    const RtspMount m_mount;
    GstElement *const m_src;
    const std::function<SceneLook()> m_look;
    std::atomic<int> &m_running;
    std::atomic<int64_t> &m_units;
    SceneEncoder m_encoder; // feeder thread only, once it runs
    std::atomic<bool> m_forceKey { false };
    std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_stop = false;
    std::mutex m_joinMutex;
    std::thread m_thread;
};

std::string launchLine(const LiveStreamFormat &f)
{
    // Access units go to the payloader as they are: it finds the parameter
    // sets itself and sends them again before every key frame.
    return "( appsrc name=src is-live=true do-timestamp=true format=time "
           "caps=video/x-h264,stream-format=byte-stream,alignment=au,width="
        + std::to_string(f.width) + ",height=" + std::to_string(f.height) + ",framerate="
        + std::to_string(f.fps) + "/1 ! rtph264pay name=pay0 pt=96 config-interval=-1 )";
}

} // namespace

struct RtspServer::Impl
{
    explicit Impl(RtspServerOptions o)
        : options(std::move(o))
    {
    }

    // What a factory's signal handler needs.
    struct Mount
    {
        Impl *impl;
        RtspMount mount;
    };

    static void onMediaConfigure(GstRTSPMediaFactory *, GstRTSPMedia *media, gpointer user);
    static void onMediaUnprepared(GstRTSPMedia *media, gpointer user);
    static void onClientConnected(GstRTSPServer *, GstRTSPClient *client, gpointer user);
    static void onPlayRequest(GstRTSPClient *, GstRTSPContext *ctx, gpointer user);

    std::vector<std::shared_ptr<Feeder>> liveFeeders()
    {
        std::vector<std::shared_ptr<Feeder>> out;
        std::lock_guard<std::mutex> lock(feedersMutex);
        for (const auto &w : feeders) {
            if (auto f = w.lock())
                out.push_back(std::move(f));
        }
        return out;
    }

    const RtspServerOptions options;
    std::vector<std::unique_ptr<Mount>> mounts;
    GMainContext *context = nullptr;
    GMainLoop *loop = nullptr;
    GstRTSPServer *server = nullptr;
    GSource *source = nullptr;
    std::thread thread;
    uint16_t port = 0;
    bool running = false;
    std::atomic<int> encoders { 0 };
    std::atomic<int64_t> units { 0 };
    std::mutex feedersMutex;
    std::vector<std::weak_ptr<Feeder>> feeders;
};

void RtspServer::Impl::onMediaConfigure(GstRTSPMediaFactory *, GstRTSPMedia *media, gpointer user)
{
    Mount &m = *static_cast<Mount *>(user);
    Impl &impl = *m.impl;
    GstElement *bin = gst_rtsp_media_get_element(media);
    GstElement *src = gst_bin_get_by_name_recurse_up(GST_BIN(bin), "src");
    gst_object_unref(bin);
    if (!src)
        return;
    auto feeder
        = std::make_shared<Feeder>(m.mount, src, impl.options.look, impl.encoders, impl.units);
    gst_object_unref(src);
    std::string error;
    if (!feeder->start(error)) {
        g_warning("RTSP %s: %s", m.mount.path.c_str(), error.c_str());
        return;
    }
    {
        // Entries expire with their media.
        std::lock_guard<std::mutex> lock(impl.feedersMutex);
        impl.feeders.erase(std::remove_if(impl.feeders.begin(), impl.feeders.end(),
                               [](const std::weak_ptr<Feeder> &w) { return w.expired(); }),
            impl.feeders.end());
        impl.feeders.push_back(feeder);
    }
    // The media keeps its feeder; the encoder stops when the media is
    // unprepared (its last client gone) and at the latest when it goes.
    g_object_set_data_full(G_OBJECT(media), "scoutrix-feeder",
        new std::shared_ptr<Feeder>(std::move(feeder)),
        [](gpointer p) { delete static_cast<std::shared_ptr<Feeder> *>(p); });
    g_signal_connect(media, "unprepared", G_CALLBACK(onMediaUnprepared), nullptr);
}

void RtspServer::Impl::onMediaUnprepared(GstRTSPMedia *media, gpointer)
{
    // Touches only the media's own feeder: a media may be unprepared on one
    // of gstreamer's threads after the server has gone.
    if (auto *p = static_cast<std::shared_ptr<Feeder> *>(
            g_object_get_data(G_OBJECT(media), "scoutrix-feeder")))
        (*p)->halt();
}

void RtspServer::Impl::onClientConnected(GstRTSPServer *, GstRTSPClient *client, gpointer user)
{
    g_signal_connect(client, "play-request", G_CALLBACK(onPlayRequest), user);
}

void RtspServer::Impl::onPlayRequest(GstRTSPClient *, GstRTSPContext *ctx, gpointer user)
{
    Impl &impl = *static_cast<Impl *>(user);
    if (!ctx || !ctx->uri || !ctx->uri->abspath)
        return;
    const std::string path = ctx->uri->abspath;
    for (const auto &f : impl.liveFeeders()) {
        // The request names the path or one of its streams below it.
        if (path.compare(0, f->path().size(), f->path()) == 0)
            f->keyFrameSoon();
    }
}

RtspServer::RtspServer(RtspServerOptions options)
    : d(std::make_unique<Impl>(std::move(options)))
{
}

RtspServer::~RtspServer()
{
    stop();
}

bool RtspServer::start(std::string &error)
{
    if (d->running)
        return true;
    if ((d->options.address >> 24) != 127) {
        error = "the RTSP server listens on loopback addresses only";
        return false;
    }
    if (!initGstreamer(error))
        return false;
    d->context = g_main_context_new();
    d->loop = g_main_loop_new(d->context, FALSE);
    d->server = gst_rtsp_server_new();
    gst_rtsp_server_set_address(d->server, net::ipv4Text(d->options.address).c_str());
    gst_rtsp_server_set_service(d->server, std::to_string(d->options.port).c_str());
    g_signal_connect(d->server, "client-connected", G_CALLBACK(Impl::onClientConnected), d.get());

    if (!d->options.users.empty()) {
        GstRTSPAuth *auth = gst_rtsp_auth_new();
        gst_rtsp_auth_set_supported_methods(
            auth, GstRTSPAuthMethod(GST_RTSP_AUTH_BASIC | GST_RTSP_AUTH_DIGEST));
        GstRTSPToken *token
            = gst_rtsp_token_new(GST_RTSP_TOKEN_MEDIA_FACTORY_ROLE, G_TYPE_STRING, kRole, nullptr);
        for (const RtspUser &u : d->options.users) {
            gchar *basic = gst_rtsp_auth_make_basic(u.name.c_str(), u.password.c_str());
            gst_rtsp_auth_add_basic(auth, basic, token);
            g_free(basic);
            gst_rtsp_auth_add_digest(auth, u.name.c_str(), u.password.c_str(), token);
        }
        gst_rtsp_token_unref(token);
        gst_rtsp_server_set_auth(d->server, auth);
        g_object_unref(auth);
    }

    GstRTSPMountPoints *points = gst_rtsp_server_get_mount_points(d->server);
    for (const RtspMount &m : d->options.mounts) {
        GstRTSPMediaFactory *factory = gst_rtsp_media_factory_new();
        gst_rtsp_media_factory_set_launch(factory, launchLine(m.format).c_str());
        gst_rtsp_media_factory_set_shared(factory, TRUE);
        gst_rtsp_media_factory_set_protocols(factory, GST_RTSP_LOWER_TRANS_TCP);
        if (!d->options.users.empty()) {
            gst_rtsp_media_factory_add_role(factory, kRole, GST_RTSP_PERM_MEDIA_FACTORY_ACCESS,
                G_TYPE_BOOLEAN, TRUE, GST_RTSP_PERM_MEDIA_FACTORY_CONSTRUCT, G_TYPE_BOOLEAN, TRUE,
                nullptr);
        }
        d->mounts.push_back(std::make_unique<Impl::Mount>(Impl::Mount { d.get(), m }));
        g_signal_connect(
            factory, "media-configure", G_CALLBACK(Impl::onMediaConfigure), d->mounts.back().get());
        gst_rtsp_mount_points_add_factory(points, m.path.c_str(), factory); // takes the factory
    }
    g_object_unref(points);

    GError *err = nullptr;
    d->source = gst_rtsp_server_create_source(d->server, nullptr, &err);
    if (!d->source) {
        error = "RTSP server on " + net::ipv4Text(d->options.address) + ":"
            + std::to_string(d->options.port) + ": " + (err ? err->message : "cannot listen");
        g_clear_error(&err);
        g_clear_object(&d->server);
        g_main_loop_unref(d->loop);
        d->loop = nullptr;
        g_main_context_unref(d->context);
        d->context = nullptr;
        d->mounts.clear();
        return false;
    }
    g_source_attach(d->source, d->context);
    d->port = uint16_t(gst_rtsp_server_get_bound_port(d->server));
    d->thread = std::thread([impl = d.get()] {
        g_main_context_push_thread_default(impl->context);
        g_main_loop_run(impl->loop);
        g_main_context_pop_thread_default(impl->context);
    });
    d->running = true;
    return true;
}

void RtspServer::stop()
{
    if (!d->running)
        return;
    d->running = false;
    // Clients are closed on the loop's own thread, where their connections
    // are served; the loop ends after that.
    g_main_context_invoke(
        d->context,
        [](gpointer p) -> gboolean {
            Impl &impl = *static_cast<Impl *>(p);
            g_source_destroy(impl.source);
            gst_rtsp_server_client_filter(
                impl.server,
                [](GstRTSPServer *, GstRTSPClient *, gpointer) { return GST_RTSP_FILTER_REMOVE; },
                nullptr);
            GstRTSPSessionPool *pool = gst_rtsp_server_get_session_pool(impl.server);
            gst_rtsp_session_pool_filter(
                pool,
                [](GstRTSPSessionPool *, GstRTSPSession *, gpointer) {
                    return GST_RTSP_FILTER_REMOVE;
                },
                nullptr);
            g_object_unref(pool);
            g_main_loop_quit(impl.loop);
            return G_SOURCE_REMOVE;
        },
        d.get());
    d->thread.join();
    // What the closing left queued on the context.
    while (g_main_context_iteration(d->context, FALSE)) { }
    // Whatever media is still prepared loses its encoder now.
    for (const auto &f : d->liveFeeders())
        f->halt();
    g_source_unref(d->source);
    d->source = nullptr;
    g_clear_object(&d->server);
    g_main_loop_unref(d->loop);
    d->loop = nullptr;
    g_main_context_unref(d->context);
    d->context = nullptr;
    {
        std::lock_guard<std::mutex> lock(d->feedersMutex);
        d->feeders.clear();
    }
    d->mounts.clear();
    d->port = 0;
}

uint16_t RtspServer::port() const
{
    return d->port;
}

std::string RtspServer::url(const std::string &path) const
{
    return "rtsp://" + net::ipv4Text(d->options.address) + ":" + std::to_string(d->port) + path;
}

int RtspServer::encoders() const
{
    return d->encoders.load();
}

int64_t RtspServer::accessUnits() const
{
    return d->units.load();
}

bool RtspServer::optionsFor(const Emulator &emulator, int index, const DeviceSpec &spec,
    RtspServerOptions &out, std::string &error)
{
    std::vector<uint8_t> tableBytes, listBytes;
    emulator.record(index, CmdEncodeTable, -1, tableBytes);
    emulator.record(index, CmdResolutionList, -1, listBytes);

    RtspServerOptions o;
    o.address = emulator.device(index).ip;
    const std::string title = sceneTitleOf(spec.model, spec.serial);
    for (int ch = 0; ch < spec.channels; ++ch) {
        for (const bool sub : { false, true }) {
            RtspMount m;
            std::string why;
            if (!streamFormatOf(tableBytes, listBytes, ch, sub, m.format, why)) {
                if (why == "no encode settings") {
                    error = why;
                    return false;
                }
                continue; // a stream the encoder cannot make is not served
            }
            m.path = "/ch" + std::to_string(ch) + (sub ? "/sub" : "/main");
            m.format.title = title;
            o.mounts.push_back(std::move(m));
        }
    }
    if (o.mounts.empty()) {
        error = "no stream in the encode settings";
        return false;
    }
    for (const User &u : spec.users) {
        if (!u.password.empty())
            o.users.push_back(RtspUser { u.name, u.password });
    }
    o.look = [&emulator, index] {
        std::vector<uint8_t> image, exposure;
        emulator.record(index, CmdImage, 0, image);
        emulator.record(index, CmdExposure, 0, exposure);
        return sceneLookOf(image, exposure);
    };
    out = std::move(o);
    return true;
}

} // namespace scoutrix::devsim
