// Benchmark harness for the live preview end to end on loopback: an emulated
// camera encodes its scene with libx264, the network SDK brings each access
// unit to its callback, the player SDK's port 0 decodes it there and the view
// paints the newest picture on the GUI thread's event loop. Every access unit
// carries its send time (the SEI stamp the emulator writes when the encoder
// hands the unit out); the picture made from it is followed to the moment
// the view has drawn it. Prints figures; it asserts nothing.
//
//   bench_preview [--seconds 120] [--stream main|sub|both] [--player-core 0]
//
// With two cores or more the emulator runs on the last core and the player
// (the SDK's threads, decoding and the GUI thread) on --player-core, so the
// player's figures are one core's work; --player-core -1 leaves both free.

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "ConfigRecords.h"
#include "DeviceModel.h"
#include "EmulatorFixture.h"
#include "NetSdk.h"
#include "PlaySdk.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"
#include "Protocol.h"

using namespace scoutrix;

namespace {

// The stamp is system-clock microseconds; the emulator runs in this process.
int64_t nowMicros()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(
        std::chrono::system_clock::now().time_since_epoch())
        .count();
}

double rssMiB()
{
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::atof(line.c_str() + 6) / 1024.0;
    }
    return 0;
}

// CPU time of this process's threads, in seconds: those allowed on |core|
// alone, and the rest.
struct CpuSplit
{
    double onCore = 0, elsewhere = 0;
};

CpuSplit cpuSplit(int core)
{
    CpuSplit split;
    const double tick = double(sysconf(_SC_CLK_TCK));
    const QDir tasks(QStringLiteral("/proc/self/task"));
    for (const QString &tid : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        std::ifstream statFile(("/proc/self/task/" + tid + "/stat").toStdString());
        std::string stat;
        std::getline(statFile, stat);
        // Fields after the command's closing parenthesis: utime is the 12th, stime the 13th.
        const std::size_t close = stat.rfind(')');
        if (close == std::string::npos)
            continue;
        std::vector<std::string> fields;
        std::size_t at = close + 2;
        while (at < stat.size() && fields.size() < 13) {
            const std::size_t end = stat.find(' ', at);
            fields.push_back(stat.substr(at, end - at));
            at = end == std::string::npos ? stat.size() : end + 1;
        }
        if (fields.size() < 13)
            continue;
        const double seconds = (std::atof(fields[11].c_str()) + std::atof(fields[12].c_str())) / tick;
        std::ifstream statusFile(("/proc/self/task/" + tid + "/status").toStdString());
        std::string line, allowed;
        while (std::getline(statusFile, line)) {
            if (line.rfind("Cpus_allowed_list:", 0) == 0)
                allowed = line.substr(line.find_first_not_of(" \t", 18));
        }
        (allowed == std::to_string(core) ? split.onCore : split.elsewhere) += seconds;
    }
    return split;
}

bool pinThisThread(int core)
{
    if (core < 0)
        return true;
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(core, &set);
    return pthread_setaffinity_np(pthread_self(), sizeof set, &set) == 0;
}

struct Percentiles
{
    double median = 0, p95 = 0, worst = 0, mean = 0;
    std::size_t n = 0;
};

Percentiles percentiles(std::vector<double> v)
{
    Percentiles p;
    p.n = v.size();
    if (v.empty())
        return p;
    std::sort(v.begin(), v.end());
    double sum = 0;
    for (const double x : v)
        sum += x;
    p.mean = sum / double(v.size());
    p.median = v[v.size() / 2];
    p.p95 = v[std::min(v.size() - 1, std::size_t(double(v.size()) * 0.95))];
    p.worst = v.back();
    return p;
}

// What is known of a picture between its decoding and its drawing.
struct Decoded
{
    int64_t seq = 0; // pictures decoded before it
    int64_t stamp = 0; // send time, µs
    int64_t received = 0; // the SDK's callback began, µs
    int64_t decoded = 0; // converted to RGB and about to be offered, µs
};

// A drawn picture, after the fact.
struct Drawn
{
    int64_t stamp, received, decoded, drawn;
    double drawMs;
};

struct Run
{
    int fps = 25;

    // The SDK's delivery thread only.
    int64_t currentStamp = 0;
    int64_t currentReceived = 0;
    int64_t lastStamp = 0;
    int64_t lateSends = 0; // send times more than 1.5 intervals apart: the encoder fell behind
    std::vector<double> decodeMs, convertMs, inputMs;
    int64_t units = 0;
    int64_t unstamped = 0;
    int64_t portFrames = 0;
    bool pinned = false;
    int playerCore = -1;

    // Between the delivery thread (decode callback) and the GUI thread.
    std::mutex mutex;
    std::map<const uchar *, Decoded> byPixels; // keyed by the picture's pixel buffer
    int64_t decodedCount = 0;

    // The GUI thread only.
    std::vector<Drawn> drawn;
    int64_t lastDrawnSeq = -1;
    qint64 lastDrawnKey = 0;
    int64_t superseded = 0; // decoded pictures a newer one replaced before a paint
    int64_t repaints = 0; // paints of a picture already drawn
    int64_t ambiguous = 0; // the newest picture changed during the paint
    int64_t maxPending = 0; // offered minus drawn minus superseded, sampled
    std::vector<int64_t> drawnPerSecond;
    double rssStart = 0; // MiB, before the stream
    std::vector<double> rssPerSecond;
    CpuSplit cpuFirst, cpuLast; // after the first second and at the end
};

int32_t onData(int32_t, int32_t type, char *data, int32_t length, void *user)
{
    auto *r = static_cast<Run *>(user);
    if (!r->pinned) {
        r->pinned = true;
        pinThisThread(r->playerCore);
    }
    const int64_t received = nowMicros();
    if (type != int32_t(proto::StreamDataType::H264AccessUnit))
        return 0;
    ++r->units;
    uint64_t stamp = 0;
    if (!proto::findStreamStamp(reinterpret_cast<const uint8_t *>(data), std::size_t(length), stamp)) {
        ++r->unstamped;
        r->currentStamp = 0;
    } else {
        r->currentStamp = int64_t(stamp);
        if (r->lastStamp) {
            const double gap = double(r->currentStamp - r->lastStamp) * r->fps / 1e6;
            if (gap > 1.5)
                ++r->lateSends;
        }
        r->lastStamp = r->currentStamp;
    }
    r->currentReceived = received;
    const auto t0 = std::chrono::steady_clock::now();
    PlaySdk_InputData(0, data, length);
    r->inputMs.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
    // Outside the port's lock now: the picture's own decode and conversion.
    const play::PortStats s = play::portStats();
    if (s.frames > r->portFrames) {
        r->portFrames = s.frames;
        r->decodeMs.push_back(s.lastDecodeMs);
        r->convertMs.push_back(s.lastConvertMs);
    }
    return 0;
}

// Runs inside PlaySdk_InputData, on the delivery thread, with the port
// locked, just before the picture is offered to the view.
void onDecoded(int32_t, char *frame, int32_t, int32_t, int32_t, int32_t, int32_t, void *user)
{
    auto *r = static_cast<Run *>(user);
    Decoded d;
    d.stamp = r->currentStamp;
    d.received = r->currentReceived;
    d.decoded = nowMicros();
    std::lock_guard<std::mutex> lock(r->mutex);
    d.seq = r->decodedCount++;
    // A buffer address comes back only once the picture that held it is
    // gone, and the view holds the picture it shows: the entry for an
    // address is always that of the picture now in the view.
    r->byPixels[reinterpret_cast<const uchar *>(frame)] = d;
}

// Sits in front of the view's own paint: notes which picture the view is
// about to draw, lets it draw, and takes the time once it has.
class DrawProbe : public QObject
{
public:
    DrawProbe(QWidget *target, play::PlayerView *view, Run &run)
        : m_target(target)
        , m_view(view)
        , m_run(run)
    {
        target->installEventFilter(this); // after the view's: runs first
    }
    ~DrawProbe() override { m_target->removeEventFilter(this); }

    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (watched != m_target || event->type() != QEvent::Paint)
            return false;
        const QImage before = m_view->newest();
        // The view's filter paints and ends the event; it is called here so
        // the time after it is the time the picture was drawn.
        QObject *viewFilter = m_view;
        viewFilter->eventFilter(watched, event);
        const int64_t drawnAt = nowMicros();
        if (before.isNull())
            return true;
        if (m_view->newest().cacheKey() != before.cacheKey()) {
            ++m_run.ambiguous; // which of the two was drawn is not known
            return true;
        }
        if (before.cacheKey() == m_run.lastDrawnKey) {
            ++m_run.repaints;
            return true;
        }
        m_run.lastDrawnKey = before.cacheKey();
        Decoded d;
        {
            std::lock_guard<std::mutex> lock(m_run.mutex);
            const auto it = m_run.byPixels.find(before.constBits());
            if (it == m_run.byPixels.end())
                return true;
            d = it->second;
            // Older pictures can no longer be drawn.
            for (auto e = m_run.byPixels.begin(); e != m_run.byPixels.end();)
                e = e->second.seq < d.seq ? m_run.byPixels.erase(e) : std::next(e);
        }
        if (d.seq > m_run.lastDrawnSeq + 1)
            m_run.superseded += d.seq - m_run.lastDrawnSeq - 1;
        m_run.lastDrawnSeq = d.seq;
        if (d.stamp)
            m_run.drawn.push_back(Drawn { d.stamp, d.received, d.decoded, drawnAt, m_view->lastDrawMs() });
        return true;
    }

private:
    QWidget *m_target;
    play::PlayerView *m_view;
    Run &m_run;
};

struct Request
{
    int32_t channel, stream, reserved1, reserved2;
};
static_assert(sizeof(Request) == NETSDK_STREAM_REQUEST_SIZE, "four words");

void report(const char *title, const Run &r, double seconds, int warmAt, QSize size)
{
    std::vector<double> total, network, decode, toDraw, draw;
    const double ms = 1e-3;
    for (const Drawn &d : r.drawn) {
        total.push_back(double(d.drawn - d.stamp) * ms);
        network.push_back(double(d.received - d.stamp) * ms);
        decode.push_back(double(d.decoded - d.received) * ms);
        toDraw.push_back(double(d.drawn - d.decoded) * ms);
        draw.push_back(d.drawMs);
    }
    // Latency early and late in the run: a queue anywhere makes it grow.
    const std::size_t tenth = r.drawn.size() / 10;
    const Percentiles first = percentiles(std::vector<double>(total.begin(), total.begin() + std::ptrdiff_t(tenth)));
    const Percentiles last = percentiles(std::vector<double>(total.end() - std::ptrdiff_t(tenth), total.end()));
    // The first picture waits for the decoder to start; it is shown apart.
    const double firstPicture = total.empty() ? 0 : total.front();
    const Percentiles t = percentiles(std::vector<double>(total.begin() + (total.empty() ? 0 : 1), total.end())),
                      n = percentiles(network), dc = percentiles(decode),
                      td = percentiles(toDraw), dr = percentiles(draw), dec = percentiles(r.decodeMs),
                      cv = percentiles(r.convertMs), in = percentiles(r.inputMs);
    int64_t slowestSecond = 0, fastestSecond = 0;
    if (r.drawnPerSecond.size() > 2) {
        // The first and the last second are partial.
        const auto a = r.drawnPerSecond.begin() + 1, b = r.drawnPerSecond.end() - 1;
        slowestSecond = *std::min_element(a, b);
        fastestSecond = *std::max_element(a, b);
    }
    const double interval = 1000.0 / r.fps;
    std::printf("%s: %dx%d at %d fps, %.0f s\n", title, size.width(), size.height(), r.fps, seconds);
    std::printf("  latency send stamp to drawn: median %.1f ms, 95th %.1f ms, worst %.1f ms over %zu pictures "
                "after the first (aim %.0f ms); the first %.1f ms\n",
        t.median, t.p95, t.worst, t.n, interval + 10, firstPicture);
    std::printf("    stamp to SDK callback  median %.2f / 95th %.2f / worst %.2f ms\n", n.median, n.p95, n.worst);
    std::printf("    callback to decoded    median %.2f / 95th %.2f / worst %.2f ms\n", dc.median, dc.p95, dc.worst);
    std::printf("    decoded to drawn       median %.2f / 95th %.2f / worst %.2f ms\n", td.median, td.p95, td.worst);
    std::printf("    first tenth of the run median %.1f / 95th %.1f ms; last tenth median %.1f / 95th %.1f ms\n",
        first.median, first.p95, last.median, last.p95);
    if (total.size() > 1) {
        // When the slowest pictures came, and the run without its start.
        const std::size_t worstAt = std::size_t(std::max_element(total.begin() + 1, total.end()) - total.begin());
        const int64_t t0 = r.drawn.front().drawn;
        std::vector<double> settled;
        for (std::size_t i = 0; i < total.size(); ++i) {
            if (r.drawn[i].drawn - t0 >= int64_t(warmAt) * 1000000)
                settled.push_back(total[i]);
        }
        const Percentiles st = percentiles(settled);
        std::printf("    the worst %.1f s into the run; from %d s on median %.1f / 95th %.1f / worst %.1f ms\n",
            double(r.drawn[worstAt].drawn - t0) / 1e6, warmAt, st.median, st.p95, st.worst);
    }
    std::printf("  rate: %.2f pictures drawn per second (%lld units received, %.2f/s); every whole second "
                "%lld..%lld pictures\n",
        double(r.drawn.size()) / seconds, static_cast<long long>(r.units), double(r.units) / seconds,
        static_cast<long long>(slowestSecond), static_cast<long long>(fastestSecond));
    std::printf("  backlog: offered - drawn - superseded at most %lld; superseded %lld, sent late %lld, "
                "unstamped %lld, paint raced %lld, repaints %lld\n",
        static_cast<long long>(r.maxPending), static_cast<long long>(r.superseded),
        static_cast<long long>(r.lateSends), static_cast<long long>(r.unstamped),
        static_cast<long long>(r.ambiguous), static_cast<long long>(r.repaints));
    // Each 1080p picture is a fresh 8 MiB buffer, so single samples swing;
    // the range after the warm-up is what shows growth or its absence.
    const auto &rss = r.rssPerSecond;
    if (rss.size() > std::size_t(warmAt)) {
        const auto from = rss.begin() + (warmAt - 1);
        std::printf("  RSS: %.1f MiB before the stream, %.1f MiB after %d s, %.1f..%.1f MiB from then on, "
                    "%.1f MiB at the end\n",
            r.rssStart, *from, warmAt, *std::min_element(from, rss.end()), *std::max_element(from, rss.end()),
            rss.back());
    }
    std::printf("  per picture: decode mean %.2f / 95th %.2f ms, to RGB %.2f / %.2f ms, draw %.2f / %.2f ms; "
                "decode and convert as called %.2f / %.2f / worst %.2f ms; all three mean %.2f ms (aim 40 ms)\n",
        dec.mean, dec.p95, cv.mean, cv.p95, dr.mean, dr.p95, in.mean, in.p95, in.worst,
        dec.mean + cv.mean + dr.mean);
    const double span = seconds - 1;
    const double player = (r.cpuLast.onCore - r.cpuFirst.onCore) / span * 100;
    const double rest = (r.cpuLast.elsewhere - r.cpuFirst.elsewhere) / span * 100;
    if (r.playerCore >= 0)
        std::printf("  CPU: player threads %.1f %% of core %d, emulator threads %.1f %% of a core\n", player,
            r.playerCore, rest);
    else
        std::printf("  CPU: %.1f %% of a core, emulator and player together\n", player + rest);
    std::fflush(stdout);
}

// Plays one stream of the camera for |seconds| and prints its figures.
bool preview(int32_t login, int stream, int seconds, int playerCore, QWidget &target)
{
    Run r;
    r.playerCore = playerCore;
    // The harness's own records, written as the run goes, stay out of the
    // memory figures as far as they can.
    const std::size_t expected = std::size_t(seconds) * 64;
    for (auto *v : { &r.decodeMs, &r.convertMs, &r.inputMs })
        v->reserve(expected);
    r.drawn.reserve(expected);
    r.rssStart = rssMiB();
    static const char header = 0;
    if (!PlaySdk_OpenStream(0, &header, 1, 7680000) || !PlaySdk_Play(0, uintptr_t(target.winId()))) {
        std::fprintf(stderr, "the player refused port 0\n");
        return false;
    }
    PlaySdk_SetDecodeCallback(0, onDecoded, &r);
    play::PlayerView *view = play::portView();
    auto probe = std::make_unique<DrawProbe>(&target, view, r);

    // The stream's format as the camera will encode it.
    auto table = std::make_unique<EncodeTable>();
    ResolutionList list;
    int32_t got = 0;
    if (NetSdk_GetConfig(login, CmdEncodeTable, -1, table.get(), int32_t(sizeof(EncodeTable)), &got, 3000) < 0
        || NetSdk_GetConfig(login, CmdResolutionList, -1, &list, int32_t(sizeof list), &got, 3000) < 0) {
        std::fprintf(stderr, "no encode settings\n");
        return false;
    }
    const StreamParams &s = stream == 1 ? table->channel[0].sub : table->channel[0].main;
    const QSize size(list.entry[s.resolution()].widthValue(), list.entry[s.resolution()].heightValue());
    r.fps = s.frameRate();

    const Request req { 0, stream, 0, 0 };
    const int32_t handle = NetSdk_StartRealStream(login, &req, 0);
    if (handle <= 0) {
        std::fprintf(stderr, "stream refused: %d\n", handle);
        return false;
    }
    NetSdk_SetStreamCallback(handle, onData, &r);

    QEventLoop loop;
    QTimer sampler;
    int64_t drawnBefore = 0;
    int elapsed = 0;
    const int warmAt = std::min(10, seconds / 2);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        ++elapsed;
        r.rssPerSecond.push_back(rssMiB());
        // From the first second on: the previous stream's threads have
        // ended by then, this one's have begun.
        if (elapsed == 1)
            r.cpuFirst = cpuSplit(playerCore);
        if (elapsed == seconds)
            r.cpuLast = cpuSplit(playerCore);
        const int64_t drawnNow = int64_t(r.drawn.size());
        r.drawnPerSecond.push_back(drawnNow - drawnBefore);
        drawnBefore = drawnNow;
        // Pictures the view was given that are neither drawn nor replaced:
        // 0, or 1 while a paint is on its way.
        const int64_t pending = view->framesOffered() - (r.lastDrawnSeq + 1);
        r.maxPending = std::max(r.maxPending, pending);
        if (elapsed >= seconds)
            loop.quit();
    });
    sampler.start(1000);
    loop.exec();
    sampler.stop();

    NetSdk_StopRealStream(handle); // no callback runs after this
    QCoreApplication::processEvents();
    probe.reset();
    PlaySdk_Stop(0);
    PlaySdk_CloseStream(0);
    report(stream == 1 ? "sub stream" : "main stream", r, seconds, warmAt, size);
    return true;
}

// A one-channel camera whose main stream is 1920x1080 at 25 fps (its
// model's default) and whose sub stream is 640x360: the resolution list is
// the model's own with the VGA entry the sub stream uses made 640x360.
devsim::Fleet cameraFleet()
{
    devsim::DeviceSpec d;
    d.mac = "02:BE:00:00:00:26";
    d.serial = "BENCHPREVIEW";
    d.model = "BENCH-IPC-2M";
    d.type = 2;
    d.channels = 1;
    d.ip = 0x7f002e1au; // 127.0.46.26
    d.port = 0;
    d.users = { { "admin", "739204" } };
    std::vector<uint8_t> bytes;
    devsim::DeviceModel(d).getConfig(CmdResolutionList, -1, bytes);
    if (bytes.size() == sizeof(ResolutionList)) {
        ResolutionList list;
        std::memcpy(&list, bytes.data(), sizeof list);
        list.entry[5].set(640, 360, "360P(640x360)");
        std::memcpy(bytes.data(), &list, sizeof list);
        d.extraRecords.push_back(devsim::ExtraRecord { CmdResolutionList, -1, bytes });
    }
    devsim::Fleet fleet;
    fleet.devices.push_back(d);
    return fleet;
}

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    setenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY", "1", 1);
    int seconds = 120;
    int playerCore = 0;
    std::string which = "both";
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--seconds"))
            seconds = std::max(5, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--stream"))
            which = argv[i + 1];
        else if (!std::strcmp(argv[i], "--player-core"))
            playerCore = std::atoi(argv[i + 1]);
    }
    const long cores = sysconf(_SC_NPROCESSORS_ONLN);
    if (cores < 2 || playerCore >= cores)
        playerCore = -1;
    // Threads take their creator's cores: the emulator's loop and encoder
    // threads start from here while it is on the emulator's core.
    const int emulatorCore = playerCore < 0 ? -1 : (playerCore == cores - 1 ? 0 : int(cores - 1));
    pinThisThread(emulatorCore);
    const auto emu = fixture::start(cameraFleet());
    if (!emu)
        return 1;
    pinThisThread(playerCore);
    QApplication app(argc, argv);
    NetSdk_Init(0, 0);
    const int32_t login = fixture::login(*emu, 0);
    if (login <= 0) {
        std::fprintf(stderr, "login failed\n");
        return 1;
    }
    if (playerCore >= 0)
        std::printf("emulator on core %d, player (SDK threads, decoding, GUI) on core %d\n", emulatorCore, playerCore);
    else
        std::printf("threads not pinned\n");

    QWidget target;
    target.resize(960, 540); // the camera page's view at its usual size
    target.show();
    bool ok = true;
    if (which == "main" || which == "both")
        ok = preview(login, 0, seconds, playerCore, target) && ok;
    if (which == "sub" || which == "both")
        ok = preview(login, 1, seconds, playerCore, target) && ok;
    NetSdk_Logout(login);
    return ok ? 0 : 1;
}
