// Double-click to encode page shown, on a 16-channel emulated recorder: the
// login on its worker, the five reads of the encode page and the page's
// first showing. Prints figures; it asserts nothing.
//
//   bench_config [rounds]

#include <QApplication>
#include <QElapsedTimer>
#include <QTreeWidget>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "AppPaths.h"
#include "CConfigSetWidget.h"
#include "DeviceRecords.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "NetSdk.h"
#include "NetSdkControl.h"

using scoutrix::devsim::DeviceSpec;

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    AppPaths::enterProgramDir();
    const int rounds = argc > 1 ? std::max(1, atoi(argv[1])) : 20;

    scoutrix::devsim::Fleet fleet;
    DeviceSpec d;
    d.mac = "02:BE:00:00:00:16";
    d.serial = "BENCH16";
    d.model = "BENCH-NVR-16";
    d.type = 1;
    d.channels = 16;
    d.audioChannels = 16;
    d.ip = 0x7f002d10u; // 127.0.45.16
    d.port = 0;
    d.users = {{"admin", "739204"}};
    fleet.devices.push_back(d);
    const auto sim = fixture::start(fleet);
    if (!sim)
        return 1;
    NetSdk_Init(0, 0);

    std::vector<scoutrix::SearchRecord> found(256);
    int32_t bytes = 0;
    NetSdk_SearchDevice(reinterpret_cast<char *>(found.data()), int32_t(found.size() * sizeof found[0]), &bytes,
                        5000, 0);
    if (bytes < int32_t(sizeof found[0])) {
        std::fprintf(stderr, "the recorder did not answer the search\n");
        return 1;
    }
    std::vector<scoutrix::DeviceRecord> list(256);
    scoutrix::DeviceRecord &r = list[0];
    r = scoutrix::DeviceRecord {};
    r.netInfo = found[0].net;
    r.devInfo = found[0].dev;
    r.port = r.netInfo.loginPort();
    scoutrix::setFieldText(r.ipText, r.netInfo.ipText());
    r.setCredentials("admin", "739204");

    CConfigSetWidget page;
    page.resize(1000, 600);
    page.show();
    page.setDeviceList(list.data(), 1);
    auto *tree = page.findChild<QTreeWidget *>();
    const auto items = tree->findItems(QString::fromStdString(r.netInfo.ipText()), Qt::MatchExactly | Qt::MatchRecursive);
    if (items.isEmpty()) {
        std::fprintf(stderr, "the recorder is not in the tree\n");
        return 1;
    }
    tree->setCurrentItem(items.first());

    std::vector<double> shown;
    for (int i = 0; i < rounds; ++i) {
        page.resetToFirstView();
        app.processEvents();
        QElapsedTimer t;
        t.start();
        page.slot_itemDoubleClicked(items.first(), 0);
        while (page.currentPage() != 1 && t.elapsed() < 10000)
            app.processEvents(QEventLoop::AllEvents, 5);
        app.processEvents();
        shown.push_back(double(t.nsecsElapsed()) / 1e6);
    }
    std::sort(shown.begin(), shown.end());
    std::printf("double-click to encode page, 16-channel recorder (%d rounds): median %.1f ms, worst %.1f ms\n",
                rounds, shown[shown.size() / 2], shown.back());
    if (list[0].loginHandle > 0)
        NetSdk_Logout(list[0].loginHandle);
    return 0;
}
