// The program as an installer uses it, against the real network SDK and an
// emulated fleet on loopback: search, the segment move, the table, address
// changes, and logging in to configure a recorder.

#include <QtTest>

#include <QComboBox>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QHostAddress>
#include <QLabel>
#include <QPushButton>
#include <QTreeWidget>

#include <memory>

#include "AppPaths.h"
#include "CCameraParam.h"
#include "CChangerIPDlg.h"
#include "CConfigSetWidget.h"
#include "CEncodeCfgWidget.h"
#include "CIPLineEdit.h"
#include "CIPSearch.h"
#include "CMultiLanguage.h"
#include "CPasswordDlg.h"
#include "CPortTable.h"
#include "ConfigRecords.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "LanguageCopy.h"
#include "Net.h"
#include "ModalHelpers.h"
#include "NetSdkControl.h"
#include "OrvaneTool.h"
#include "CToolTips.h"
#include "CViewWnd.h"
#include "PlaySdkControl.h"
#include "PlayerView.h"
#include "ToolLab.h"
#include "WebLogin.h"

using scoutrix::devsim::DeviceSpec;
using scoutrix::devsim::Emulator;
using scoutrix::devsim::Fleet;
using testsupport::BoxAnswerer;

namespace {

constexpr uint32_t ipv4(int a, int b, int c, int d)
{
    return uint32_t(a) << 24 | uint32_t(b) << 16 | uint32_t(c) << 8 | uint32_t(d);
}

// Six devices: four in the PC's segment 127.0.31.x, two beyond it in
// 127.0.32.x. Blocks of their own, so other suites running at the same time
// never meet them.
Fleet fleet()
{
    Fleet f;
    auto add = [&](int n, int32_t type, int channels, uint32_t ip, const char *model) {
        DeviceSpec d;
        d.mac = QString::asprintf("02:E2:E0:00:00:%02X", n).toStdString();
        d.serial = "E2E" + std::to_string(1000 + n);
        d.model = model;
        d.type = type;
        d.channels = channels;
        d.audioChannels = channels;
        d.ip = ip;
        d.gateway = (ip & 0xffffff00u) | 1u;
        d.port = 0;
        d.users = {{"admin", "739204"}};
        f.devices.push_back(d);
    };
    add(1, 2, 1, ipv4(127, 0, 31, 11), "E2E-IPC-4M");
    add(2, 1, 16, ipv4(127, 0, 31, 12), "E2E-NVR-16");
    add(3, 0, 4, ipv4(127, 0, 31, 13), "E2E-DVR-4");
    add(4, 2, 1, ipv4(127, 0, 31, 14), "E2E-IPC-2M");
    add(5, 3, 8, ipv4(127, 0, 32, 21), "E2E-HVR-8");
    add(6, 2, 1, ipv4(127, 0, 32, 22), "E2E-IPC-5M");
    f.devices[3].users = {{"admin", "site-pass"}};
    return f;
}

OrvaneTool::Environment environment(bool startSearch)
{
    OrvaneTool::Environment env;
    env.localAddresses = [](bool *ok) {
        *ok = true;
        return QList<QHostAddress>{QHostAddress(QStringLiteral("127.0.31.1"))};
    };
    env.openUrl = [](const QUrl &) { return true; };
    env.restart = [] {};
    env.quit = [] {};
    env.startSearch = startSearch;
    return env;
}

int rowOfMac(CIPSearch *page, const QString &mac)
{
    for (int r = 0; r < page->table()->rowCount(); ++r) {
        if (page->table()->item(r, CIPSearch::ColMac)->text() == mac)
            return r;
    }
    return -1;
}

// Pictures compared as 64×36 grey thumbnails, so that coding noise and the
// running clock strip weigh little against a flip of the whole scene.
double difference(const QImage &a, const QImage &b)
{
    const QImage x = a.scaled(64, 36).convertToFormat(QImage::Format_Grayscale8);
    const QImage y = b.scaled(64, 36).convertToFormat(QImage::Format_Grayscale8);
    double sum = 0;
    for (int row = 0; row < 36; ++row) {
        for (int col = 0; col < 64; ++col)
            sum += std::abs(int(x.constScanLine(row)[col]) - int(y.constScanLine(row)[col]));
    }
    return sum / (64 * 36);
}

double meanSaturation(const QImage &image)
{
    const QImage small = image.scaled(64, 36).convertToFormat(QImage::Format_RGB32);
    double sum = 0;
    for (int row = 0; row < small.height(); ++row) {
        for (int col = 0; col < small.width(); ++col)
            sum += QColor(small.pixel(col, row)).hsvSaturation();
    }
    return sum / (small.width() * small.height());
}

// The newest picture the preview drew, or none.
QImage drawnPicture()
{
    scoutrix::play::PlayerView *view = scoutrix::play::portView();
    return view && view->framesDrawn() > 0 ? view->newest() : QImage();
}

QString ipOfMac(CIPSearch *page, const QString &mac)
{
    const int r = rowOfMac(page, mac);
    return r < 0 ? QString() : page->table()->item(r, CIPSearch::ColIP)->text();
}

} // namespace

class TestEndToEnd : public QObject
{
    Q_OBJECT
    testsupport::LanguageCopy m_lang;
    std::unique_ptr<Emulator> m_sim;

    bool startFleet(const Fleet &f)
    {
        m_sim = fixture::start(f);
        return m_sim != nullptr;
    }

    // Runs one search from the search button and waits until it is shown.
    static bool search(OrvaneTool &w)
    {
        QSignalSpy ended(&w, &OrvaneTool::searchEnd);
        QTest::mouseClick(w.findChild<ToolLab *>("m_Search"), Qt::LeftButton);
        return ended.wait(15000) || ended.count() > 0;
    }

    // The configuration page's tree item of a device, the page shown.
    static QTreeWidgetItem *configItem(OrvaneTool &w, const QString &ip)
    {
        w.findChild<QAbstractButton *>("m_DevCfg")->click();
        auto *tree = w.configPage()->findChild<QTreeWidget *>();
        const auto items = tree->findItems(ip, Qt::MatchExactly | Qt::MatchRecursive);
        if (items.size() != 1)
            return nullptr;
        tree->setCurrentItem(items.first());
        return items.first();
    }

    static bool waitIdle(OrvaneTool &w)
    {
        QElapsedTimer t;
        t.start();
        while (w.isSearching() && t.elapsed() < 15000)
            QTest::qWait(20);
        QTest::qWait(50);
        return !w.isSearching();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_lang.install());
    }

    void init() { QVERIFY(startFleet(fleet())); }
    void cleanup()
    {
        m_sim.reset();
        scoutrix::netsdk::clearDiscoveryTargets();
    }

    void startupSearchFillsTheTableAndAsksOnce()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(true));
        QVERIFY(waitIdle(w));
        QTRY_COMPARE_WITH_TIMEOUT(w.tablePage()->table()->rowCount(), 6, 5000);
        QCOMPARE(w.findChild<QLabel *>("m_DevNum")->text(), QStringLiteral("6"));
        QCOMPARE(no.count, 1);
        // "No" moves nothing.
        QCOMPARE(ipOfMac(w.tablePage(), "02:E2:E0:00:00:05"), QStringLiteral("127.0.32.21"));
        QCOMPARE(w.configPage()->deviceCount(), 6);

        // The question comes again with the next search, once.
        QVERIFY(search(w));
        QCOMPARE(no.count, 2);
    }

    void segmentMoveBringsForeignDevicesIn()
    {
        BoxAnswerer yes(QMessageBox::Yes);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        QCOMPARE(yes.count, 1);
        // The devices are sent off the GUI thread; the table follows at the end.
        QTRY_VERIFY_WITH_TIMEOUT(!w.isMoving(), 15000);
        QCOMPARE(ipOfMac(w.tablePage(), "02:E2:E0:00:00:05"), QStringLiteral("127.0.31.21"));
        QCOMPARE(ipOfMac(w.tablePage(), "02:E2:E0:00:00:06"), QStringLiteral("127.0.31.22"));
        QCOMPARE(w.tablePage()->storedResult("02:E2:E0:00:00:05"), 1);
        QCOMPARE(ipOfMac(w.tablePage(), "02:E2:E0:00:00:01"), QStringLiteral("127.0.31.11"));

        // The devices really moved: the next search finds them there, and
        // with everything in one segment nothing is asked.
        QVERIFY(search(w));
        QCOMPARE(yes.count, 1);
        QCOMPARE(ipOfMac(w.tablePage(), "02:E2:E0:00:00:05"), QStringLiteral("127.0.31.21"));
        const int hvr = m_sim->indexOfMac("02:E2:E0:00:00:05");
        QVERIFY(m_sim->device(hvr).reachable);
        // A page switch after the move searches first, as after an IP change.
        QCOMPARE(w.modifiedFlag(), 0);
    }

    void secondPressRunsOneSearchAndSilenceKeepsTheDevices()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QSignalSpy ended(&w, &OrvaneTool::searchEnd);
        auto *button = w.findChild<ToolLab *>("m_Search");
        QTest::mouseClick(button, Qt::LeftButton);
        QTest::mouseClick(button, Qt::LeftButton);
        QVERIFY(waitIdle(w));
        QTest::qWait(200);
        QCOMPARE(ended.count(), 1);
        QCOMPARE(w.tablePage()->table()->rowCount(), 6);

        // The fleet goes quiet: the table keeps the last devices.
        m_sim->stop();
        QVERIFY(search(w));
        QCOMPARE(w.tablePage()->table()->rowCount(), 6);
        QCOMPARE(w.findChild<QLabel *>("m_DevNum")->text(), QStringLiteral("6"));
    }

    void batchChangeMovesThreeDevices()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        CIPSearch *page = w.tablePage();
        const QStringList macs = {"02:E2:E0:00:00:01", "02:E2:E0:00:00:02", "02:E2:E0:00:00:03"};
        for (const QString &mac : macs)
            page->table()->item(rowOfMac(page, mac), CIPSearch::ColCheck)->setCheckState(Qt::Checked);

        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(200, 3);
            d->findChild<QPushButton *>("btnOK")->click();
        });
        page->findChild<QPushButton *>("m_BtnModify")->click();
        QCOMPARE(dialog.count, 1);
        QCOMPARE(w.modifiedFlag(), 1);
        // Each row shows its new address with the ok mark; the rows were
        // checked in table order, so the run follows it.
        QStringList shown;
        for (const QString &mac : macs) {
            QWidget *cell = page->table()->cellWidget(rowOfMac(page, mac), CIPSearch::ColIP);
            QVERIFY(cell);
            QVERIFY(cell->findChild<QPushButton *>("resultOk"));
            shown << ipOfMac(page, mac);
        }
        shown.sort();
        QCOMPARE(shown, QStringList({"127.0.31.200", "127.0.31.201", "127.0.31.202"}));

        // Switching to the configuration page searches again first.
        QSignalSpy ended(&w, &OrvaneTool::searchEnd);
        w.findChild<QAbstractButton *>("m_DevCfg")->click();
        QVERIFY(ended.wait(15000));
        QStringList found;
        for (const QString &mac : macs)
            found << ipOfMac(page, mac);
        found.sort();
        QCOMPARE(found, shown);
        QCOMPARE(w.modifiedFlag(), 0);
    }

    // Three cameras fresh from the factory share one address; the second
    // refuses the change. Each row's mark and notice tell its own outcome.
    void sharedFactoryAddressNoticesMatchTheirMarks()
    {
        Fleet f = fleet();
        for (int n = 7; n <= 9; ++n) {
            DeviceSpec d = f.devices[0];
            d.mac = QString::asprintf("02:E2:E0:00:00:%02X", n).toStdString();
            d.serial = "E2E" + std::to_string(1000 + n);
            d.ip = ipv4(127, 0, 31, 50);
            f.devices.push_back(d);
        }
        const QString refused = QStringLiteral("02:E2:E0:00:00:08");
        f.devices[7].faults.refuseSet = true;
        m_sim.reset();
        QVERIFY(startFleet(f));

        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        CIPSearch *page = w.tablePage();
        const QStringList macs = {"02:E2:E0:00:00:07", refused, "02:E2:E0:00:00:09"};
        for (const QString &mac : macs)
            page->table()->item(rowOfMac(page, mac), CIPSearch::ColCheck)->setCheckState(Qt::Checked);
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(60, 3);
            d->findChild<QPushButton *>("btnOK")->click();
        });
        page->findChild<QPushButton *>("m_BtnModify")->click();
        QCOMPARE(dialog.count, 1);

        for (const QString &mac : macs) {
            const bool ok = mac != refused;
            const int row = rowOfMac(page, mac);
            QWidget *cell = page->table()->cellWidget(row, CIPSearch::ColIP);
            QVERIFY(cell);
            QPushButton *mark = cell->findChild<QPushButton *>(ok ? "resultOk" : "resultError");
            QVERIFY2(mark, qPrintable(mac));
            QString device, result;
            testsupport::ModalHandler<CToolTips> notice([&](CToolTips *t) {
                device = t->deviceText();
                result = t->resultText();
                t->OnClose();
            });
            mark->click();
            QCOMPARE(result, CMultiLanguage::text(ok ? "successful" : "fail"));
            QCOMPARE(device, ipOfMac(page, mac));
            // The device is where the row says.
            const auto snapshot = m_sim->device(m_sim->indexOfMac(mac.toStdString()));
            QCOMPARE(QString::fromStdString(scoutrix::net::ipv4Text(snapshot.ip)), ipOfMac(page, mac));
        }
        QCOMPARE(ipOfMac(page, refused), QStringLiteral("127.0.31.50"));
    }

    void webLoginAfterAChangeOpensTheNewAddress()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        CIPSearch *page = w.tablePage();
        const QString mac = QStringLiteral("02:E2:E0:00:00:01");
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(71, 3);
            d->slot_OK();
        });
        page->table()->cellWidget(rowOfMac(page, mac), CIPSearch::ColOperate)
            ->findChild<QPushButton *>("btnModify")->click();
        QCOMPARE(dialog.count, 1);
        QList<QUrl> opened;
        WebLogin::setOpener([&](const QUrl &url) { opened << url; });
        page->table()->cellWidget(rowOfMac(page, mac), CIPSearch::ColOperate)
            ->findChild<QPushButton *>("btnlogin")->click();
        WebLogin::setOpener({});
        QCOMPARE(opened.value(0).toString(), QStringLiteral("http://127.0.31.71"));
        const auto snapshot = m_sim->device(m_sim->indexOfMac(mac.toStdString()));
        QCOMPARE(snapshot.ip, ipv4(127, 0, 31, 71));
        QVERIFY(snapshot.reachable);
    }

    void deviceMovedAwayIsStillFound()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        CIPSearch *page = w.tablePage();
        const QString mac = QStringLiteral("02:E2:E0:00:00:04");
        const int row = rowOfMac(page, mac);
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            const int octets[4] = {192, 168, 77, 5};
            for (int i = 0; i < 4; ++i) {
                d->ipEdit()->setOctet(octets[i], i);
                // A device takes no gateway outside its new subnet.
                d->gatewayEdit()->setOctet(i == 3 ? 1 : octets[i], i);
            }
            d->slot_OK();
        });
        page->table()->cellWidget(row, CIPSearch::ColOperate)->findChild<QPushButton *>("btnModify")->click();
        QCOMPARE(dialog.count, 1);
        QVERIFY(search(w));
        QCOMPARE(ipOfMac(page, mac), QStringLiteral("192.168.77.5"));
        // Outside this machine's addresses: discoverable, but nobody can
        // reach it (and no test ever tries to).
        QVERIFY(!m_sim->device(m_sim->indexOfMac(mac.toStdString())).reachable);
    }

    void recorderLoginAndEncodeRoundTrip()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.12"));
        QVERIFY(item);
        CConfigSetWidget *config = w.configPage();
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 10000);

        const int nvr = m_sim->indexOfMac("02:E2:E0:00:00:02");
        std::vector<uint8_t> before;
        QVERIFY(m_sim->record(nvr, scoutrix::CmdEncodeTable, -1, before));
        QCOMPARE(int(before.size()), 25344);
        QCOMPARE(config->encodeWidget()->budget().channelCount(), 16);

        // Saving what was read writes it back byte for byte, and the device
        // takes it (its own budget check included).
        auto *save = config->encodeWidget()->findChild<QPushButton *>("m_btnSave");
        save->click();
        std::vector<uint8_t> after;
        QVERIFY(m_sim->record(nvr, scoutrix::CmdEncodeTable, -1, after));
        QVERIFY(before == after);
        QCOMPARE(item->data(1, Qt::UserRole + 1).toInt(), 0);

        // Channel 2's main stream gets a smaller resolution and another bit
        // rate; the device keeps exactly that.
        CEncodeCfgWidget *encode = config->encodeWidget();
        auto *channel = encode->findChild<QComboBox *>("m_cmbChannel");

        // The channel list's rows are dark under their light text, inside the
        // window's sheets as well.
        channel->showPopup();
        const QImage rows = channel->view()->grab().toImage();
        channel->hidePopup();
        QVERIFY(rows.height() > 40);
        const QColor row = rows.pixelColor(rows.width() - 30, rows.height() - 6);
        QVERIFY2(row.lightness() < 100, qPrintable(row.name()));
        auto *framesize = encode->findChild<QComboBox *>("m_cmbFramesize");
        auto *bitRate = encode->findChild<QComboBox *>("m_cmbBitRate");
        channel->setCurrentIndex(1);
        emit channel->activated(1);
        const int oldRes = framesize->currentData().toInt();
        int smaller = -1;
        for (int i = 0; i < framesize->count(); ++i) {
            if (framesize->itemData(i).toInt() != oldRes)
                smaller = i;
        }
        QVERIFY(smaller >= 0);
        const int newRes = framesize->itemData(smaller).toInt();
        framesize->setCurrentIndex(smaller);
        emit framesize->activated(smaller);
        QVERIFY(bitRate->count() > 1);
        bitRate->setCurrentIndex(0);
        emit bitRate->activated(0);
        const int newRate = bitRate->currentText().toInt();
        save->click();
        QTRY_COMPARE_WITH_TIMEOUT(item->data(1, Qt::UserRole + 1).toInt(), 0, 5000);

        std::vector<uint8_t> edited;
        QVERIFY(m_sim->record(nvr, scoutrix::CmdEncodeTable, -1, edited));
        scoutrix::EncodeTable t;
        std::memcpy(&t, edited.data(), sizeof t);
        QCOMPARE(t.channel[1].main.resolution(), newRes);
        QCOMPARE(t.channel[1].main.bitRate(), newRate);
        // Only channel 2's main-stream words may differ (resolution, frame
        // rate, bit rate, quality); every other byte is as the device had it.
        const std::size_t first = sizeof(scoutrix::ChannelEncode) + scoutrix::StreamParams::Resolution;
        const std::size_t last = sizeof(scoutrix::ChannelEncode) + scoutrix::StreamParams::IFrameInterval;
        for (std::size_t i = 0; i < edited.size(); ++i) {
            if (i >= first && i < last)
                continue;
            QVERIFY2(edited[i] == before[i], qPrintable(QStringLiteral("byte %1 changed").arg(i)));
        }

        // A fresh login reads the new values back.
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 10000);
        channel->setCurrentIndex(1);
        emit channel->activated(1);
        QCOMPARE(framesize->currentData().toInt(), newRes);
        QCOMPARE(bitRate->currentText().toInt(), newRate);

        // Closing logs the recorder out.
        w.OnClose();
        QTRY_COMPARE_WITH_TIMEOUT(scoutrix::netsdk::openSessionCount(), 0, 5000);
    }

    void saveOverTheDevicesBudgetIsRefusedAndMarked()
    {
        // A recorder left over its budget by someone else: every channel's
        // main stream at 8M. Editing channel 1 cannot make that fit, and the
        // device refuses the table as a whole.
        Fleet f = fleet();
        DeviceSpec &dvr = f.devices[2];
        const int index = m_sim->indexOfMac(dvr.mac);
        std::vector<uint8_t> bytes;
        QVERIFY(m_sim->record(index, scoutrix::CmdEncodeTable, -1, bytes));
        scoutrix::EncodeTable table;
        std::memcpy(&table, bytes.data(), sizeof table);
        for (int ch = 0; ch < dvr.channels; ++ch)
            table.channel[ch].main.setResolution(20);
        std::memcpy(bytes.data(), &table, sizeof table);
        dvr.extraRecords.push_back({scoutrix::CmdEncodeTable, -1, bytes});
        m_sim.reset();
        QVERIFY(startFleet(f));

        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.13"));
        QVERIFY(item);
        CConfigSetWidget *config = w.configPage();
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 10000);
        config->encodeWidget()->findChild<QPushButton *>("m_btnSave")->click();
        QTRY_VERIFY_WITH_TIMEOUT(item->data(1, Qt::UserRole + 1).toInt() < 0, 5000);
        std::vector<uint8_t> after;
        QVERIFY(m_sim->record(m_sim->indexOfMac(dvr.mac), scoutrix::CmdEncodeTable, -1, after));
        QVERIFY(after == bytes);
        w.OnClose();
    }

    // Every device of the default fleet: its encode page has something in
    // every list, nothing beyond the device's limits, and a save without
    // edits gives the device back the very bytes it had.
    void wholeDefaultFleetSavesWhatItRead()
    {
        const Fleet f = scoutrix::devsim::ownProtocolDevices(scoutrix::devsim::defaultFleet());
        m_sim.reset();
        QVERIFY(startFleet(f));
        BoxAnswerer no(QMessageBox::No);
        testsupport::ModalHandler<CPasswordDlg> credentials([](CPasswordDlg *d) {
            d->setCredentials(QStringLiteral("admin"), QStringLiteral("sx-install"), QString());
            d->slotOK();
        });
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        CConfigSetWidget *config = w.configPage();
        QCOMPARE(config->deviceCount(), int(f.devices.size()));
        for (const DeviceSpec &spec : f.devices) {
            const int index = m_sim->indexOfMac(spec.mac);
            const QString ip = QString::fromStdString(scoutrix::net::ipv4Text(m_sim->device(index).ip));
            const QByteArray who = (QString::fromStdString(spec.model) + " " + ip).toUtf8();
            QTreeWidgetItem *item = configItem(w, ip);
            QVERIFY2(item, who.constData());
            std::vector<uint8_t> before;
            QVERIFY(m_sim->record(index, scoutrix::CmdEncodeTable, -1, before));

            config->slot_itemDoubleClicked(item, 0);
            QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 10000);
            CEncodeCfgWidget *encode = config->encodeWidget();
            QCOMPARE(QString::fromLatin1(encode->device().ipText), ip);
            QVERIFY2(encode->readError() == 0, who.constData());

            auto *channel = encode->findChild<QComboBox *>("m_cmbChannel");
            QVERIFY(channel->count() >= spec.channels);
            for (int i = 0; i < channel->count(); ++i) {
                channel->setCurrentIndex(i);
                emit channel->activated(i);
                for (const char *list : {"m_cmbEncodeType", "m_cmbSubStream", "m_cmbFramesize", "m_cmbFramesize_2",
                                         "m_cmbBitRate", "m_cmbBitRate_2"}) {
                    const QComboBox *c = encode->findChild<QComboBox *>(list);
                    QVERIFY2(c->count() > 0 && c->currentIndex() >= 0,
                             qPrintable(QStringLiteral("%1 %2 of %3").arg(list, channel->itemText(i), ip)));
                }
                if (i < spec.channels) {
                    QVERIFY2(encode->findChild<QLabel *>("labOverMain")->isHidden(), who.constData());
                    QVERIFY2(encode->findChild<QLabel *>("labOverSub")->isHidden(), who.constData());
                }
            }
            // Back to a single channel: saving "All" would copy the first to all.
            channel->setCurrentIndex(0);
            emit channel->activated(0);
            encode->findChild<QPushButton *>("m_btnSave")->click();
            QTRY_COMPARE_WITH_TIMEOUT(item->data(1, Qt::UserRole + 1).toInt(), 0, 5000);
            std::vector<uint8_t> after;
            QVERIFY(m_sim->record(index, scoutrix::CmdEncodeTable, -1, after));
            QCOMPARE(int(after.size()), 25344);
            QVERIFY2(after == before, who.constData());
        }
        QCOMPARE(credentials.count, 1);
        w.OnClose();
    }

    void failedReadSaysSoInsteadOfAFormOfZeros_data()
    {
        QTest::addColumn<bool>("slow");
        QTest::addColumn<int>("code");
        QTest::newRow("answers broken after the login") << false << -10004;
        QTest::newRow("answers later than the page waits") << true << -10005;
    }
    void failedReadSaysSoInsteadOfAFormOfZeros()
    {
        QFETCH(bool, slow);
        QFETCH(int, code);
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        const int nvr = m_sim->indexOfMac("02:E2:E0:00:00:02");
        std::vector<uint8_t> before;
        QVERIFY(m_sim->record(nvr, scoutrix::CmdEncodeTable, -1, before));
        scoutrix::devsim::Faults faults;
        if (slow)
            faults.delayMs = 1500;  // the login still fits its 5 s; a read has 1 s
        else
            faults.malformed = "magic";
        m_sim->setFaults(nvr, faults);

        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.12"));
        QVERIFY(item);
        CConfigSetWidget *config = w.configPage();
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 15000);
        CEncodeCfgWidget *encode = config->encodeWidget();
        QCOMPARE(encode->readError(), code);
        const QLabel *message = encode->findChild<QLabel *>("labReadError");
        QVERIFY(!message->isHidden());
        QCOMPARE(message->text(), slow ? CMultiLanguage::text("Encode.ReadTimeout")
                                       : CMultiLanguage::text("Encode.ReadFailed").arg(code));
        for (const char *name : {"groupMain", "groupSub", "m_cmbChannel", "m_btnSave"})
            QVERIFY2(encode->findChild<QWidget *>(name)->isHidden(), name);
        encode->slot_SetDevConfig();
        std::vector<uint8_t> after;
        QVERIFY(m_sim->record(nvr, scoutrix::CmdEncodeTable, -1, after));
        QVERIFY(after == before);
        m_sim->setFaults(nvr, scoutrix::devsim::Faults());
        w.OnClose();
    }

    void wrongPasswordAsksForCredentialsThatThenWork()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.14"));
        QVERIFY(item);
        CConfigSetWidget *config = w.configPage();
        // A slow device: the retry takes a while, and the window keeps
        // handling events meanwhile.
        const int ipc = m_sim->indexOfMac("02:E2:E0:00:00:04");
        scoutrix::devsim::Faults slow;
        slow.delayMs = 300;
        m_sim->setFaults(ipc, slow);
        QString failure;
        bool okPressed = false;
        int ticksDuringRetry = 0;
        QTimer ticker;
        connect(&ticker, &QTimer::timeout, this, [&] {
            if (okPressed && config->loginRunning())
                ++ticksDuringRetry;
        });
        ticker.start(10);
        testsupport::ModalHandler<CPasswordDlg> credentials([&](CPasswordDlg *d) {
            failure = config->findChild<QLabel *>("labText")->text();
            d->setCredentials(QStringLiteral("admin"), QStringLiteral("site-pass"), QString());
            d->slotOK();
            okPressed = true;
        });
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(credentials.count, 1, 10000);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 15000);
        QCOMPARE(failure, CMultiLanguage::text("PasswdError"));
        QVERIFY(ticksDuringRetry > 0);
        QVERIFY(scoutrix::netsdk::openSessionCount() >= 1);
        w.OnClose();
        QTRY_COMPARE_WITH_TIMEOUT(scoutrix::netsdk::openSessionCount(), 0, 5000);
    }

    void loginErrorsTheUserCannotTypeAwayAskNothing_data()
    {
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QString>("key");
        QTest::newRow("nothing listens") << "unreachable" << "NetError";
        QTest::newRow("no answer") << "timeout" << "Timeout";
        QTest::newRow("busy") << "busy" << "SystemBusy";
    }
    void loginErrorsTheUserCannotTypeAwayAskNothing()
    {
        QFETCH(QString, fault);
        QFETCH(QString, key);
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.13"));
        QVERIFY(item);
        const int index = item->data(0, Qt::UserRole + 1).toInt();
        scoutrix::devsim::Faults faults;
        if (fault == "unreachable") {
            // The record points at a loopback address where nothing listens.
            scoutrix::setFieldText(w.deviceList().devices()[index].ipText, "127.0.33.1");
        } else {
            faults.timeout = fault == "timeout";
            faults.busy = fault == "busy";
            m_sim->setFaults(m_sim->indexOfMac("02:E2:E0:00:00:03"), faults);
        }
        scoutrix::netsdk::setLoginTimeoutMs(800);
        int dialogs = 0;
        testsupport::ModalHandler<CPasswordDlg> credentials([&](CPasswordDlg *d) {
            ++dialogs;
            d->slotClose();
        });
        CConfigSetWidget *config = w.configPage();
        auto *text = config->findChild<QLabel *>("labText");
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(text->text(), CMultiLanguage::text(key), 10000);
        QTRY_VERIFY_WITH_TIMEOUT(!config->loginRunning(), 5000);
        QTest::qWait(100);
        scoutrix::netsdk::setLoginTimeoutMs(5000);
        QCOMPARE(dialogs, 0);
        QCOMPARE(config->currentPage(), 0);
        QVERIFY(w.deviceList().devices()[index].loginHandle <= 0);
        w.OnClose();
    }

    void searchDuringALoginKeepsTheSessionWithItsDevice()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        QVERIFY(search(w));
        const std::string macB = "02:E2:E0:00:00:03";
        const int oldIndex = w.deviceList().indexOfMac(macB);
        QVERIFY(oldIndex >= 0);
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.13"));
        QVERIFY(item);

        // B answers everything late: its login is slow, and it answers the
        // next search last, so another device takes its place in the list.
        const int b = m_sim->indexOfMac(macB);
        scoutrix::devsim::Faults slow;
        slow.delayMs = 700;
        m_sim->setFaults(b, slow);
        CConfigSetWidget *config = w.configPage();
        config->slot_itemDoubleClicked(item, 0);
        QVERIFY(config->loginRunning());
        QVERIFY(search(w));
        m_sim->setFaults(b, scoutrix::devsim::Faults());

        const int newIndex = w.deviceList().indexOfMac(macB);
        QVERIFY(newIndex >= 0);
        QVERIFY2(newIndex != oldIndex, "the search did not change the order");
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!config->loginRunning(), 5000);

        // The encode page shows B, and B's record holds B's session.
        const scoutrix::DeviceRecord &shown = config->encodeWidget()->device();
        QCOMPARE(shown.netInfo.macText(), macB);
        QCOMPARE(QString::fromStdString(shown.devInfo.modelText()), QStringLiteral("E2E-DVR-4"));
        QCOMPARE(config->encodeWidget()->budget().channelCount(), 4);
        const scoutrix::DeviceRecord *devices = w.deviceList().devices();
        QVERIFY(devices[newIndex].loginHandle > 0);
        QCOMPARE(devices[newIndex].loginHandle, shown.loginHandle);
        QCOMPARE(devices[oldIndex].loginHandle, 0);
        // The session of the first login was logged out: B holds one, no
        // other device any.
        QTRY_COMPARE_WITH_TIMEOUT(scoutrix::netsdk::openSessionCount(), 1, 5000);
        for (int i = 0; i < m_sim->deviceCount(); ++i)
            QTRY_COMPARE_WITH_TIMEOUT(m_sim->device(i).sessions, i == b ? 1 : 0, 5000);
        w.OnClose();
        QTRY_COMPARE_WITH_TIMEOUT(scoutrix::netsdk::openSessionCount(), 0, 5000);
    }

    void cameraPreviewShowsEachSavedChangeAndFollowsThePage()
    {
        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        w.resize(1280, 800);
        w.show();
        QVERIFY(search(w));
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.31.11"));
        QVERIFY(item);
        CConfigSetWidget *config = w.configPage();
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 10000);
        auto *btnVideo = config->findChild<QPushButton *>("btnVideo");
        auto *btnEncode = config->findChild<QPushButton *>("btnEncode");
        QVERIFY(btnVideo && btnVideo->isVisible());

        // The camera page shows the camera's live picture.
        btnVideo->click();
        CCameraParam *camera = config->cameraWidget();
        QVERIFY(camera);
        QTRY_VERIFY_WITH_TIMEOUT(camera->isVisible(), 5000);
        QVERIFY(camera->streamHandle() > 0);
        QCOMPARE(m_sim->stats().liveStreams, 1);
        QTRY_VERIFY_WITH_TIMEOUT(!drawnPicture().isNull(), 10000);
        const QImage before = drawnPicture();
        QVERIFY(difference(before, before.mirrored(true, false)) > 20); // the scene is not symmetric

        // Mirror saved: the picture turns left to right, the device keeps it.
        const int sim = m_sim->indexOfMac("02:E2:E0:00:00:01");
        camera->findChild<QCheckBox *>("ckbMirror")->setChecked(true);
        camera->findChild<QPushButton *>("m_btnSave")->click();
        QTRY_COMPARE_WITH_TIMEOUT(item->data(1, Qt::UserRole + 1).toInt(), 0, 5000);
        std::vector<uint8_t> image;
        QVERIFY(m_sim->record(sim, scoutrix::CmdImage, 0, image));
        QCOMPARE(int(image[scoutrix::ImageRecord::Mirror]), 1);
        QTRY_VERIFY_WITH_TIMEOUT(difference(drawnPicture(), before.mirrored(true, false)) < 4, 5000);
        QVERIFY(difference(drawnPicture(), before) > 8);

        // Black and white: the picture loses its colour.
        QVERIFY(meanSaturation(before) > 40);
        auto *dayNight = camera->findChild<QComboBox *>("cmbDayNight");
        dayNight->setCurrentIndex(dayNight->findData(2));
        camera->findChild<QPushButton *>("m_btnSave")->click();
        QTRY_VERIFY_WITH_TIMEOUT(meanSaturation(drawnPicture()) < 8, 5000);

        // To the encode page and back: the stream stops, then a new one runs.
        const int32_t first = camera->streamHandle();
        btnEncode->click();
        QVERIFY(!camera->isVisible());
        QCOMPARE(camera->streamHandle(), 0);
        QVERIFY(!scoutrix::play::portView());
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->stats().liveStreams, 0, 5000);
        btnVideo->click();
        QVERIFY(camera->streamHandle() > 0);
        QVERIFY(camera->streamHandle() != first);
        QTRY_VERIFY_WITH_TIMEOUT(!drawnPicture().isNull(), 10000);
        QCOMPARE(m_sim->stats().liveStreams, 1);
        QCOMPARE(m_sim->stats().streamsStarted, 2);

        // Leaving the configuration page stops it too; closing logs out.
        w.findChild<QAbstractButton *>("m_System")->click();
        QCOMPARE(camera->streamHandle(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_sim->stats().liveStreams, 0, 5000);
        w.OnClose();
        QTRY_COMPARE_WITH_TIMEOUT(scoutrix::netsdk::openSessionCount(), 0, 5000);
    }

    // An ONVIF camera (its clock ten minutes ahead) beside the own devices:
    // one search lists it, the encode page reads and saves it unchanged, and
    // the camera page shows its RTSP picture.
    void onvifCameraThroughTheWindow()
    {
        Fleet f = fleet();
        DeviceSpec cam;
        cam.protocol = scoutrix::devsim::Protocol::Onvif;
        cam.mac = "02:E2:E0:00:00:40";
        cam.serial = "E2E1040";
        cam.model = "E2E-ONVIF-2M";
        cam.ip = ipv4(127, 0, 33, 11);
        cam.gateway = ipv4(127, 0, 33, 1);
        cam.port = 0;
        cam.clockOffsetS = 600;
        cam.users = {{"admin", "739204"}};
        f.devices.push_back(cam);
        m_sim.reset();
        QVERIFY(startFleet(f));
        const int sim = m_sim->indexOfMac(cam.mac);
        QVERIFY(sim >= 0);

        BoxAnswerer no(QMessageBox::No);
        OrvaneTool w(nullptr, environment(false));
        w.resize(1280, 800);
        w.show();
        QVERIFY(search(w));
        QCOMPARE(NetSdk_DeviceProtocol(cam.mac.c_str()), 1);
        QTreeWidgetItem *item = configItem(w, QStringLiteral("127.0.33.11"));
        QVERIFY(item);
        std::vector<uint8_t> before;
        QVERIFY(m_sim->record(sim, scoutrix::CmdEncodeTable, -1, before));

        CConfigSetWidget *config = w.configPage();
        config->slot_itemDoubleClicked(item, 0);
        QTRY_COMPARE_WITH_TIMEOUT(config->currentPage(), 1, 10000);
        CEncodeCfgWidget *encode = config->encodeWidget();
        QCOMPARE(encode->readError(), 0);
        for (const char *list : {"m_cmbFramesize", "m_cmbFramesize_2", "m_cmbBitRate"}) {
            const QComboBox *c = encode->findChild<QComboBox *>(list);
            QVERIFY2(c->count() > 0 && c->currentIndex() >= 0, list);
        }
        encode->findChild<QPushButton *>("m_btnSave")->click();
        QTRY_COMPARE_WITH_TIMEOUT(item->data(1, Qt::UserRole + 1).toInt(), 0, 5000);
        std::vector<uint8_t> after;
        QVERIFY(m_sim->record(sim, scoutrix::CmdEncodeTable, -1, after));
        QVERIFY(after == before);

        config->findChild<QPushButton *>("btnVideo")->click();
        CCameraParam *camera = config->cameraWidget();
        QTRY_VERIFY_WITH_TIMEOUT(camera->isVisible(), 5000);
        QVERIFY(camera->streamHandle() > 0);
        QTRY_VERIFY_WITH_TIMEOUT(!drawnPicture().isNull(), 10000);
        w.OnClose();
        QTRY_COMPARE_WITH_TIMEOUT(scoutrix::netsdk::openSessionCount(), 0, 5000);
    }
};

QTEST_MAIN(TestEndToEnd)
#include "tst_endtoend.moc"
