// The main window on the real network SDK against the emulated fleet: the
// start-up search shows the fleet's count, and the segment move brings the
// other segment's devices into the PC's.

#include <QtTest>

#include <QHostAddress>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

#include <set>

#include "CIPSearch.h"
#include "CMultiLanguage.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "Fleet.h"
#include "NetSdkControl.h"
#include "OrvaneTool.h"
#include "ModalHelpers.h"
#include "ResultTexts.h"
#include "ToolLab.h"

using namespace scoutrix;

class TestMainWindowFleet : public QObject
{
    Q_OBJECT

private slots:
    void startupSearchShowsTheFleetAndMovesTheOtherSegment()
    {
        // The default fleet, its ONVIF cameras included: they move with the
        // program's default login, which the SDK holds for them. Their host
        // numbers are made free in the PC's segment, so that every one of
        // them must really move.
        devsim::Fleet fleet = devsim::defaultFleet();
        int onvif = 0;
        for (devsim::DeviceSpec &d : fleet.devices) {
            if (d.protocol == devsim::Protocol::Onvif)
                d.ip = (d.ip & 0xffffff00u) | uint32_t(200 + onvif++);
        }
        QVERIFY(onvif > 0);
        std::string error;
        const auto emu = fixture::start(fleet, std::string(), &error);
        QVERIFY2(emu, error.c_str());
        int before = 0;
        for (int i = 0; i < emu->deviceCount(); ++i)
            before += ((emu->device(i).ip >> 8) & 0xff) != 10;
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
                for (int i = 0; i < emu->deviceCount(); ++i) {
                    if (((emu->device(i).ip >> 8) & 0xff) != 10 || !emu->device(i).reachable)
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

    // 256 devices in three segments: 127.0.11.x shares its host numbers with
    // the PC's 127.0.10.x, so those devices must stay where they are.
    void fullFleetMoveLeavesNoSharedAddress()
    {
        const devsim::Fleet fleet = devsim::generatedFleet(256);
        std::string error;
        const auto emu = fixture::start(fleet, std::string(), &error);
        QVERIFY2(emu, error.c_str());

        testsupport::BoxAnswerer yes(QMessageBox::Yes);
        OrvaneTool::Environment env = OrvaneTool::defaultEnvironment();
        env.localAddresses = [](bool *ok) {
            *ok = true;
            return QList<QHostAddress> { QHostAddress(QStringLiteral("127.0.10.1")) };
        };
        env.quit = [] {};
        auto w = std::make_unique<OrvaneTool>(nullptr, env);
        QTRY_VERIFY_WITH_TIMEOUT(yes.count == 1 && !w->isSearching() && !w->isMoving(), 60000);
        QVERIFY(yes.lastText.endsWith(CMultiLanguage::text(QStringLiteral("SegmentMoveCounts"))
                                          .arg(85)
                                          .arg(QStringLiteral("127.0.10"))
                                          .arg(81)));
        // Every device is marked: moved or told why not.
        int moved = 0, inUse = 0;
        for (int i = 0; i < emu->deviceCount(); ++i) {
            const int code = w->tablePage()->storedResult(QString::fromStdString(emu->device(i).mac));
            moved += code == 1;
            inUse += code == ResultTexts::CodeAddressInUse;
        }
        QCOMPARE(moved, 85);
        QCOMPARE(inUse, 81);

        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QTest::mouseClick(w->findChild<ToolLab *>(QStringLiteral("m_Search")), Qt::LeftButton);
        QVERIFY(ended.wait(15000));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isSearching() && !w->isMoving(), 30000);
        // Only devices that cannot move are left outside: nothing is asked.
        QCOMPARE(yes.count, 1);
        QCOMPARE(w->deviceList().count(), 256);
        std::set<std::string> addresses;
        for (int i = 0; i < w->deviceList().count(); ++i)
            addresses.insert(w->deviceList().devices()[i].netInfo.ipText());
        QCOMPARE(int(addresses.size()), 256);
        std::set<uint32_t> emulated;
        for (int i = 0; i < emu->deviceCount(); ++i)
            emulated.insert(emu->device(i).ip);
        QCOMPARE(int(emulated.size()), 256);
        w.reset();
        netsdk::clearDiscoveryTargets();
    }
};

QTEST_MAIN(TestMainWindowFleet)
#include "tst_mainwindow_fleet.moc"
