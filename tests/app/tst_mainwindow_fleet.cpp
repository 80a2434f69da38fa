// The main window on the real network SDK against the emulated fleet: the
// start-up search shows the fleet's count, and the segment move brings the
// other segment's devices into the PC's.

#include <QtTest>

#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <set>

#include "Emulator.h"
#include "Fleet.h"
#include "NetSdkControl.h"
#include "OrvaneTool.h"
#include "ToolLab.h"

using namespace scoutrix;

class TestMainWindowFleet : public QObject
{
    Q_OBJECT

private slots:
    void startupSearchShowsTheFleetAndMovesTheOtherSegment()
    {
        devsim::EmulatorOptions o;
        o.discovery.push_back(net::Endpoint { 0x7f000001u, 0 });
        o.ephemeralPorts = true;
        const devsim::Fleet fleet = devsim::defaultFleet();
        devsim::Emulator emu(fleet, o);
        std::string error;
        QVERIFY2(emu.start(error), error.c_str());
        netsdk::setDiscoveryTargets(emu.discoveryEndpoints());
        int before = 0;
        for (int i = 0; i < emu.deviceCount(); ++i)
            before += ((emu.device(i).ip >> 8) & 0xff) != 10;
        QVERIFY(before > 0);

        int questions = 0;
        QTimer answerer;
        connect(&answerer, &QTimer::timeout, this, [&questions] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++questions;
                box->button(QMessageBox::Yes)->click();
            }
        });
        answerer.start(20);

        OrvaneTool::Environment env = OrvaneTool::defaultEnvironment();
        env.localAddresses = [](bool *ok) {
            *ok = true;
            return QList<QHostAddress> { QHostAddress(QStringLiteral("127.0.10.1")) };
        };
        auto w = std::make_unique<OrvaneTool>(nullptr, env);
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(ended.wait(15000));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isSearching() && questions == 1, 30000);
        QCOMPARE(w->findChild<QLabel *>(QStringLiteral("m_DevNum"))->text(),
            QString::number(fleet.devices.size()));
        // Every device of the other segment was sent into 127.0.10.x.
        QTRY_VERIFY_WITH_TIMEOUT(
            [&] {
                for (int i = 0; i < emu.deviceCount(); ++i) {
                    if (((emu.device(i).ip >> 8) & 0xff) != 10 || !emu.device(i).reachable)
                        return false;
                }
                return true;
            }(),
            30000);

        // The next search finds them all in the PC's segment: no question.
        QTest::mouseClick(w->findChild<ToolLab *>(QStringLiteral("m_Search")), Qt::LeftButton);
        QVERIFY(ended.wait(15000));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isSearching(), 10000);
        QTest::qWait(200);
        QCOMPARE(questions, 1);
        QCOMPARE(w->deviceList().count(), int(fleet.devices.size()));
        std::set<std::string> macs;
        for (int i = 0; i < w->deviceList().count(); ++i) {
            const DeviceRecord &d = w->deviceList().devices()[i];
            QVERIFY(QByteArray(d.ipText).startsWith("127.0.10."));
            macs.insert(d.netInfo.macText());
        }
        QCOMPARE(macs.size(), fleet.devices.size());
        w.reset();
    }
};

QTEST_MAIN(TestMainWindowFleet)
#include "tst_mainwindow_fleet.moc"
