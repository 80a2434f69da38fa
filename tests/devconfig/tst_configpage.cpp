// The configuration page against the recording SDK double: the device tree
// and its filter, login on double-click with its worded errors and the
// credentials dialog, the page buttons and the save-result marks.

#include <QtTest>

#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTreeWidget>

#include <functional>
#include <vector>

#include "CConfigSetWidget.h"
#include "CEncodeCfgWidget.h"
#include "CMultiLanguage.h"
#include "CPasswordDlg.h"
#include "CResultMark.h"
#include "CToolTips.h"
#include "ModalHelpers.h"
#include "EncodeDevice.h"
#include "FakeNetSdk.h"

using scoutrix::DeviceRecord;

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;
constexpr int kOperationRole = Qt::UserRole + 2;
constexpr int32_t kNvr = 1;
constexpr int32_t kIpc = 2;
constexpr int32_t kDvr = 0;

QString tr_(const char *key) { return CMultiLanguage::text(QString::fromLatin1(key)); }

// Answers every credentials dialog that comes up, in turn.
class DialogAnswerer : public QObject
{
public:
    using Answer = std::function<void(CPasswordDlg *)>;
    explicit DialogAnswerer(QVector<Answer> answers)
        : m_answers(std::move(answers))
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, this, [this] {
            auto *dlg = qobject_cast<CPasswordDlg *>(QApplication::activeModalWidget());
            if (!dlg || dlg == m_last || !dlg->isVisible())
                return;
            m_last = dlg;
            const int n = count++;
            if (n < m_answers.size())
                m_answers[n](dlg);
            else
                dlg->slotClose();
        });
        m_timer.start();
    }
    int count = 0;

private:
    QVector<Answer> m_answers;
    QPointer<CPasswordDlg> m_last;
    QTimer m_timer;
};

DialogAnswerer::Answer typeAndOk(const QString &user, const QString &password)
{
    return [user, password](CPasswordDlg *dlg) {
        auto *u = dlg->findChild<QLineEdit *>("EditUser");
        auto *p = dlg->findChild<QLineEdit *>("EditPassword");
        u->clear();
        QTest::keyClicks(u, user);
        p->clear();
        QTest::keyClicks(p, password);
        QTest::mouseClick(dlg->findChild<QPushButton *>("btnOK"), Qt::LeftButton);
    };
}

} // namespace

class TestConfigPage : public QObject
{
    Q_OBJECT

private:
    std::vector<DeviceRecord> m_list;
    std::unique_ptr<CConfigSetWidget> m_page;

    QTreeWidget *tree() const { return m_page->findChild<QTreeWidget *>("IPTree"); }
    QLabel *labText() const { return m_page->findChild<QLabel *>("labText"); }
    QPushButton *button(const char *name) const { return m_page->findChild<QPushButton *>(name); }
    int stackIndex() const { return m_page->findChild<QStackedWidget *>("stackedWidget")->currentIndex(); }

    void setList(std::vector<DeviceRecord> list)
    {
        m_list = std::move(list);
        m_list.resize(256);
        m_page->setDeviceList(m_list.data(), int(std::count_if(m_list.begin(), m_list.end(), [](const DeviceRecord &r) {
                                  return r.ipText[0] != '\0';
                              })));
    }

    QTreeWidgetItem *itemFor(const QString &text) const
    {
        const auto found = tree()->findItems(text, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }

    void doubleClick(const QString &text)
    {
        QTreeWidgetItem *item = itemFor(text);
        QVERIFY2(item, qPrintable(text));
        // An item view takes a double-click only on the item it saw pressed.
        const QPoint at = tree()->visualItemRect(item).center();
        QTest::mouseClick(tree()->viewport(), Qt::LeftButton, {}, at);
        QTest::mouseDClick(tree()->viewport(), Qt::LeftButton, {}, at);
    }

    static bool waitIdle(CConfigSetWidget &page)
    {
        QElapsedTimer t;
        t.start();
        while (page.loginRunning() && t.elapsed() < 5000)
            QTest::qWait(5);
        QTest::qWait(20);
        return !page.loginRunning();
    }

    static QStringList childTexts(QTreeWidgetItem *group)
    {
        QStringList out;
        for (int i = 0; i < group->childCount(); ++i)
            out << group->child(i)->text(0);
        return out;
    }

    void installDevice(int channels, int32_t type)
    {
        testdevice::EncodeDevice::typical(channels)->install();
        QMutexLocker lock(&fakesdk::state().mutex);
        fakesdk::state().loginInfo = fakesdk::makeLoginInfo(channels, type, channels);
    }

    void loginFirstNvr()
    {
        installDevice(4, kNvr);
        setList({testdevice::deviceRecord("A", 192, 168, 1, 20, kNvr)});
        doubleClick("192.168.1.20");
        QTRY_COMPARE(m_page->currentPage(), 1);
    }

private slots:
    void initTestCase()
    {
        QDir::setCurrent(QStringLiteral(SCOUTRIX_DATA_DIR));
        CMultiLanguage::setLanguageDir(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language"));
    }

    void init()
    {
        fakesdk::reset();
        m_page = std::make_unique<CConfigSetWidget>();
        m_page->resize(931, 677);
        m_page->show();
        QVERIFY(QTest::qWaitForWindowExposed(m_page.get()));
    }

    void cleanup()
    {
        m_page.reset();
    }

    void startsOnTheHintWithTheButtonsHidden()
    {
        QCOMPARE(stackIndex(), 0);
        QCOMPARE(labText()->text(), tr_("Double click on the device to get device information"));
        QVERIFY(!button("btnEncode")->isVisible());
        QVERIFY(!button("btnVideo")->isVisible());
        QVERIFY(!button("btnAudio")->isVisible());
        QVERIFY(!m_page->findChild<QLabel *>("label")->isVisible());
        QVERIFY(tree()->isHeaderHidden());
        QCOMPARE(tree()->columnCount(), 2);
    }

    void treeGroupsByKindAndFilters()
    {
        setList({testdevice::deviceRecord("A", 192, 168, 1, 1, kIpc), testdevice::deviceRecord("B", 192, 168, 1, 10, kDvr),
                 testdevice::deviceRecord("C", 192, 168, 1, 2, kIpc), testdevice::deviceRecord("D", 10, 0, 0, 5, kNvr)});
        QCOMPARE(tree()->topLevelItemCount(), 2);
        QTreeWidgetItem *ipc = tree()->topLevelItem(0);
        QTreeWidgetItem *dvr = tree()->topLevelItem(1);
        QCOMPARE(ipc->text(0), QStringLiteral("IPC"));
        QCOMPARE(dvr->text(0), QStringLiteral("DVR/NVR"));
        QCOMPARE(ipc->data(0, kIndexRole).toInt(), -1);
        QCOMPARE(childTexts(ipc), (QStringList{"192.168.1.1", "192.168.1.2"}));
        QCOMPARE(childTexts(dvr), (QStringList{"192.168.1.10", "10.0.0.5"}));
        QCOMPARE(ipc->child(1)->data(0, kIndexRole).toInt(), 2);
        QCOMPARE(dvr->child(1)->data(0, kIndexRole).toInt(), 3);

        QTest::keyClicks(m_page->findChild<QLineEdit *>("lineEdit"), "192.168.1.1");
        QTest::mouseClick(button("pushButton"), Qt::LeftButton);
        QCOMPARE(tree()->topLevelItemCount(), 2);
        QCOMPARE(childTexts(tree()->topLevelItem(0)), QStringList{"192.168.1.1"});
        QCOMPARE(childTexts(tree()->topLevelItem(1)), QStringList{"192.168.1.10"});

        // The next hand-over from the main window shows every device again.
        m_page->setDeviceList(m_list.data(), 4);
        QCOMPARE(childTexts(tree()->topLevelItem(1)).size(), 2);

        // Only recorders: one group.
        setList({testdevice::deviceRecord("B", 10, 0, 0, 2, kDvr), testdevice::deviceRecord("D", 10, 0, 0, 3, kNvr)});
        QCOMPARE(tree()->topLevelItemCount(), 1);
        QCOMPARE(tree()->topLevelItem(0)->text(0), QStringLiteral("DVR/NVR"));
    }

    void groupDoubleClickLogsInNowhere()
    {
        setList({testdevice::deviceRecord("A", 10, 0, 0, 1, kNvr)});
        doubleClick("DVR/NVR");
        QTest::qWait(50);
        QCOMPARE(m_page->currentPage(), 0);
        QCOMPARE(m_page->selectedDevice(), -1);
        QVERIFY(!m_page->loginRunning());
        QVERIFY(fakesdk::state().loginCalls.isEmpty());
    }

    void rightCredentialsOpenTheEncodePage()
    {
        loginFirstNvr();
        const fakesdk::LoginCall call = fakesdk::state().loginCalls.value(0);
        QCOMPARE(QString::fromStdString(call.address), QStringLiteral("192.168.1.20"));
        QCOMPARE(call.port, uint16_t(34567));
        QCOMPARE(QString::fromStdString(call.user), QStringLiteral("admin"));
        QCOMPARE(QString::fromStdString(call.password), QStringLiteral("right"));
        QCOMPARE(call.mode, 1);
        QCOMPARE(m_list[0].loginHandle, 100);
        QCOMPARE(m_list[0].loginInfo.videoChannelCount(), 4);
        QCOMPARE(stackIndex(), 1);
        QVERIFY(button("btnEncode")->isVisible());
        QVERIFY(!button("btnVideo")->isVisible());  // a recorder has no camera page
        QVERIFY(m_page->encodeWidget());
        QCOMPARE(m_page->encodeWidget()->device().loginHandle, 100);
        QVERIFY(m_page->encodeWidget()->isVisible());
        for (const fakesdk::GetCall &g : fakesdk::state().getCalls)
            QCOMPARE(g.handle, 100);

        // A second double-click starts over and logs the old handle out first.
        doubleClick("192.168.1.20");
        QCOMPARE(m_page->currentPage(), 0);
        QVERIFY(!button("btnEncode")->isVisible());
        QTRY_COMPARE(m_page->currentPage(), 1);
        QCOMPARE(fakesdk::state().logouts, QVector<int32_t>{100});
        QCOMPARE(m_list[0].loginHandle, 101);
    }

    void cameraOffersItsOtherPages()
    {
        installDevice(1, kIpc);
        setList({testdevice::deviceRecord("A", 10, 0, 0, 7, kIpc)});
        doubleClick("10.0.0.7");
        QTRY_COMPARE(m_page->currentPage(), 1);
        QTRY_VERIFY(button("btnAudio")->isVisible());
        QVERIFY(button("btnVideo")->isVisible());
        QTest::mouseClick(button("btnVideo"), Qt::LeftButton);
        QCOMPARE(stackIndex(), 2);
        QCOMPARE(m_page->currentPage(), 2);
        QVERIFY(button("btnVideo")->styleSheet().contains("tabAll_Check.png"));
        QVERIFY(button("btnEncode")->styleSheet().contains("tabAll_unCheck.png"));
        QTest::mouseClick(button("btnAudio"), Qt::LeftButton);
        QCOMPARE(stackIndex(), 3);
        QTest::mouseClick(button("btnEncode"), Qt::LeftButton);
        QCOMPARE(stackIndex(), 1);
        QVERIFY(button("btnEncode")->styleSheet().contains("tabAll_Check.png"));
    }

    void wrongCredentialsExplainThenAskAgain()
    {
        installDevice(2, kNvr);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().acceptPassword = "right";
        }
        setList({testdevice::deviceRecord("A", 10, 0, 0, 8, kNvr, "admin", "wrong")});
        QStringList shownWithDialog;
        QStringList dialogFields;
        auto remember = [&](CPasswordDlg *dlg) {
            shownWithDialog << labText()->text();
            dialogFields << dlg->userText() + "|" + dlg->passwordText() + "|" + dlg->windowTitle();
        };
        // Each retry is still running when OK has returned: it is on the worker.
        QVector<bool> runningAfterOk;
        DialogAnswerer answerer({[&](CPasswordDlg *d) {
                                     remember(d);
                                     typeAndOk("admin", "still wrong")(d);
                                     runningAfterOk << m_page->loginRunning();
                                 },
                                 [&](CPasswordDlg *d) {
                                     remember(d);
                                     typeAndOk("admin", "right")(d);
                                     runningAfterOk << m_page->loginRunning();
                                 }});
        doubleClick("10.0.0.8");
        QTRY_COMPARE_WITH_TIMEOUT(m_page->currentPage(), 1, 5000);
        QCOMPARE(answerer.count, 2);
        QCOMPARE(runningAfterOk, (QVector<bool>{true, true}));
        QCOMPARE(shownWithDialog, (QStringList{tr_("PasswdError"), tr_("PasswdError")}));
        const QString fresh = "admin||" + tr_("Login");
        QCOMPARE(dialogFields, (QStringList{fresh, fresh}));
        const auto calls = fakesdk::state().loginCalls;
        QCOMPARE(calls.size(), 3);
        QCOMPARE(QString::fromStdString(calls[1].password), QStringLiteral("still wrong"));
        QCOMPARE(QString::fromStdString(calls[2].password), QStringLiteral("right"));
        QCOMPARE(QString::fromStdString(scoutrix::fieldText(m_list[0].password)), QStringLiteral("right"));
        QVERIFY(m_list[0].loginHandle > 0);
    }

    void longUserNameIsCutToElevenCharacters()
    {
        installDevice(1, kNvr);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginAnswers = {{0, -11302, {}}};
        }
        setList({testdevice::deviceRecord("A", 10, 0, 0, 9, kNvr)});
        DialogAnswerer answerer({typeAndOk("installer-account", "0123456789abcdef")});
        doubleClick("10.0.0.9");
        QTRY_COMPARE_WITH_TIMEOUT(m_page->currentPage(), 1, 5000);
        QCOMPARE(QString::fromStdString(scoutrix::fieldText(m_list[0].userName)), QStringLiteral("installer-a"));
        QCOMPARE(QString::fromStdString(scoutrix::fieldText(m_list[0].password)), QStringLiteral("0123456789a"));
        QCOMPARE(QString::fromStdString(fakesdk::state().loginCalls.value(1).user), QStringLiteral("installer-a"));
        QCOMPARE(m_list[0].password[11], '\0');
    }

    void loginErrorsAreWorded_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("key");
        QTest::addColumn<bool>("asks");
        QTest::newRow("wrong password") << -11301 << "PasswdError" << true;
        QTest::newRow("unknown user") << -11302 << "UserNotExisted" << true;
        QTest::newRow("locked") << -11303 << "Locked" << false;
        QTest::newRow("busy") << 7 << "SystemBusy" << false;
        QTest::newRow("no answer") << 0 << "NetError" << false;
        QTest::newRow("timeout") << -10005 << "Timeout" << false;
        QTest::newRow("unknown") << -11306 << "UnknowError" << false;
    }
    void loginErrorsAreWorded()
    {
        QFETCH(int, code);
        QFETCH(QString, key);
        QFETCH(bool, asks);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginAnswers = {{-1, code, {}}};
        }
        setList({testdevice::deviceRecord("A", 10, 0, 0, 4, kIpc)});
        QString textWithDialog;
        DialogAnswerer answerer({[&](CPasswordDlg *d) {
            textWithDialog = labText()->text();
            QTest::mouseClick(d->findChild<QPushButton *>("btnClose"), Qt::LeftButton);
        }});
        doubleClick("10.0.0.4");
        // Only credentials the user can mend bring the dialog up.
        QTRY_COMPARE(labText()->text(), CMultiLanguage::text(key));
        QVERIFY(waitIdle(*m_page));
        QTest::qWait(50);
        QTRY_VERIFY(!QApplication::activeModalWidget());
        QCOMPARE(answerer.count, asks ? 1 : 0);
        if (asks)
            QCOMPARE(textWithDialog, CMultiLanguage::text(key));
        QCOMPARE(labText()->text(), CMultiLanguage::text(key));
        // The failed value is kept; the dialog's close button ends the loop.
        QCOMPARE(m_list[0].loginHandle, -1);
        QCOMPARE(fakesdk::state().loginCalls.size(), 1);
        QCOMPARE(m_page->currentPage(), 0);
        QVERIFY(!m_page->encodeWidget());
    }

    void deviceWithoutVideoChannelsIsNotSupported()
    {
        installDevice(0, kNvr);
        setList({testdevice::deviceRecord("A", 10, 0, 0, 3, kNvr)});
        DialogAnswerer answerer({});
        doubleClick("10.0.0.3");
        QTRY_COMPARE(labText()->text(), tr_("NotSupports"));
        QVERIFY(waitIdle(*m_page));
        QCOMPARE(answerer.count, 0);
        QVERIFY(m_list[0].loginHandle > 0);
        QVERIFY(!m_page->encodeWidget());
        QCOMPARE(m_page->currentPage(), 0);
        QVERIFY(!button("btnEncode")->isVisible());
    }

    void doubleClickDuringALoginWaitsForIt()
    {
        installDevice(2, kNvr);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginDelayMs = 150;
        }
        setList({testdevice::deviceRecord("A", 10, 0, 0, 11, kNvr), testdevice::deviceRecord("B", 10, 0, 0, 12, kNvr)});
        doubleClick("10.0.0.11");
        QVERIFY(m_page->loginRunning());
        doubleClick("10.0.0.11");  // the same device again: no second login
        doubleClick("10.0.0.12");  // another one: its login follows
        QCOMPARE(m_page->selectedDevice(), 1);
        QTRY_COMPARE_WITH_TIMEOUT(m_page->currentPage(), 1, 5000);
        QVERIFY(waitIdle(*m_page));
        const auto calls = fakesdk::state().loginCalls;
        QCOMPARE(calls.size(), 2);
        QCOMPARE(QString::fromStdString(calls[0].address), QStringLiteral("10.0.0.11"));
        QCOMPARE(QString::fromStdString(calls[1].address), QStringLiteral("10.0.0.12"));
        QCOMPARE(fakesdk::state().maxActiveLogins.load(), 1);
        // The page shows the device chosen last.
        QCOMPARE(QString::fromLatin1(m_page->encodeWidget()->device().ipText), QStringLiteral("10.0.0.12"));
        QVERIFY(m_list[0].loginHandle > 0);
        QVERIFY(m_list[1].loginHandle > 0);

        // A group chosen while a login runs: nothing follows it.
        fakesdk::state().loginCalls.clear();
        doubleClick("10.0.0.11");
        doubleClick("DVR/NVR");
        QVERIFY(waitIdle(*m_page));
        QCOMPARE(fakesdk::state().loginCalls.size(), 1);
        QCOMPARE(m_page->currentPage(), 0);
    }

    void loginThatOutlivesItsListIsLoggedOutAndRedone()
    {
        installDevice(2, kNvr);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginDelayMs = 200;
        }
        setList({testdevice::deviceRecord("A", 10, 0, 0, 21, kNvr), testdevice::deviceRecord("B", 10, 0, 0, 22, kNvr)});
        doubleClick("10.0.0.22");
        QVERIFY(m_page->loginRunning());

        // A search starts and the devices come back in the other order.
        m_page->listRebuildStarted(1);
        QVERIFY(!tree()->isEnabled());
        std::swap(m_list[0], m_list[1]);
        QTest::qWait(50);
        m_page->setDeviceList(m_list.data(), 2);
        QVERIFY(tree()->isEnabled());

        QTRY_COMPARE_WITH_TIMEOUT(m_page->currentPage(), 1, 5000);
        QVERIFY(waitIdle(*m_page));
        // The first session belonged to a list that is gone: logged out, and
        // B logged in again where it sits now.
        QCOMPARE(fakesdk::state().logouts, QVector<int32_t>{100});
        const auto calls = fakesdk::state().loginCalls;
        QCOMPARE(calls.size(), 2);
        QCOMPARE(QString::fromStdString(calls[1].address), QStringLiteral("10.0.0.22"));
        QCOMPARE(m_page->selectedDevice(), 0);
        QCOMPARE(QString::fromStdString(m_list[0].netInfo.macText()), QStringLiteral("B"));
        QCOMPARE(m_list[0].loginHandle, 101);
        QCOMPARE(m_list[1].loginHandle, 0);
        QCOMPARE(QString::fromStdString(m_page->encodeWidget()->device().netInfo.macText()), QStringLiteral("B"));
        QCOMPARE(m_page->encodeWidget()->device().loginHandle, 101);
    }

    void noLoginWhileTheListIsRebuilt()
    {
        setList({testdevice::deviceRecord("A", 10, 0, 0, 23, kNvr)});
        QTreeWidgetItem *item = itemFor("10.0.0.23");
        m_page->listRebuildStarted(7);
        m_page->slot_itemDoubleClicked(item, 0);
        QTest::qWait(50);
        QVERIFY(!m_page->loginRunning());
        QVERIFY(fakesdk::state().loginCalls.isEmpty());
        QCOMPARE(m_page->deviceCount(), 0);
    }

    void shutdownLogsOutTheLoginItWaitedFor()
    {
        installDevice(2, kNvr);
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().loginDelayMs = 150;
        }
        setList({testdevice::deviceRecord("A", 10, 0, 0, 24, kNvr)});
        DialogAnswerer answerer({});
        doubleClick("10.0.0.24");
        QVERIFY(m_page->loginRunning());
        m_page->shutdown();
        QVERIFY(!m_page->loginRunning());
        QCOMPARE(fakesdk::state().logouts, QVector<int32_t>{100});
        QTest::qWait(50);
        // The queued result finds nothing to do.
        QCOMPARE(m_list[0].loginHandle, 0);
        QCOMPARE(m_page->currentPage(), 0);
        QVERIFY(!m_page->encodeWidget());
        // And nothing starts afterwards.
        doubleClick("10.0.0.24");
        QTest::qWait(50);
        QCOMPARE(fakesdk::state().loginCalls.size(), 1);
    }

    void saveResultsMarkTheDevice()
    {
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().configSetResults = {-1, 0};
        }
        loginFirstNvr();
        QTreeWidgetItem *item = itemFor("192.168.1.20");
        auto *save = m_page->encodeWidget()->findChild<QPushButton *>("m_btnSave");
        QTest::mouseClick(save, Qt::LeftButton);
        auto *mark = qobject_cast<CResultMark *>(tree()->itemWidget(item, 1));
        QVERIFY(mark);
        QVERIFY(mark->isError());
        QCOMPARE(mark->size(), QSize(16, 16));
        QVERIFY(mark->styleSheet().contains("Skin/error.png"));
        QVERIFY(mark->styleSheet().contains("Skin/erro_hover.png"));
        QCOMPARE(item->data(1, kIndexRole).toInt(), -1);
        QCOMPARE(item->data(1, kOperationRole).toInt(), 15);
        QCOMPARE(fakesdk::state().configSetCalls.size(), 1);
        QCOMPARE(fakesdk::state().configSetCalls[0].handle, 100);

        QTest::mouseClick(save, Qt::LeftButton);
        mark = qobject_cast<CResultMark *>(tree()->itemWidget(item, 1));
        QVERIFY(mark && !mark->isError());
        QVERIFY(mark->styleSheet().contains("Skin/ok.png"));
        QCOMPARE(item->data(1, kIndexRole).toInt(), 0);

        // The mark opens the notice for its own device, selected or not.
        tree()->clearSelection();
        QSignalSpy notice(m_page.get(), &CConfigSetWidget::sig_OpenResultNotice);
        QString shown;
        testsupport::ModalHandler<CToolTips> dialog([&](CToolTips *t) {
            shown = t->deviceText() + '|' + t->operationText() + '|' + t->resultText();
            t->OnClose();
        });
        QTest::mouseClick(mark, Qt::LeftButton);
        QCOMPARE(dialog.count, 1);
        QCOMPARE(shown, "192.168.1.20|" + CMultiLanguage::text("Encode") + '|' + CMultiLanguage::text("successful"));
        QCOMPARE(notice.count(), 1);
        QCOMPARE(notice[0][0].toString(), QStringLiteral("192.168.1.20"));
        QCOMPARE(notice[0][1].toInt(), 0);
        QCOMPARE(notice[0][2].toInt(), 15);
    }

    void resetGoesBackToTheStartPage()
    {
        loginFirstNvr();
        m_page->resetToFirstView();
        QCOMPARE(stackIndex(), 0);
        QVERIFY(!button("btnEncode")->isVisible());
        m_page->setDeviceList(m_list.data(), 1);
        QCOMPARE(stackIndex(), 0);
    }
};

QTEST_MAIN(TestConfigPage)
#include "tst_configpage.moc"
