// How long the device table takes to show a full search: 256 rows rebuilt,
// then painted. Prints figures; it asserts nothing.
//
//   bench_table [rounds]

#include <QApplication>
#include <QElapsedTimer>
#include <QTableWidget>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "AppPaths.h"
#include "CIPSearch.h"
#include "CPortTable.h"
#include "DeviceRecords.h"

using scoutrix::DevInfo;
using scoutrix::NetInfo;

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AppPaths::enterProgramDir();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    std::vector<NetInfo> net(256);
    std::vector<DevInfo> dev(256);
    for (int i = 0; i < 256; ++i) {
        NetInfo &n = net[size_t(i)];
        n = NetInfo {};
        const uint8_t ip[4] = {127, 0, uint8_t(10 + i / 200), uint8_t(1 + i % 200)};
        std::copy(ip, ip + 4, n.ip);
        scoutrix::setFieldText(n.mac, QString::asprintf("02:53:43:00:%02x:%02x", i / 256, i % 256).toStdString());
        DevInfo &d = dev[size_t(i)];
        d = DevInfo {};
        d.setDeviceType(i % 4);
        scoutrix::setFieldText(d.model, "BENCH-MODEL-" + std::to_string(i % 7));
        scoutrix::setFieldText(d.serial, "SN" + std::to_string(100000 + i));
    }

    CIPSearch page;
    page.resize(1100, 560);
    page.show();
    app.processEvents();

    std::vector<double> rebuild, paint;
    for (int r = 0; r < rounds; ++r) {
        QElapsedTimer t;
        t.start();
        page.setDevices(net.data(), dev.data(), 256);
        rebuild.push_back(double(t.nsecsElapsed()) / 1e6);
        t.restart();
        page.table()->viewport()->repaint();
        app.processEvents();
        paint.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    auto median = [](std::vector<double> v) {
        std::sort(v.begin(), v.end());
        return v[v.size() / 2];
    };
    auto worst = [](const std::vector<double> &v) { return *std::max_element(v.begin(), v.end()); };
    std::printf("table rebuild, 256 rows (%d rounds): median %.1f ms, worst %.1f ms\n", rounds, median(rebuild),
                worst(rebuild));
    std::printf("first paint after rebuild:          median %.1f ms, worst %.1f ms\n", median(paint), worst(paint));
    std::printf("rows shown: %d\n", page.table()->rowCount());
    return 0;
}
