// The system page against the recording SDK double: the device tree, its
// filter and check propagation, the restore list and the light rows, the
// refusals made before anything is sent, the questions of the asking items,
// and result marks that follow their device by MAC across rebuilt trees.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTreeWidget>

#include <vector>

#include "CMultiLanguage.h"
#include "CSystemCFGWidget.h"
#include "CToolTips.h"
#include "FakeNetSdk.h"
#include "LanguageCopy.h"
#include "ModalHelpers.h"
#include "SystemPageLogic.h"

using scoutrix::DeviceRecord;
using scoutrix::syscfg::DeviceOutcome;
using testsupport::BoxAnswerer;

namespace {

constexpr int kIndexRole = Qt::UserRole + 1;
constexpr int kOperationRole = Qt::UserRole + 2;
constexpr int32_t kDvr = 0;
constexpr int32_t kNvr = 1;
constexpr int32_t kIpc = 2;

QString text(const char *key) { return CMultiLanguage::text(QString::fromLatin1(key)); }

DeviceRecord device(int n, int32_t type, const char *password = "739204")
{
    const uint8_t ip[4] = {127, 0, 40, uint8_t(n)};
    const QByteArray mac = QStringLiteral("02:5A:00:00:00:%1").arg(n, 2, 16, QLatin1Char('0')).toUpper().toLatin1();
    const scoutrix::SearchRecord r = fakesdk::makeRecord(mac.constData(), ip, type);
    DeviceRecord d {};
    d.netInfo = r.net;
    d.devInfo = r.dev;
    const std::string ipText = r.net.ipText();
    std::memcpy(d.ipText, ipText.c_str(), ipText.size() + 1);
    d.port = r.net.loginPort();
    d.setCredentials("admin", password);
    return d;
}

} // namespace

class TestSystemPage : public QObject
{
    Q_OBJECT

private:
    testsupport::LanguageCopy m_language;
    std::vector<DeviceRecord> m_list;
    std::unique_ptr<CSystemCFGWidget> m_page;
    QString m_folder;
    QString m_file;

    QTreeWidget *tree() const { return m_page->findChild<QTreeWidget *>("IPTree"); }
    template<typename T = QWidget>
    T *child(const char *name) const
    {
        T *w = m_page->findChild<T *>(QLatin1String(name));
        if (!w)
            qWarning("no widget %s", name);
        return w;
    }
    // click() rather than a mouse click at the centre: a check box stretched
    // by its grid takes clicks only on its box and text.
    void click(const char *name) { child<QAbstractButton>(name)->click(); }

    void setList(std::vector<DeviceRecord> list)
    {
        m_list = std::move(list);
        const int n = int(m_list.size());
        m_list.resize(256);
        m_page->setDeviceList(m_list.data(), n);
    }

    QTreeWidgetItem *itemFor(const QString &address) const
    {
        const auto found = tree()->findItems(address, Qt::MatchExactly | Qt::MatchRecursive);
        return found.isEmpty() ? nullptr : found.first();
    }

    void check(const QString &address, bool on = true)
    {
        QTreeWidgetItem *item = itemFor(address);
        QVERIFY2(item, qPrintable(address));
        item->setCheckState(0, on ? Qt::Checked : Qt::Unchecked);
    }

    QStringList groupTexts() const
    {
        QStringList out;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            out << tree()->topLevelItem(i)->text(0);
        return out;
    }

    int childCount() const
    {
        int n = 0;
        for (int i = 0; i < tree()->topLevelItemCount(); ++i)
            n += tree()->topLevelItem(i)->childCount();
        return n;
    }

    bool waitBatch(int ms = 10000)
    {
        QElapsedTimer t;
        t.start();
        while ((m_page->batchRunning() || child<QWidget>("widgetProgress")->isVisible()) && t.elapsed() < ms)
            QTest::qWait(10);
        QTest::qWait(30);
        return !m_page->batchRunning();
    }

    static QString visibleRows(CSystemCFGWidget *page)
    {
        QString out;
        for (const char *name : {"labPhotosen", "labFlashMode", "labLightTime", "labDimming", "labLightBrightness"})
            out += page->findChild<QLabel *>(QLatin1String(name))->isHidden() ? '-' : '+';
        return out;
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_language.install());
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
        qRegisterMetaType<DeviceOutcome>();
    }

    void init()
    {
        fakesdk::reset();
        fakesdk::state().loginInfo = fakesdk::makeLoginInfo(1, kIpc);
        CSystemCFGWidget::Choosers choosers;
        choosers.folder = [this](QWidget *) { return m_folder; };
        choosers.configFile = [this](QWidget *) { return m_file; };
        m_page = std::make_unique<CSystemCFGWidget>(nullptr, choosers);
        m_page->resize(1000, 640);
        m_page->show();
    }

    void cleanup()
    {
        m_page.reset();
        m_list.clear();
    }

    void treeGroupsAndFilter()
    {
        setList({});
        QCOMPARE(tree()->topLevelItemCount(), 0);
        QVERIFY(tree()->isHeaderHidden());

        setList({device(1, kIpc), device(2, kIpc)});
        QCOMPARE(groupTexts(), QStringList{text("IPC")});

        // Groups in the order of first need; devices in list order.
        setList({device(3, kNvr), device(1, kIpc), device(2, kDvr), device(14, kIpc)});
        QCOMPARE(groupTexts(), (QStringList{text("DVR/NVR"), text("IPC")}));
        QTreeWidgetItem *recorders = tree()->topLevelItem(0);
        QCOMPARE(recorders->childCount(), 2);
        QCOMPARE(recorders->child(0)->text(0), QStringLiteral("127.0.40.3"));
        QCOMPARE(recorders->child(1)->data(0, kIndexRole).toInt(), 2);
        QCOMPARE(recorders->checkState(0), Qt::Unchecked);

        // A filter matching nothing keeps the groups of the kinds present.
        child<QLineEdit>("lineEdit")->setText(QStringLiteral("10.9"));
        click("pushButton");
        QCOMPARE(groupTexts().size(), 2);
        QCOMPARE(childCount(), 0);

        child<QLineEdit>("lineEdit")->setText(QStringLiteral(".1"));
        click("pushButton");
        QCOMPARE(childCount(), 2); // 127.0.40.1 and 127.0.40.14

        child<QLineEdit>("lineEdit")->clear();
        click("pushButton");
        QCOMPARE(childCount(), 4);
    }

    void checkPropagationAndCount()
    {
        setList({device(1, kIpc), device(2, kIpc), device(3, kDvr)});
        QLabel *label = child<QLabel>("labSelected0");
        QVERIFY(label->text().startsWith(text("Selected (") + QStringLiteral("0")));
        QTreeWidgetItem *ipc = tree()->topLevelItem(0);
        ipc->setCheckState(0, Qt::Checked);
        QCOMPARE(ipc->child(0)->checkState(0), Qt::Checked);
        QCOMPARE(ipc->child(1)->checkState(0), Qt::Checked);
        QCOMPARE(m_page->checkedCount(), 2);
        QCOMPARE(label->text(), text("Selected (") + QStringLiteral("2") + text(") devices,") + QLatin1Char(' ')
                     + text("Wait"));
        // Every item page says the same.
        QCOMPARE(child<QLabel>("labSelected5")->text(), label->text());

        ipc->child(1)->setCheckState(0, Qt::Unchecked);
        QCOMPARE(ipc->checkState(0), Qt::Unchecked);
        QCOMPARE(m_page->checkedCount(), 1);
        check(QStringLiteral("127.0.40.2"));
        QCOMPARE(ipc->checkState(0), Qt::Checked);
        check(QStringLiteral("127.0.40.3"));
        QCOMPARE(m_page->checkedCount(), 3); // groups are never counted

        // A new list starts with nothing checked.
        setList({device(1, kIpc)});
        QCOMPARE(m_page->checkedCount(), 0);
        QVERIFY(label->text().contains(QStringLiteral("(0")));
    }

    void itemButtonsChoosePages()
    {
        auto *stack = child<QStackedWidget>("stackedWidget");
        QCOMPARE(stack->count(), 8);
        const char *buttons[] = {"btnCorrect", "btnSelectReboot", "btnSelectLight",
                                 "btnSelectReset", "btnSelectName", "btnSelectOnvif"};
        for (int i = 5; i >= 0; --i) {
            click(buttons[i]);
            QCOMPARE(m_page->currentItem(), i);
            QCOMPARE(stack->currentIndex(), i);
            QVERIFY(child<QPushButton>(buttons[i])->isChecked());
        }
        // A new list keeps the page the user is on.
        click("btnSelectName");
        setList({device(1, kIpc)});
        QCOMPARE(stack->currentIndex(), 4);
    }

    void timePageDefaults()
    {
        auto *zones = child<QComboBox>("cmbTimeZone");
        QCOMPARE(zones->count(), 33);
        QCOMPARE(zones->currentText(), QStringLiteral("UTC+08:00"));
        QCOMPARE(zones->itemText(9), QStringLiteral("UTC+05:45"));
        QCOMPARE(zones->itemText(32), QStringLiteral("UTC-12:00"));
        QCOMPARE(zones->iconSize(), QSize(1, 24));
        QCOMPARE(child<QLineEdit>("EditServer")->text(), QStringLiteral("time.windows.com"));
        QCOMPARE(child<QLineEdit>("EditPort")->text(), QStringLiteral("123"));
        QCOMPARE(child<QLineEdit>("EditCycle")->text(), QStringLiteral("1"));
        QCOMPARE(child<QComboBox>("cmbLanguage")->count(), 32);
        QCOMPARE(child<QComboBox>("cmbVideoFormat")->currentText(), QStringLiteral("PAL"));
        const QString time = child<QLabel>("timelabel")->text();
        QVERIFY(QTime::fromString(time, QStringLiteral("hh:mm:ss")).isValid());
        QCOMPARE(child<QLabel>("datelabel")->text(), QDate::currentDate().toString(QStringLiteral("yyyy-MM-dd")));
        // The clock runs.
        QTRY_VERIFY_WITH_TIMEOUT(child<QLabel>("timelabel")->text() != time, 2500);
    }

    void restoreListMasterBox()
    {
        auto *all = child<QCheckBox>("ckbAll");
        QVERIFY(all->isTristate());
        const char *groups[] = {"ckbGeneral", "ckbEncode", "ckbRecord", "ckbAlarmSet", "ckbNetwork",
                                "ckbNetService", "ckbGUIDisplay", "ckbAccount", "ckbIPCConfig"};
        click("btnSelectReset");
        for (const char *g : groups)
            click(g);
        QCOMPARE(all->checkState(), Qt::Checked);
        click("ckbRecord");
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
        // From partly checked, the master box checks them all...
        click("ckbAll");
        QCOMPARE(all->checkState(), Qt::Checked);
        QVERIFY(child<QCheckBox>("ckbRecord")->isChecked());
        // ... and then clears them all.
        click("ckbAll");
        QCOMPARE(all->checkState(), Qt::Unchecked);
        for (const char *g : groups)
            QVERIFY(!child<QCheckBox>(g)->isChecked());
        click("ckbNetwork");
        QCOMPARE(all->checkState(), Qt::PartiallyChecked);
    }

    void lightRowsFollowTheChoices()
    {
        CSystemCFGWidget *page = m_page.get();
        // Photosensitive, flash, light time, dimming, brightness.
        QCOMPARE(visibleRows(page), QStringLiteral("-----")); // infrared, as built
        QCOMPARE(child<QSlider>("SldLightBrightness")->value(), 100);

        auto *mode = child<QComboBox>("cmbLightMode");
        auto choose = [&](QComboBox *c, int index) {
            c->setCurrentIndex(index);
            emit c->activated(index);
        };
        choose(mode, 2); // dual, flash "infrared at night"
        QCOMPARE(visibleRows(page), QStringLiteral("+++--"));
        choose(child<QComboBox>("cmbFLashMode"), 1); // full colour at night
        QCOMPARE(visibleRows(page), QStringLiteral("+++++"));
        choose(child<QComboBox>("cmbDimming"), 1); // dimming on hides brightness
        QCOMPARE(visibleRows(page), QStringLiteral("++++-"));
        choose(child<QComboBox>("cmbDimming"), 0);
        QCOMPARE(visibleRows(page), QStringLiteral("+++++"));
        choose(child<QComboBox>("cmbFLashMode"), 2);
        QCOMPARE(visibleRows(page), QStringLiteral("+++--"));
        choose(mode, 1); // full colour: dimming and brightness only
        QCOMPARE(visibleRows(page), QStringLiteral("---++"));
        choose(child<QComboBox>("cmbDimming"), 1);
        choose(mode, 1);
        QCOMPARE(visibleRows(page), QStringLiteral("---+-"));
        choose(mode, 0);
        QCOMPARE(visibleRows(page), QStringLiteral("-----"));
    }

    void ntpRefusedBeforeAnythingIsSent_data()
    {
        QTest::addColumn<QString>("server");
        QTest::addColumn<QString>("port");
        QTest::addColumn<QString>("period");
        QTest::newRow("port not a number") << "time.windows.com" << "12a" << "1";
        QTest::newRow("port zero") << "time.windows.com" << "0" << "1";
        QTest::newRow("port too large") << "time.windows.com" << "65536" << "1";
        QTest::newRow("period too large") << "time.windows.com" << "123" << "70000";
        QTest::newRow("period empty") << "time.windows.com" << "123" << "";
        QTest::newRow("server of 64 bytes") << QString(64, QLatin1Char('n')) << "123" << "1";
        QTest::newRow("server empty") << "" << "123" << "1";
    }
    void ntpRefusedBeforeAnythingIsSent()
    {
        QFETCH(QString, server);
        QFETCH(QString, port);
        QFETCH(QString, period);
        setList({device(1, kIpc), device(2, kIpc)});
        tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        child<QLineEdit>("EditServer")->setText(server);
        child<QLineEdit>("EditPort")->setText(port);
        child<QLineEdit>("EditCycle")->setText(period);
        BoxAnswerer boxes(QMessageBox::Ok);
        click("btnNTP");
        QCOMPARE(boxes.count, 1);
        QVERIFY(!boxes.lastText.isEmpty());
        QVERIFY(!m_page->batchRunning());
        QTest::qWait(50);
        QCOMPARE(fakesdk::state().loginCalls.size(), 0);
        QCOMPARE(fakesdk::state().configSetCalls.size(), 0);
    }

    void nothingCheckedDoesNothingOrWarns()
    {
        setList({device(1, kIpc)});
        BoxAnswerer boxes(QMessageBox::Yes);
        // Applying items: nothing at all.
        for (const char *save : {"btnPCTime", "btnTime", "btnNTP", "btnReboot", "btnReset", "btnSaveLightMode",
                                 "m_btnSaveName", "btnExport", "btnImport"})
            click(save);
        QCOMPARE(boxes.count, 0);
        QVERIFY(!m_page->batchRunning());
        // Asking items: a warning each.
        click("btnFormatSwitch");
        QCOMPARE(boxes.count, 1);
        QCOMPARE(boxes.lastText, text("Please select one or more devices"));
        click("btnNetConfigSave");
        QCOMPARE(boxes.count, 2);
        QTest::qWait(50);
        QCOMPARE(fakesdk::state().loginCalls.size(), 0);
    }

    void askingItemAnsweredNoSendsNothing()
    {
        setList({device(1, kIpc), device(2, kIpc)});
        tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        BoxAnswerer boxes(QMessageBox::No);
        click("btnFormatSwitch");
        QVERIFY(waitBatch());
        QCOMPARE(boxes.count, 1);
        QCOMPARE(boxes.lastText, text("Configure this item to reboot the device. Continue?"));
        QCOMPARE(fakesdk::state().loginCalls.size(), 2);
        QCOMPARE(fakesdk::state().configSetCalls.size(), 0);

        click("btnNetConfigSave");
        QVERIFY(waitBatch());
        QCOMPARE(boxes.count, 2);
        QCOMPARE(boxes.lastText, text("Are you sure to modify?"));
        QCOMPARE(fakesdk::state().configSetCalls.size(), 0);
    }

    void askingItemWithAFailedLoginIsRefused()
    {
        // The second device's password is not the one the device takes.
        fakesdk::state().acceptPassword = std::string("739204");
        setList({device(1, kIpc), device(2, kIpc, "wrong"), device(3, kIpc)});
        tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        BoxAnswerer boxes(QMessageBox::Ok);
        click("btnNetConfigSave");
        QVERIFY(waitBatch());
        QCOMPARE(boxes.count, 1);
        QCOMPARE(boxes.lastText, text("Please log in to the selected device first"));
        QCOMPARE(fakesdk::state().configSetCalls.size(), 0);
        // The failed device reads "Login" with an error mark.
        QTreeWidgetItem *failed = itemFor(QStringLiteral("127.0.40.2"));
        QCOMPARE(failed->data(1, kOperationRole).toInt(), 10);
        QVERIFY(failed->data(1, kIndexRole).toInt() < 0);
        QCOMPARE(tree()->itemWidget(failed, 1)->objectName(), QStringLiteral("resultError"));
    }

    void marksFollowTheirDeviceAcrossRebuilds()
    {
        setList({device(1, kIpc), device(2, kIpc), device(3, kDvr)});
        check(QStringLiteral("127.0.40.2"));
        click("btnPCTime");
        QVERIFY(waitBatch());
        QTreeWidgetItem *done = itemFor(QStringLiteral("127.0.40.2"));
        QCOMPARE(done->data(1, kOperationRole).toInt(), 11);
        QCOMPARE(tree()->itemWidget(done, 1)->objectName(), QStringLiteral("resultOk"));
        QVERIFY(!tree()->itemWidget(itemFor(QStringLiteral("127.0.40.1")), 1));

        // A new search lists the devices in another order: the mark stays
        // with its MAC.
        setList({device(3, kDvr), device(2, kIpc), device(1, kIpc)});
        QCOMPARE(itemFor(QStringLiteral("127.0.40.2"))->data(1, kOperationRole).toInt(), 11);
        QVERIFY(!tree()->itemWidget(itemFor(QStringLiteral("127.0.40.1")), 1));
        // So does a filter.
        child<QLineEdit>("lineEdit")->setText(QStringLiteral("40.2"));
        click("pushButton");
        QVERIFY(tree()->itemWidget(itemFor(QStringLiteral("127.0.40.2")), 1));

        // An outcome that arrives after the rebuild lands on the device with
        // its MAC, whatever list index it carried.
        child<QLineEdit>("lineEdit")->clear();
        click("pushButton");
        DeviceOutcome late;
        late.deviceIndex = 0; // its index in the old list; now another device's
        late.mac = "02:5A:00:00:00:01";
        late.ip = "127.0.40.1";
        late.code = -1;
        late.operation = 13;
        emit m_page->batch().deviceFinished(late);
        QTRY_VERIFY(tree()->itemWidget(itemFor(QStringLiteral("127.0.40.1")), 1));
        QCOMPARE(itemFor(QStringLiteral("127.0.40.1"))->data(1, kOperationRole).toInt(), 13);
        QVERIFY(!tree()->itemWidget(itemFor(QStringLiteral("127.0.40.3")), 1));

        // A second action replaces the mark.
        DeviceOutcome again = late;
        again.code = 0;
        again.operation = 14;
        emit m_page->batch().deviceFinished(again);
        QTRY_COMPARE(itemFor(QStringLiteral("127.0.40.1"))->data(1, kOperationRole).toInt(), 14);
        QCOMPARE(tree()->itemWidget(itemFor(QStringLiteral("127.0.40.1")), 1)->objectName(),
                 QStringLiteral("resultOk"));
    }

    void markOpensANoticeNamingEveryStep()
    {
        setList({device(1, kIpc)});
        DeviceOutcome o;
        o.mac = "02:5A:00:00:00:01";
        o.ip = "127.0.40.1";
        o.code = -1;
        o.operation = 26;
        o.steps = {{20, -1}, {26, 0}};
        o.detail = QStringLiteral("/tmp/some/folder/Cfg_x.cfg");
        emit m_page->batch().deviceFinished(o);
        QTreeWidgetItem *item = nullptr;
        QTRY_VERIFY((item = itemFor(QStringLiteral("127.0.40.1"))) && tree()->itemWidget(item, 1));

        QStringList steps;
        QString device, detail;
        testsupport::ModalHandler<CToolTips> answer([&](CToolTips *notice) {
            steps = notice->stepTexts();
            device = notice->deviceText();
            detail = notice->detailText();
            notice->OnClose();
        });
        QTest::mouseClick(qobject_cast<QPushButton *>(tree()->itemWidget(item, 1)), Qt::LeftButton);
        QCOMPARE(answer.count, 1);
        QCOMPARE(device, QStringLiteral("127.0.40.1"));
        QCOMPARE(steps.size(), 2);
        QVERIFY2(steps.at(0).startsWith(text("Onvif")) && steps.at(0).endsWith(text("fail")), qPrintable(steps.at(0)));
        QVERIFY(steps.at(1).endsWith(text("successful")));
        QCOMPARE(detail, o.detail);

        // Without a pressed mark, the selection names the devices.
        item->setSelected(true);
        m_page->slot_btnOpenTips();
        QCOMPARE(answer.count, 2);
    }

    void importRefusesWhatIsNotAFile()
    {
        setList({device(1, kIpc)});
        check(QStringLiteral("127.0.40.1"));
        QTemporaryDir dir;
        m_file = dir.path();
        BoxAnswerer boxes(QMessageBox::Ok);
        click("btnImport");
        QCOMPARE(boxes.count, 1);
        QCOMPARE(boxes.lastText, text("Config.ImportNotFile"));
        m_file = dir.filePath(QStringLiteral("missing.cfg"));
        click("btnImport");
        QCOMPARE(boxes.count, 2);
        // No answer from the dialog: nothing happens.
        m_file.clear();
        click("btnImport");
        QCOMPARE(boxes.count, 2);
        QTest::qWait(50);
        QCOMPARE(fakesdk::state().loginCalls.size(), 0);
    }

    void importReadsAtMostOneImage()
    {
        QTemporaryDir dir;
        QFile big(dir.filePath(QStringLiteral("big.cfg")));
        QVERIFY(big.open(QIODevice::WriteOnly));
        big.write(QByteArray(70000, 'c'));
        big.close();
        QByteArray image;
        QString error;
        QVERIFY(scoutrix::syscfg::readConfigImage(big.fileName(), image, error));
        QCOMPARE(image.size(), 65536);
        QFile empty(dir.filePath(QStringLiteral("empty.cfg")));
        QVERIFY(empty.open(QIODevice::WriteOnly));
        empty.close();
        QVERIFY(!scoutrix::syscfg::readConfigImage(empty.fileName(), image, error));
        QCOMPARE(error, QStringLiteral("Config.ImportEmpty"));
    }

    void exportAsksForTheFolderFirst()
    {
        setList({device(1, kIpc)});
        check(QStringLiteral("127.0.40.1"));
        m_folder.clear(); // the user closes the folder dialog
        click("btnExport");
        QTest::qWait(50);
        QVERIFY(!m_page->batchRunning());
        QCOMPARE(fakesdk::state().loginCalls.size(), 0);
    }

    void aRunningBatchShowsProgressAndKeepsThePageUsable()
    {
        fakesdk::state().loginDelayMs = 300;
        setList({device(1, kIpc), device(2, kIpc), device(3, kDvr)});
        tree()->topLevelItem(0)->setCheckState(0, Qt::Checked);
        click("btnReboot");
        QVERIFY(m_page->batchRunning());
        QVERIFY(child<QWidget>("widgetProgress")->isVisible());
        QVERIFY(!child<QPushButton>("btnNTP")->isEnabled());
        // Pages can still be switched and devices checked.
        click("btnSelectLight");
        QCOMPARE(m_page->currentItem(), 2);
        check(QStringLiteral("127.0.40.3"));
        QCOMPARE(m_page->checkedCount(), 3);
        // A second save is refused while one runs.
        BoxAnswerer boxes(QMessageBox::Ok);
        m_page->slot_btnSaveLightMode();
        QCOMPARE(boxes.count, 1);
        QVERIFY(waitBatch());
        QVERIFY(!child<QWidget>("widgetProgress")->isVisible());
        QVERIFY(child<QPushButton>("btnNTP")->isEnabled());
        QVERIFY(tree()->itemWidget(itemFor(QStringLiteral("127.0.40.1")), 1));
        QVERIFY(!tree()->itemWidget(itemFor(QStringLiteral("127.0.40.3")), 1));
    }
};

QTEST_MAIN(TestSystemPage)
#include "tst_systempage.moc"
