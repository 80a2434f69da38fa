// Logo package build time: a first build (the file system is made) and a
// reused build (the same picture again, its file system kept), for a squashfs
// and a cramfs board. Figures go to docs/benchmarks.md.

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <numeric>
#include <vector>

#include "LogoBuilder.h"

using namespace scoutrix;

namespace {

struct Figures
{
    std::vector<double> ms;
    void print(const char *label) const
    {
        const double sum = std::accumulate(ms.begin(), ms.end(), 0.0);
        std::printf("| %s | %zu | %.1f ms | %.1f ms | %.1f ms |\n", label, ms.size(), sum / double(ms.size()),
                    *std::min_element(ms.begin(), ms.end()), *std::max_element(ms.begin(), ms.end()));
    }
};

double timed(const LogoBuilder &builder, const QString &picture, const HardwareRecord &hw, bool &ok)
{
    QElapsedTimer t;
    t.start();
    const LogoResult r = builder.build(picture, hw);
    const double ms = double(t.nsecsElapsed()) / 1e6;
    if (!r.ok()) {
        std::fprintf(stderr, "build failed: %d %s\n", r.code, qPrintable(r.messageKey));
        ok = false;
    }
    return ms;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    int rounds = 5, pictureBytes = 40 * 1024;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds"))
            rounds = std::max(1, std::atoi(argv[i + 1]));
        else if (!std::strcmp(argv[i], "--picture-bytes"))
            pictureBytes = std::max(1, std::atoi(argv[i + 1]));
    }
    QTemporaryDir dir;
    // Random bytes stand for a JPEG: neither compresses.
    QByteArray bytes(pictureBytes, Qt::Uninitialized);
    for (char &c : bytes)
        c = char(QRandomGenerator::global()->bounded(256));
    const QString picture = dir.path() + QStringLiteral("/logo.jpg");
    QFile f(picture);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        return 1;
    f.close();

    HardwareRecord squashfs {}, cramfs {};
    squashfs.setHardwareName("QRX52_S"); // squashfs, 256 KiB area
    squashfs.setVendorText("Orvane");
    cramfs.setHardwareName("HI3520D");
    cramfs.setVendorText("Orvane");
    cramfs.setArea(0x100000, 0x140000);

    bool ok = true;
    Figures sqFirst, sqReused, crFirst, crReused;
    for (int round = 0; round < rounds; ++round) {
        // A cache of its own per round, so the first build really is one.
        const LogoBuilder builder(dir.path() + QStringLiteral("/cache%1").arg(round));
        sqFirst.ms.push_back(timed(builder, picture, squashfs, ok));
        sqReused.ms.push_back(timed(builder, picture, squashfs, ok));
        crFirst.ms.push_back(timed(builder, picture, cramfs, ok));
        crReused.ms.push_back(timed(builder, picture, cramfs, ok));
    }
    std::printf("picture: %d bytes, %d rounds\n\n| build | runs | mean | min | max |\n|---|---|---|---|---|\n",
                pictureBytes, rounds);
    sqFirst.print("squashfs, first build");
    sqReused.print("squashfs, reused file system");
    crFirst.print("cramfs, first build");
    crReused.print("cramfs, reused file system");
    return ok ? 0 : 1;
}
