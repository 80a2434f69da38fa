// The main window against a recording SDK: search hand-off, the segment
// move, credentials, page switching and closing.

#include <QtTest>

#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QMovie>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QToolButton>
#include <QTreeWidget>

#include <functional>

#include "CActivityLogDlg.h"
#include "CConfigSetWidget.h"
#include "ActivityLog.h"
#include "CIPSearch.h"
#include "CMultiLanguage.h"
#include "CPasswordDlg.h"
#include "CSystemCFGWidget.h"
#include "CUpgradeWidget.h"
#include "FakeNetSdk.h"
#include "OrvaneTool.h"
#include "Prompt.h"
#include "ToolLab.h"
#include "LanguageCopy.h"
#include "ModalHelpers.h"
#include "ResultTexts.h"

using testsupport::BoxAnswerer;

using scoutrix::SearchRecord;

namespace {

struct Ip
{
    uint8_t o[4];
};

SearchRecord dev(const char *mac, Ip ip, int32_t type = 2)
{
    return fakesdk::makeRecord(mac, ip.o, type);
}

void setAnswer(std::vector<SearchRecord> answer, bool ok = true, int delayMs = 0)
{
    QMutexLocker lock(&fakesdk::state().mutex);
    fakesdk::state().searchAnswer = std::move(answer);
    fakesdk::state().searchSucceeds = ok;
    fakesdk::state().searchDelayMs = delayMs;
}

} // namespace

class TestMainWindow : public QObject
{
    Q_OBJECT

private:
    QList<QHostAddress> m_local;
    bool m_lookupOk = true;
    QList<QUrl> m_opened;
    int m_restarts = 0;
    int m_quits = 0;

    std::unique_ptr<OrvaneTool> makeWindow(bool startSearch = true)
    {
        OrvaneTool::Environment env;
        env.localAddresses = [this](bool *ok) {
            *ok = m_lookupOk;
            return m_local;
        };
        env.openUrl = [this](const QUrl &url) {
            m_opened << url;
            return true;
        };
        env.restart = [this] { ++m_restarts; };
        env.quit = [this] { ++m_quits; };
        env.startSearch = startSearch;
        return std::make_unique<OrvaneTool>(nullptr, env);
    }

    static bool waitSearch(OrvaneTool &w, QSignalSpy &spy, int count = 1)
    {
        // The start-up search can end before the spy is connected (the worker
        // starts as the constructor's last step), so the SDK's call count and
        // the worker's end tell when it is over; then the queued presentation
        // is delivered.
        Q_UNUSED(spy);
        QElapsedTimer t;
        t.start();
        while ((fakesdk::state().searchCalls.load() < count || w.isSearching()) && t.elapsed() < 10000)
            QTest::qWait(10);
        QCoreApplication::processEvents();
        return fakesdk::state().searchCalls.load() >= count && !w.isSearching();
    }

    static QTreeWidgetItem *configItem(OrvaneTool &w, const QString &ip)
    {
        const auto items = w.configPage()->findChild<QTreeWidget *>("IPTree")->findItems(
            ip, Qt::MatchExactly | Qt::MatchRecursive);
        return items.size() == 1 ? items.first() : nullptr;
    }

    static QString devNum(OrvaneTool &w) { return w.findChild<QLabel *>("m_DevNum")->text(); }

private slots:
    void init()
    {
        fakesdk::reset();
        m_local = {QHostAddress("10.0.0.9")};
        m_lookupOk = true;
        m_opened.clear();
        m_restarts = 0;
        m_quits = 0;
    }

    void startupSearchFillsTheCountAndThePages()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}}, 0), dev("A", {{10, 0, 0, 7}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QCOMPARE(devNum(*w), QStringLiteral("2"));
        QCOMPARE(w->deviceList().rawCount(), 3);
        QVERIFY(w->configPage() && w->systemPage() && w->upgradePage());
        QCOMPARE(w->configPage()->deviceCount(), 2);
        QCOMPARE(w->upgradePage()->deviceCount(), 2);
        auto *table = w->tablePage()->findChild<QTableWidget *>("tableAuto");
        QVERIFY(table);
        QCOMPARE(table->rowCount(), 2);
        QCOMPARE(QString::fromLatin1(w->deviceList().devices()[0].userName), QStringLiteral("admin"));
        QCOMPARE(QString::fromLatin1(w->deviceList().devices()[0].password), QStringLiteral("739204"));
    }

    void secondPressDuringASearchRunsOneSearch()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}})}, true, 400);
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(w->isSearching());
        QTest::mouseClick(w->findChild<ToolLab *>("m_Search"), Qt::LeftButton);
        QVERIFY(waitSearch(*w, ended));
        QTest::qWait(100);
        QCOMPARE(fakesdk::state().searchCalls.load(), 1);
        QCOMPARE(ended.count(), 1);
    }

    void emptySearchAfterAnswersShowsThePreviousDevices()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        w->deviceList().devices()[0].loginHandle = 11;
        setAnswer({}, false);
        w->SearchDev();
        QVERIFY(waitSearch(*w, ended, 2));
        QCOMPARE(devNum(*w), QStringLiteral("2"));
        QCOMPARE(w->tablePage()->findChild<QTableWidget *>("tableAuto")->rowCount(), 2);
        // The open session stays with its device rather than being forgotten.
        QCOMPARE(w->deviceList().devices()[0].loginHandle, 11);
        QVERIFY(fakesdk::state().logouts.isEmpty());
    }

    void sessionsFollowTheirDeviceAcrossSearches()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}}), dev("C", {{10, 0, 0, 7}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        auto *devices = w->deviceList().devices();
        devices[0].loginHandle = 11;
        devices[1].loginHandle = 12;
        devices[2].loginHandle = -11301;
        const uint32_t before = w->deviceList().generation();

        // B answers first now, A not at all.
        setAnswer({dev("B", {{10, 0, 0, 6}}), dev("C", {{10, 0, 0, 7}})});
        w->SearchDev();
        QVERIFY(waitSearch(*w, ended, 2));
        QCOMPARE(w->deviceList().generation(), before + 1);
        QCOMPARE(w->deviceList().count(), 2);
        QCOMPARE(QString::fromStdString(devices[0].netInfo.macText()), QStringLiteral("B"));
        QCOMPARE(devices[0].loginHandle, 12);
        QCOMPARE(devices[1].loginHandle, 0); // a failed login is no session
        QCOMPARE(fakesdk::state().logouts, QVector<int32_t>{11});
    }

    void firstSearchWithNothingShowsZero()
    {
        setAnswer({}, false);
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QCOMPARE(devNum(*w), QStringLiteral("0"));
        QCOMPARE(w->configPage()->deviceCount(), 0);
    }

    void tableIsFilledWhileTheSegmentQuestionIsAsked()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 7}})});
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setResults = {0};
        }
        OrvaneTool *window = nullptr;
        int rowsWhenAsked = -1;
        testsupport::ModalHandler<QMessageBox> handler([&](QMessageBox *box) {
            if (window)
                rowsWhenAsked = window->tablePage()->findChild<QTableWidget *>("tableAuto")->rowCount();
            box->button(QMessageBox::Yes)->click();
        });
        auto w = makeWindow();
        window = w.get();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_COMPARE(handler.count, 1);
        // The installer sees which devices the question is about...
        QCOMPARE(rowsWhenAsked, 2);
        // ...and afterwards where they went.
        auto *table = w->tablePage()->findChild<QTableWidget *>("tableAuto");
        QTRY_COMPARE(table->item(1, CIPSearch::ColIP)->text(), QStringLiteral("10.0.0.7"));
        // The gateway moved with it, in the table's copy too.
        QCOMPARE(scoutrix::octetsText(w->tablePage()->netInfo(1).gateway), std::string("10.0.0.1"));
        QCOMPARE(w->tablePage()->storedResult("B"), 1);
    }

    void segmentQuestion_data()
    {
        QTest::addColumn<int>("answer");
        QTest::newRow("no") << int(QMessageBox::No);
        QTest::newRow("yes") << int(QMessageBox::Yes);
    }
    void segmentQuestion()
    {
        QFETCH(int, answer);
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 7}}), dev("C", {{192, 168, 1, 8}})});
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setResults = {0, -1}; // the second move fails
        }
        BoxAnswerer answerer{QMessageBox::StandardButton(answer)};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_COMPARE(answerer.count, 1);
        const auto &calls = fakesdk::state().setCalls;
        const scoutrix::NetInfo *net = w->deviceList().netArray();
        if (answer == QMessageBox::No) {
            QCOMPARE(calls.size(), 0);
            QCOMPARE(QString::fromStdString(net[1].ipText()), QStringLiteral("192.168.1.7"));
            QCOMPARE(w->modifiedFlag(), 0);
        } else {
            QTRY_VERIFY(!w->isMoving());
            QCOMPARE(calls.size(), 2);
            for (const auto &call : calls) {
                QCOMPARE(call.command, 20);
                QCOMPARE(call.channel, -1);
                QCOMPARE(call.record.size(), 144);
                QCOMPARE(call.timeoutMs, 10000);
            }
            scoutrix::NetInfo sent;
            std::memcpy(&sent, calls[0].record.constData(), sizeof sent);
            QCOMPARE(QString::fromStdString(sent.ipText()), QStringLiteral("10.0.0.7"));
            QCOMPARE(QString::fromStdString(scoutrix::octetsText(sent.gateway)), QStringLiteral("10.0.0.1"));
            QCOMPARE(sent.macText(), std::string("B"));
            // Only a move the device accepted shows in the table's array.
            QCOMPARE(QString::fromStdString(net[1].ipText()), QStringLiteral("10.0.0.7"));
            QCOMPARE(QString::fromStdString(net[2].ipText()), QStringLiteral("192.168.1.8"));
            QCOMPARE(QString::fromLatin1(w->deviceList().devices()[1].ipText), QStringLiteral("192.168.1.7"));
            // Pages would log in at the old address: the next switch searches.
            QCOMPARE(w->modifiedFlag(), 1);
            const int before = fakesdk::state().searchCalls;
            w->OnDevCfg();
            QVERIFY(waitSearch(*w, ended, 2));
            QCOMPARE(fakesdk::state().searchCalls.load(), before + 1);
        }
        // Every finished search asks again.
        w->SearchDev();
        QVERIFY(waitSearch(*w, ended, answer == QMessageBox::No ? 2 : 3));
        QTRY_COMPARE(answerer.count, answer == QMessageBox::No ? 2 : 3);
    }

    void moveSkipsTakenAddressesAndSaysWhy()
    {
        // A holds 10.0.0.5, so B cannot have it; C and D share a last octet.
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 5}}), dev("C", {{192, 168, 1, 7}}),
                   dev("D", {{172, 16, 0, 7}}), dev("E", {{172, 16, 0, 9}})});
        QTemporaryDir logDir;
        const QString logBefore = ActivityLog::instance().directory();
        ActivityLog::instance().setDirectory(logDir.path());
        BoxAnswerer answerer{QMessageBox::Yes};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_COMPARE(answerer.count, 1);
        QVERIFY(answerer.lastText.startsWith(CMultiLanguage::text(
            "Please confirm whether it is changed to the same network segment. Different network segments "
            "cannot enter the relevant setting functions.")));
        QVERIFY(answerer.lastText.endsWith(
            '\n' + CMultiLanguage::text("SegmentMoveCounts").arg(1).arg("10.0.0").arg(3)));
        QTRY_VERIFY(!w->isMoving());
        // Only C was sent; E would land on the PC's own address.
        const auto &calls = fakesdk::state().setCalls;
        QCOMPARE(calls.size(), 1);
        scoutrix::NetInfo sent;
        std::memcpy(&sent, calls[0].record.constData(), sizeof sent);
        QCOMPARE(sent.macText(), std::string("C"));

        CIPSearch *page = w->tablePage();
        QCOMPARE(page->storedResult("A"), 0);
        QCOMPARE(page->storedResult("B"), int(ResultTexts::CodeAddressInUse));
        QCOMPARE(page->storedResult("C"), 1);
        QCOMPARE(page->storedResult("D"), int(ResultTexts::CodeAddressInUse));
        QCOMPARE(page->storedResult("E"), int(ResultTexts::CodeAddressInUse));
        QCOMPARE(page->storedDetail("B"), CMultiLanguage::text("AddressHeldByDevice").arg("10.0.0.5", "A"));
        QCOMPARE(page->storedDetail("D"), CMultiLanguage::text("AddressHeldByMove").arg("10.0.0.7", "C"));
        QCOMPARE(page->storedDetail("E"), CMultiLanguage::text("AddressHeldByPc").arg("10.0.0.9"));
        QCOMPARE(QString::fromStdString(w->deviceList().netArray()[1].ipText()), QStringLiteral("192.168.1.5"));
        QCOMPARE(QString::fromStdString(w->deviceList().netArray()[2].ipText()), QStringLiteral("10.0.0.7"));

        // The log holds the move and each device left out, with its reason.
        const QVector<ActivityEntry> log = ActivityLog::instance().entries(QDate::currentDate());
        ActivityLog::instance().setDirectory(logBefore);
        QCOMPARE(log.size(), 4);
        QCOMPARE(log[0].mac, QStringLiteral("B"));
        QCOMPARE(log[0].result, int(ResultTexts::CodeAddressInUse));
        QCOMPARE(log[0].resultText, CMultiLanguage::text("Address in use"));
        QCOMPARE(log[1].mac, QStringLiteral("C"));
        QCOMPARE(log[1].result, 0);
        QCOMPARE(log[1].oldValue, QStringLiteral("192.168.1.7 / 255.255.255.0 / 192.168.1.1"));
        QCOMPARE(log[1].newValue, QStringLiteral("10.0.0.7 / 255.255.255.0 / 10.0.0.1"));
        QCOMPARE(log[1].operation, int(ResultTexts::OpModifyIP));
    }

    void nothingToAskWhenNoDeviceCanMove()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 5}})});
        BoxAnswerer answerer{QMessageBox::Yes};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_COMPARE(w->tablePage()->storedResult("B"), int(ResultTexts::CodeAddressInUse));
        QCOMPARE(answerer.count, 0);
        QCOMPARE(fakesdk::state().setCalls.size(), 0);
        QCOMPARE(w->modifiedFlag(), 0);
    }

    void moveRunsOffTheGuiThread()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 6}}), dev("C", {{192, 168, 1, 7}}),
                   dev("D", {{192, 168, 1, 8}})});
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setDelayMs = 300;
        }
        BoxAnswerer answerer{QMessageBox::Yes};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_VERIFY(w->isMoving());
        auto *label = w->findChild<QLabel *>("m_Devlabel");
        QTRY_COMPARE(label->text(), CMultiLanguage::text("MovingDeviceOf").arg(2).arg(3));
        // The event loop runs while devices are sent: a timer fires.
        int ticks = 0;
        QTimer tick;
        connect(&tick, &QTimer::timeout, this, [&] { ++ticks; });
        tick.start(10);
        QTest::qWait(100);
        QVERIFY(ticks >= 3);
        // Nothing may act on half-moved records: a search waits for the
        // move, a page switch and the table's address changes are refused.
        const int searches = fakesdk::state().searchCalls;
        w->SearchDev();
        QVERIFY(!w->isSearching());
        w->OnSystem();
        QCOMPARE(w->currentPage(), int(OrvaneTool::TablePage));
        QVERIFY(!w->tablePage()->isEnabled());
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setDelayMs = 0;
            fakesdk::state().searchDelayMs = 500;
        }
        QTRY_VERIFY_WITH_TIMEOUT(!w->isMoving(), 5000);
        QCOMPARE(fakesdk::state().setCalls.size(), 3);
        // The postponed search starts at once and says so.
        QCOMPARE(label->text(), CMultiLanguage::text("Searching..."));
        QVERIFY(w->tablePage()->isEnabled());
        QCOMPARE(w->tablePage()->storedResult("D"), 1);
        QCOMPARE(w->modifiedFlag(), 0); // cleared by the search that starts now
        // The search pressed during the move runs after it.
        QVERIFY(w->isSearching());
        QVERIFY(waitSearch(*w, ended, searches + 1));
        QTRY_VERIFY(!w->isMoving());
    }

    void closeDuringAMoveSendsNoMore()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 6}}), dev("C", {{192, 168, 1, 7}}),
                   dev("D", {{192, 168, 1, 8}})});
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setDelayMs = 300;
        }
        BoxAnswerer answerer{QMessageBox::Yes};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_VERIFY(w->isMoving());
        w->OnClose();
        QVERIFY(w->tablePage());
        QCOMPARE(m_quits, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_quits, 1, 5000);
        QVERIFY(!w->tablePage());
        QVERIFY(fakesdk::state().setCalls.size() < 3);
    }

    void noQuestionWhenAllDevicesShareTheSegment()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 200}})});
        m_local = {QHostAddress("192.168.9.9"), QHostAddress("10.0.0.9")}; // the last one counts
        BoxAnswerer answerer{QMessageBox::Yes};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTest::qWait(100);
        QCOMPARE(answerer.count, 0);
        QCOMPARE(fakesdk::state().setCalls.size(), 0);
    }

    void failedLookupStillPresentsTheSearch()
    {
        setAnswer({dev("A", {{192, 168, 1, 5}})});
        m_lookupOk = false;
        BoxAnswerer answerer{QMessageBox::Yes};
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTest::qWait(100);
        QCOMPARE(answerer.count, 0);
        QCOMPARE(w->tablePage()->findChild<QTableWidget *>("tableAuto")->rowCount(), 1);
        QCOMPARE(w->configPage()->deviceCount(), 1);
    }

    void localSegmentTakesTheLastIpv4Address()
    {
        uint8_t seg[3] = {9, 9, 9};
        QVERIFY(!OrvaneTool::localSegment({QHostAddress("fe80::1")}, seg));
        QVERIFY(OrvaneTool::localSegment({QHostAddress("172.16.4.2"), QHostAddress("fe80::1"),
                                          QHostAddress("192.168.3.10")}, seg));
        QCOMPARE(int(seg[0]), 192);
        QCOMPARE(int(seg[1]), 168);
        QCOMPARE(int(seg[2]), 3);
    }

    void credentialsSpreadToEveryRecord()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        w->deviceList().devices()[1].loginHandle = 33;

        QTimer::singleShot(50, w.get(), [] {
            auto *dlg = qobject_cast<CPasswordDlg *>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            QCOMPARE(dlg->userText(), QStringLiteral("admin"));
            QCOMPARE(dlg->passwordText(), QStringLiteral("739204"));
            auto *user = dlg->findChild<QLineEdit *>("EditUser");
            auto *pass = dlg->findChild<QLineEdit *>("EditPassword");
            QCOMPARE(pass->echoMode(), QLineEdit::Password);
            user->clear();
            QTest::keyClicks(user, "installer-admin");
            pass->clear();
            QTest::mouseClick(dlg->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
        });
        QTest::mouseClick(w->findChild<QPushButton *>("btnSearchSet"), Qt::LeftButton);

        QCOMPARE(w->userName(), QStringLiteral("installer-admin"));
        QCOMPARE(w->password(), QString());
        for (int i = 0; i < 2; ++i) {
            const auto &rec = w->deviceList().devices()[i];
            QCOMPARE(QString::fromLatin1(rec.userName), QStringLiteral("installer-a"));
            QCOMPARE(QString::fromLatin1(rec.password), QString());
        }
        QCOMPARE(w->deviceList().devices()[1].loginHandle, 33);

        // The next search's records carry the new credentials too.
        w->SearchDev();
        QVERIFY(waitSearch(*w, ended, 2));
        QCOMPARE(QString::fromLatin1(w->deviceList().devices()[0].userName), QStringLiteral("installer-a"));
    }

    void closeLogsOutEveryHandle()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}}), dev("C", {{10, 0, 0, 7}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        auto *devices = w->deviceList().devices();
        devices[0].loginHandle = 101;
        devices[1].loginHandle = -11301;
        devices[2].loginHandle = 103;
        w->OnClose();
        QCOMPARE(fakesdk::state().logouts, (QVector<int32_t>{101, 103}));
        QCOMPARE(devices[0].loginHandle, 0);
        QCOMPARE(devices[2].loginHandle, 0);
        QVERIFY(!w->tablePage() && !w->configPage() && !w->systemPage() && !w->upgradePage());
        QCOMPARE(m_quits, 1);
    }

    void closeDuringABatchWaitsForTheDeviceUnderWay()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}}), dev("C", {{10, 0, 0, 7}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        fakesdk::state().loginDelayMs = 300;
        CSystemCFGWidget *page = w->systemPage();
        page->batch().setJobs(1);
        auto *tree = page->findChild<QTreeWidget *>("IPTree");
        tree->topLevelItem(0)->setCheckState(0, Qt::Checked);
        page->findChild<QPushButton *>("btnPCTime")->click();
        QVERIFY(page->batchRunning());
        QTRY_COMPARE(fakesdk::state().activeLogins.load(), 1);
        w->OnClose();
        QVERIFY(w->systemPage()); // not closed yet: the first device is under way
        QCOMPARE(m_quits, 0);
        QTRY_COMPARE_WITH_TIMEOUT(m_quits, 1, 5000);
        QVERIFY(!w->systemPage());
        QCOMPARE(fakesdk::state().loginCalls.size(), 1);
    }

    void closeDuringASearchWaitsForIt()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}})}, true, 300);
        auto w = makeWindow(false);
        w->SearchDev();
        w->deviceList(); // the worker owns the list now; nothing is read here
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        w->OnClose();
        QVERIFY(w->tablePage()); // not closed yet
        QCOMPARE(m_quits, 0);
        QVERIFY(waitSearch(*w, ended));
        QTRY_VERIFY(!w->tablePage());
        QCOMPARE(m_quits, 1);
    }

    void closeWhileALoginRunsLogsItOut()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginDelayMs = 300;
        }
        CConfigSetWidget *config = w->configPage();
        config->slot_itemDoubleClicked(configItem(*w, "10.0.0.5"), 0);
        QVERIFY(config->loginRunning());
        w->OnClose();
        QCOMPARE(fakesdk::state().loginCalls.size(), 1);
        QCOMPARE(fakesdk::state().logouts, QVector<int32_t>{100});
        QVERIFY(!w->configPage());
        QCOMPARE(m_quits, 1);
    }

    void lateSearchEndAfterCloseRevivesNothing()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{192, 168, 1, 7}})});
        BoxAnswerer no(QMessageBox::No);
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        QTRY_COMPARE(no.count, 1);
        w->OnClose();
        QCOMPARE(m_quits, 1);

        emit w->searchEnd();
        w->SearchDev();
        w->OnDevCfg();
        QTest::qWait(100);
        QCOMPARE(no.count, 1);
        QCOMPARE(fakesdk::state().searchCalls.load(), 1);
        QVERIFY(!w->tablePage() && !w->configPage() && !w->systemPage() && !w->upgradePage());
        QCOMPARE(m_quits, 1);
    }

    void searchDuringALoginKeepsEachSessionWithItsDevice()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}}), dev("B", {{10, 0, 0, 6}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginDelayMs = 200;
        }
        CConfigSetWidget *config = w->configPage();
        config->slot_itemDoubleClicked(configItem(*w, "10.0.0.6"), 0);
        QVERIFY(config->loginRunning());

        // The devices answer the next search in the other order.
        setAnswer({dev("B", {{10, 0, 0, 6}}), dev("A", {{10, 0, 0, 5}})}, true, 50);
        w->SearchDev();
        QVERIFY(waitSearch(*w, ended, 2));
        QTRY_VERIFY_WITH_TIMEOUT(!config->loginRunning(), 5000);
        QTest::qWait(20);

        const auto *devices = w->deviceList().devices();
        QCOMPARE(QString::fromStdString(devices[0].netInfo.macText()), QStringLiteral("B"));
        QCOMPARE(config->selectedDevice(), 0);
        // The first login belonged to the old list and was logged out; B was
        // logged in again where it sits now, and A holds nothing.
        QCOMPARE(fakesdk::state().logouts, QVector<int32_t>{100});
        const auto calls = fakesdk::state().loginCalls;
        QCOMPARE(calls.size(), 2);
        QCOMPARE(QString::fromStdString(calls[1].address), QStringLiteral("10.0.0.6"));
        QCOMPARE(devices[0].loginHandle, 101);
        QCOMPARE(devices[1].loginHandle, 0);
    }

    void pageButtons()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}})});
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(waitSearch(*w, ended));
        const int searches = fakesdk::state().searchCalls;

        QTest::mouseClick(w->findChild<QToolButton *>("m_System"), Qt::LeftButton);
        QCOMPARE(w->currentPage(), int(OrvaneTool::SystemPage));
        QVERIFY(w->findChild<QToolButton *>("m_System")->isChecked());
        QVERIFY(!w->findChild<QToolButton *>("m_ModifyIPs")->isChecked());

        // While an upgrade runs no page button does anything.
        w->slot_UpgradeFlag(true);
        QTest::mouseClick(w->findChild<QToolButton *>("m_ModifyIPs"), Qt::LeftButton);
        QTest::mouseClick(w->findChild<QToolButton *>("m_DevCfg"), Qt::LeftButton);
        QCOMPARE(w->currentPage(), int(OrvaneTool::SystemPage));
        QVERIFY(w->findChild<QToolButton *>("m_System")->isChecked());
        QVERIFY(!w->findChild<QToolButton *>("m_DevCfg")->isChecked());
        w->slot_UpgradeFlag(false);

        // After an IP change only the other pages search first.
        w->slot_ModifyIPFlag();
        w->OnModifyIPs();
        QCOMPARE(fakesdk::state().searchCalls.load(), searches);
        QCOMPARE(w->modifiedFlag(), 1);
        w->OnUpgrade();
        QCOMPARE(w->modifiedFlag(), 0);
        QCOMPARE(w->currentPage(), int(OrvaneTool::UpgradePage));
        QVERIFY(waitSearch(*w, ended, 2));
        QCOMPARE(fakesdk::state().searchCalls.load(), searches + 1);
    }

    void helpOpensTheManualOfTheLanguage_data()
    {
        QTest::addColumn<QByteArray>("language");
        QTest::addColumn<QString>("file");
        QTest::newRow("Eng") << QByteArray("Eng") << "Scoutrix User ManualV1.0.pdf";
        QTest::newRow("Zh") << QByteArray("Zh") << QStringLiteral("Scoutrix用户手册V1.0.pdf");
        QTest::newRow("other") << QByteArray("Fr") << "Scoutrix User ManualV1.0.pdf";
    }
    void helpOpensTheManualOfTheLanguage()
    {
        QFETCH(QByteArray, language);
        QFETCH(QString, file);
        QTemporaryDir dir;
        QFile ini(dir.filePath("language.ini"));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Language]\nlanguage=" + language + "\n");
        ini.close();
        CMultiLanguage::setLanguageDir(dir.path());
        auto w = makeWindow(false);
        w->slot_OPenHelpPDF();
        w->slot_ChangeLanguage();
        CMultiLanguage::setLanguageDir(QStringLiteral("Language"));
        QCOMPARE(m_opened.size(), 1);
        QVERIFY(m_opened[0].isLocalFile());
        QCOMPARE(m_opened[0].toLocalFile(), QCoreApplication::applicationDirPath() + "/Manual/" + file);
        QCOMPARE(m_restarts, 1);
        QSettings written(dir.filePath("language.ini"), QSettings::IniFormat);
        QCOMPARE(written.value("Language/language").toString(), QStringLiteral("Eng"));
    }

    void dragsOnlyByTheTitleBand()
    {
        auto w = makeWindow(false);
        w->move(100, 100);
        w->show();
        QVERIFY(QTest::qWaitForWindowExposed(w.get()));
        QSignalSpy moved(w.get(), &OrvaneTool::mouseButtonMove);
        QSignalSpy mainMoved(w.get(), &OrvaneTool::signalMainWindowMove);
        const QPoint start = w->pos();

        auto drag = [&](QPoint local, QPoint by) {
            QMouseEvent press(QEvent::MouseButtonPress, local, w->mapToGlobal(local), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w.get(), &press);
            const QPoint to = local + by;
            QMouseEvent moveEvent(QEvent::MouseMove, to, w->mapToGlobal(local) + by, Qt::NoButton,
                                  Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(w.get(), &moveEvent);
        };
        drag(QPoint(500, 20), QPoint(30, 40));
        QCOMPARE(w->pos(), start + QPoint(30, 40));
        QCOMPARE(moved.count(), 1);
        QCOMPARE(mainMoved.count(), 1);
        drag(QPoint(500, 400), QPoint(30, 40)); // the body is no handle
        QCOMPARE(w->pos(), start + QPoint(30, 40));
        QCOMPARE(moved.count(), 1);
    }

    void searchButtonShowsWhetherASearchRuns()
    {
        setAnswer({dev("A", {{10, 0, 0, 5}})}, true, 400);
        auto w = makeWindow();
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        auto *button = w->findChild<ToolLab *>("m_Search");
        auto *label = w->findChild<QLabel *>("m_Devlabel");
        QVERIFY(w->isSearching());
        // No stale count while devices answer again.
        QCOMPARE(devNum(*w), QString());
        QCOMPARE(label->text(), CMultiLanguage::text(QStringLiteral("Searching...")));
        QVERIFY(button->movie() && button->movie()->state() == QMovie::Running);
        QVERIFY(waitSearch(*w, ended));
        QCOMPARE(devNum(*w), QStringLiteral("1"));
        QCOMPARE(label->text(), CMultiLanguage::text(QStringLiteral("devices were found")));
        // At rest the button shows a still picture, not a frozen frame of the
        // busy animation.
        QVERIFY(!button->movie());
        QVERIFY(!button->pixmap(Qt::ReturnByValue).isNull());
    }

    void activityLogWindowIsOneAndStaysOpen()
    {
        setAnswer({});
        auto w = makeWindow(false);
        w->slot_OpenActivityLog();
        auto *first = w->findChild<CActivityLogDlg *>();
        QVERIFY(first && first->isVisible());
        QVERIFY(!first->isModal());
        w->slot_OpenActivityLog();
        QCOMPARE(w->findChildren<CActivityLogDlg *>().size(), 1);
        first->close();
        QTRY_VERIFY(w->findChildren<CActivityLogDlg *>().isEmpty());
        w->slot_OpenActivityLog();
        QCOMPARE(w->findChildren<CActivityLogDlg *>().size(), 1);
    }

    void questionButtonsSpeakTheLanguage()
    {
        testsupport::LanguageCopy copy;
        QVERIFY(copy.install());
        CMultiLanguage::setLanguageName(QStringLiteral("Zh"));
        QStringList texts;
        testsupport::ModalHandler<QMessageBox> handler([&texts](QMessageBox *box) {
            for (QAbstractButton *b : box->buttons())
                texts << b->text();
            box->button(QMessageBox::No)->click();
        });
        const auto answer = Prompt::question(nullptr, QStringLiteral("t"), QStringLiteral("<b>MODEL</b>"));
        CMultiLanguage::setLanguageDir(QStringLiteral("Language"));
        QCOMPARE(answer, QMessageBox::No);
        texts.sort();
        QCOMPARE(texts, (QStringList{QStringLiteral("否"), QStringLiteral("是")}));
    }
};

QTEST_MAIN(TestMainWindow)
#include "tst_mainwindow.moc"
