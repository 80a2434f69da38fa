// Pictures of the program at work for the README and the manual: the main
// window against an emulated fleet on loopback, logged in to a camera, with
// its live picture before and after mirror, and its audio page.
//
//   scoutrix-live-shots OUTDIR LANGUAGE(en|zh)
//
// Run from the build's program folder so the style sheets and skin resolve.
// Only loopback is used: the fleet is in-process on 127.0.41.x.

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QHostAddress>
#include <QPushButton>
#include <QTabWidget>
#include <QThread>
#include <QTreeWidget>

#include <cstdio>

#include "CCameraParam.h"
#include "CConfigSetWidget.h"
#include "EmulatorFixture.h"
#include "OrvaneTool.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"
#include "ShotSupport.h"
#include "ToolLab.h"

using scoutrix::devsim::DeviceSpec;
using scoutrix::devsim::Fleet;

namespace {

Fleet fleet()
{
    Fleet f;
    auto add = [&](int n, int32_t type, int channels, int last, const char *model) {
        DeviceSpec d;
        d.mac = QString::asprintf("02:5C:00:00:00:%02X", n).toStdString();
        d.serial = "SXI2025010" + std::to_string(1000 + n);
        d.model = model;
        d.type = type;
        d.channels = channels;
        d.audioChannels = type == 2 ? 1 : 0;
        d.ip = 0x7f002900u | uint32_t(last); // 127.0.41.x
        d.gateway = 0x7f002901u;
        d.port = 0;
        d.users = { { "admin", "739204" } };
        f.devices.push_back(d);
    };
    add(1, 2, 1, 11, "SX-IPC-5M");
    add(2, 2, 1, 12, "SX-IPC-4M");
    add(3, 2, 1, 13, "SX-IPC-2M");
    add(4, 1, 16, 21, "SX-NVR-16");
    add(5, 0, 8, 22, "SX-DVR-8");
    return f;
}

// Runs the event loop until |done| or |ms| have passed.
template<typename F>
bool waitFor(F done, int ms)
{
    QElapsedTimer t;
    t.start();
    while (!done() && t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return done();
}

bool saveWindow(QWidget &w, const QString &path)
{
    waitFor([] { return false; }, 400); // a few pictures more, the clock moves on
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

int64_t framesDrawn()
{
    scoutrix::play::PlayerView *v = scoutrix::play::portView();
    return v ? v->framesDrawn() : 0;
}

} // namespace

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("SCOUTRIX_NETSDK_LOOPBACK_ONLY", "1");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: scoutrix-live-shots OUTDIR en|zh\n");
        return 2;
    }
    const QString out = QDir().absoluteFilePath(QString::fromLocal8Bit(argv[1]));
    const QString lang = QString::fromLatin1(argv[2]);
    QDir().mkpath(out);
    shots::useLanguage(lang);

    NetSdk_Init(0, 0);
    auto sim = fixture::start(fleet());
    if (!sim)
        return 1;

    OrvaneTool::Environment env;
    env.localAddresses = [](bool *ok) {
        *ok = true;
        return QList<QHostAddress> { QHostAddress(QStringLiteral("127.0.41.1")) };
    };
    env.openUrl = [](const QUrl &) { return true; };
    env.restart = [] {};
    env.quit = [] {};
    env.startSearch = false;
    OrvaneTool w(nullptr, env);
    w.resize(1280, 860);
    w.show();

    bool searched = false;
    QObject::connect(&w, &OrvaneTool::searchEnd, [&searched] { searched = true; });
    emit w.findChild<ToolLab *>(QStringLiteral("m_Search"))->clicked();
    // The table and the devices' credentials are filled after the search's
    // end has been delivered: wait for the worker, then for the window.
    if (!waitFor([&] { return searched && !w.isSearching(); }, 15000)) {
        std::fprintf(stderr, "the search did not end\n");
        return 1;
    }
    waitFor([] { return false; }, 300);
    w.findChild<QAbstractButton *>(QStringLiteral("m_DevCfg"))->click();
    CConfigSetWidget *config = w.configPage();
    auto *tree = config->findChild<QTreeWidget *>();
    const auto items = tree->findItems(QStringLiteral("127.0.41.11"), Qt::MatchExactly | Qt::MatchRecursive);
    if (items.size() != 1) {
        std::fprintf(stderr, "the camera is not in the tree\n");
        return 1;
    }
    tree->setCurrentItem(items.first());
    config->slot_itemDoubleClicked(items.first(), 0);
    if (!waitFor([&] { return config->currentPage() == 1; }, 10000)) {
        std::fprintf(stderr, "the login did not end\n");
        return 1;
    }

    bool ok = true;
    config->findChild<QPushButton *>(QStringLiteral("btnVideo"))->click();
    CCameraParam *camera = config->cameraWidget();
    if (!camera || !waitFor([] { return framesDrawn() > 10; }, 10000)) {
        std::fprintf(stderr, "no live picture\n");
        return 1;
    }
    ok &= saveWindow(w, out + QStringLiteral("/camera-page-%1.png").arg(lang));
    camera->findChild<QCheckBox *>(QStringLiteral("ckbMirror"))->setChecked(true);
    camera->findChild<QPushButton *>(QStringLiteral("m_btnSave"))->click();
    const int64_t after = framesDrawn();
    waitFor([after] { return framesDrawn() > after + 10; }, 5000);
    ok &= saveWindow(w, out + QStringLiteral("/camera-page-mirror-%1.png").arg(lang));

    auto *tabs = camera->findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    for (int tab : { 1, 2 }) {
        tabs->setCurrentIndex(tab);
        ok &= saveWindow(w, out + QStringLiteral("/camera-tab%1-%2.png").arg(tab + 1).arg(lang));
    }
    tabs->setCurrentIndex(0);

    config->findChild<QPushButton *>(QStringLiteral("btnAudio"))->click();
    ok &= saveWindow(w, out + QStringLiteral("/audio-page-%1.png").arg(lang));

    w.OnClose();
    waitFor([] { return false; }, 300);
    return ok ? 0 : 1;
}
