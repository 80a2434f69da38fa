// Benchmark harness for the player: H.264 made by libx264 as the devices
// stream it, decoded and drawn through the player SDK's port 0 into a view,
// one access unit after the other. Prints per-picture decode, conversion and
// draw times; docs/benchmarks.md records them.
//   bench_player [--frames N]     (offscreen platform, one core's work)

#include <QApplication>
#include <QElapsedTimer>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "PlaySdk.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"
#include "TestEncoder.h"

namespace {

struct Figures
{
    double decode = 0, convert = 0, draw = 0, worst = 0;
};

Figures run(int w, int h, int frames, QWidget &view)
{
    Figures f;
    const auto units = testenc::encode(w, h, frames, 25, 50);
    if (units.empty())
        return f;
    static const char header = 0;
    PlaySdk_OpenStream(0, &header, 1, 7680000);
    PlaySdk_Play(0, uintptr_t(view.winId()));
    std::vector<double> totals;
    QPixmap screen(view.size());
    for (const auto &u : units) {
        QElapsedTimer t;
        t.start();
        PlaySdk_InputData(0, reinterpret_cast<const char *>(u.data()), int32_t(u.size()));
        view.render(&screen); // the paint the screen would get
        const double total = double(t.nsecsElapsed()) / 1e6;
        const scoutrix::play::PortStats s = scoutrix::play::portStats();
        f.decode += s.lastDecodeMs;
        f.convert += s.lastConvertMs;
        f.draw += scoutrix::play::portView()->lastDrawMs();
        totals.push_back(total);
    }
    PlaySdk_Stop(0);
    PlaySdk_CloseStream(0);
    const double n = double(units.size());
    f.decode /= n;
    f.convert /= n;
    f.draw /= n;
    // The first picture carries the decoder's start-up; the rest is steady.
    std::sort(totals.begin() + 1, totals.end());
    f.worst = totals[1 + std::size_t(double(totals.size() - 2) * 0.99)];
    return f;
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    int frames = 250;
    for (int i = 1; i + 1 < argc; ++i) {
        if (!std::strcmp(argv[i], "--frames"))
            frames = std::max(10, std::atoi(argv[i + 1]));
    }
    QWidget view;
    view.resize(960, 540); // the camera page's view at its usual size
    view.show();
    for (const QSize size : { QSize(1920, 1080), QSize(640, 360) }) {
        const Figures f = run(size.width(), size.height(), frames, view);
        std::printf("%dx%d, %d pictures: decode %.2f ms, to RGB %.2f ms, draw %.2f ms per picture "
                    "(all three %.2f ms; 99th percentile %.2f ms)\n",
                    size.width(), size.height(), frames, f.decode, f.convert, f.draw, f.decode + f.convert + f.draw,
                    f.worst);
    }
    return 0;
}
