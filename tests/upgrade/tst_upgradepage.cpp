// The upgrade page: its table, filters and batch dialog on a hand-made
// device list, then upgrades end to end through the real network SDK against
// an emulated fleet on loopback, and the main window that must not switch
// pages or close under a running upgrade.

#include <QtTest>

#include <QCheckBox>
#include <QComboBox>
#include <QHostAddress>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QToolButton>

#include <cstring>
#include <vector>

#include "CCheckBoxHeaderView.h"
#include "CMultiLanguage.h"
#include "CPortTable.h"
#include "CToolTips.h"
#include "CUpgradeLoad.h"
#include "CUpgradeWidget.h"
#include "Emulator.h"
#include "EmulatorFixture.h"
#include "FirmwareFile.h"
#include "LanguageCopy.h"
#include "ModalHelpers.h"
#include "NetSdk.h"
#include "OrvaneTool.h"
#include "ResultTexts.h"
#include "UpgradePageLogic.h"

using scoutrix::DeviceRecord;
using scoutrix::devsim::DeviceSpec;
using scoutrix::devsim::Emulator;
using scoutrix::devsim::Fleet;
using namespace scoutrix::upgrade;
using testsupport::BoxAnswerer;

namespace {

constexpr const char *kModel = "UPG-IPC-4M";
constexpr const char *kOldVersion = "V4.1.0.20220510";
constexpr const char *kNewVersion = "V5.0.0.20250101";

DeviceRecord record(int type, const char *mac, uint8_t last, const char *model = kModel)
{
    DeviceRecord r {};
    scoutrix::setFieldText(r.netInfo.mac, mac);
    const uint8_t ip[4] = {127, 0, 61, last};
    std::memcpy(r.netInfo.ip, ip, 4);
    const std::string text = scoutrix::octetsText(ip);
    std::memcpy(r.ipText, text.c_str(), text.size() + 1);
    r.devInfo.setDeviceType(type);
    scoutrix::setFieldText(r.devInfo.model, model);
    r.setCredentials("admin", "739204");
    return r;
}

// Devices of a block of their own, so suites running at the same time never
// meet them; reboots and flashing short, so a whole upgrade takes a second.
DeviceSpec device(int n, int flashMs)
{
    DeviceSpec d;
    d.mac = QString::asprintf("02:5B:E6:00:00:%02X", n).toStdString();
    d.serial = "UPG" + std::to_string(100 + n);
    d.model = kModel;
    d.type = 2;
    d.ip = (127u << 24) | (0u << 16) | (61u << 8) | uint32_t(10 + n);
    d.gateway = (d.ip & 0xffffff00u) | 1u;
    d.port = 0;
    d.version = kOldVersion;
    d.users = {{"admin", "739204"}};
    d.rebootMs = 300;
    d.flashMs = flashMs;
    return d;
}

QString text(const char *key) { return CMultiLanguage::text(QString::fromLatin1(key)); }

UpgradeSettings fastSettings()
{
    UpgradeSettings s;
    s.comebackS = 20;
    s.pollMs = 100;
    s.searchTimeoutMs = 300;
    return s;
}

QPushButton *buttonIn(CUpgradeWidget &page, int row, int column)
{
    QWidget *cell = page.table()->cellWidget(row, column);
    auto *b = qobject_cast<QPushButton *>(cell);
    return b ? b : (cell ? cell->findChild<QPushButton *>() : nullptr);
}

QProgressBar *barIn(CUpgradeWidget &page, int row)
{
    return qobject_cast<QProgressBar *>(page.table()->cellWidget(row, CUpgradeWidget::ColOperate));
}

QString markOf(CUpgradeWidget &page, int row)
{
    QWidget *cell = page.table()->cellWidget(row, CUpgradeWidget::ColIP);
    auto *mark = cell ? cell->findChild<QPushButton *>() : nullptr;
    return mark ? mark->objectName() : QString();
}

} // namespace

class TestUpgradePage : public QObject
{
    Q_OBJECT

private:
    testsupport::LanguageCopy m_language;
    QTemporaryDir m_dir;
    std::unique_ptr<Emulator> m_emulator;
    std::vector<DeviceRecord> m_list;

    QString firmware(const char *name = "fw.bin")
    {
        scoutrix::firmware::Header h;
        h.models = {kModel};
        h.version = kNewVersion;
        const QString path = m_dir.filePath(QLatin1String(name));
        std::string why;
        if (!scoutrix::firmware::writeFile(path.toStdString(), h, scoutrix::firmware::fillerPayload(64 * 1024), why))
            qWarning("firmware: %s", why.c_str());
        return path;
    }

    bool startFleet(const Fleet &fleet)
    {
        m_emulator.reset();
        m_emulator = fixture::start(fleet);
        if (!m_emulator)
            return false;
        m_list.assign(256, DeviceRecord {});
        for (int i = 0; i < m_emulator->deviceCount(); ++i) {
            const auto d = m_emulator->device(i);
            DeviceRecord &r = m_list[size_t(i)];
            const std::string ip = scoutrix::net::ipv4Text(d.ip);
            std::memcpy(r.ipText, ip.c_str(), ip.size() + 1);
            r.port = d.port;
            scoutrix::setFieldText(r.netInfo.mac, d.mac.c_str());
            for (int b = 0; b < 4; ++b)
                r.netInfo.ip[b] = uint8_t(d.ip >> (24 - 8 * b));
            r.devInfo.setDeviceType(2);
            scoutrix::setFieldText(r.devInfo.model, kModel);
            r.setCredentials("admin", "739204");
        }
        return true;
    }

    std::unique_ptr<CUpgradeWidget> page(const QStringList &answers = {})
    {
        CUpgradeWidget::Choosers c;
        auto queue = std::make_shared<QStringList>(answers);
        c.upgradeFile = [queue](QWidget *) { return queue->isEmpty() ? QString() : queue->takeFirst(); };
        auto p = std::make_unique<CUpgradeWidget>(nullptr, c);
        p->batch().setSettings(fastSettings());
        p->resize(1100, 500);
        p->show();
        return p;
    }

    static bool waitIdle(CUpgradeWidget &p, int ms = 60000)
    {
        QElapsedTimer t;
        t.start();
        while (p.upgradesRunning() && t.elapsed() < ms)
            QTest::qWait(20);
        QTest::qWait(50); // the last queued reports
        return !p.upgradesRunning();
    }

private slots:
    void initTestCase()
    {
        QVERIFY(m_language.install());
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
        QVERIFY(m_dir.isValid());
        NetSdk_Init(0, 0);
    }

    void cleanup() { m_emulator.reset(); }

    // ---- what rows show, without a window ----

    void barTexts_data()
    {
        QTest::addColumn<int>("stage");
        QTest::addColumn<int>("percent");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("value");
        QTest::newRow("queued") << int(Stage::Queued) << 0 << false << "Upgrade.Queued" << 0;
        QTest::newRow("sending") << int(Stage::Sending) << 25 << false << "SendData 25%" << 25;
        QTest::newRow("writing") << int(Stage::Writing) << 40 << false << "Progress 40%" << 40;
        QTest::newRow("verifying") << int(Stage::Verifying) << 100 << false << "Upgrade.Verifying" << 100;
        QTest::newRow("success") << int(Stage::Done) << 100 << true << "UpgradeSuccess" << 100;
        QTest::newRow("failure") << int(Stage::Done) << 60 << false << "UpgradeFail" << 0;
    }

    void barTexts()
    {
        QFETCH(int, stage);
        QFETCH(int, percent);
        QFETCH(bool, ok);
        RowState s;
        s.stage = Stage(stage);
        s.percent = percent;
        s.ok = ok;
        const BarLook look = barLook(s, [](const QString &key) { return key; });
        QTEST(look.text, "text");
        QTEST(look.value, "value");
    }

    void trackerFollowsTicketsNotRows()
    {
        UpgradeTracker t;
        t.started(1, QStringLiteral("A"));
        t.started(2, QStringLiteral("B"));
        UpgradeProgress p;
        p.ticket = 2;
        p.stage = Stage::Writing;
        p.percent = 70;
        QCOMPARE(t.apply(p), QStringLiteral("B"));
        QCOMPARE(t.state(QStringLiteral("B"))->percent, 70);
        QCOMPARE(t.state(QStringLiteral("A"))->stage, Stage::Queued);
        QVERIFY(!t.release(QStringLiteral("A"))); // under way
        QCOMPARE(t.underWayCount(), 2);

        UpgradeOutcome o;
        o.ticket = 1;
        o.code = CodeOldVersion;
        o.version = "V1";
        QCOMPARE(t.finish(o), QStringLiteral("A"));
        QVERIFY(!t.underWay(QStringLiteral("A")));
        QCOMPARE(t.version(QStringLiteral("A")), QStringLiteral("V1"));
        // A late progress report never reopens a finished bar.
        p.ticket = 1;
        QVERIFY(t.apply(p).isEmpty());
        QCOMPARE(t.state(QStringLiteral("A"))->stage, Stage::Done);

        // Started again: reports of the old ticket belong to nobody.
        t.started(3, QStringLiteral("A"));
        QVERIFY(t.macOf(1).isEmpty());
        QVERIFY(t.finish(o).isEmpty());
        QVERIFY(t.outcome(QStringLiteral("A")) == nullptr);
        QCOMPARE(t.macOf(3), QStringLiteral("A"));
        QVERIFY(t.macOf(99).isEmpty());
        QCOMPARE(t.version(QStringLiteral("A")), QStringLiteral("V1"));
    }

    void noticeDetailTellsCodeAndVersions()
    {
        UpgradeOutcome o;
        o.code = CodeOldVersion;
        o.text = QStringLiteral("came back with the old version");
        o.oldVersion = "V1";
        o.version = "V1";
        QCOMPARE(noticeDetail(o), QStringLiteral("came back with the old version (-30103)\nV1 \u2192 V1"));
        o.code = CodeUpgradeOk;
        o.text = QStringLiteral("Upgraded");
        o.version = "V2";
        QCOMPARE(noticeDetail(o), QStringLiteral("Upgraded\nV1 \u2192 V2"));
        o.oldVersion.clear();
        o.version.clear();
        o.code = -7;
        o.text = QStringLiteral("system busy");
        QCOMPARE(noticeDetail(o), QStringLiteral("system busy (-7)"));
    }

    // ---- the table on a hand-made list ----

    void filterBoxes()
    {
        std::vector<DeviceRecord> list = {record(2, "02:00:00:00:00:01", 1), record(1, "02:00:00:00:00:02", 2),
                                          record(0, "02:00:00:00:00:03", 3), record(3, "02:00:00:00:00:04", 4),
                                          record(2, "02:00:00:00:00:05", 5), record(9, "02:00:00:00:00:06", 6)};
        auto p = page();
        p->setDeviceList(list.data(), int(list.size()));
        auto *all = p->findChild<QCheckBox *>("check_All");
        auto *ipc = p->findChild<QCheckBox *>("check_IPC");
        auto *dvr = p->findChild<QCheckBox *>("check_DVR");
        auto *nvr = p->findChild<QCheckBox *>("check_NVR");
        QVERIFY(all->isChecked() && ipc->isChecked() && dvr->isChecked() && nvr->isChecked());
        QCOMPARE(p->table()->rowCount(), 6);
        QCOMPARE(p->typeFilter(), 7);

        // A checked camera and a checked recorder; the camera is hidden next.
        p->table()->item(0, 0)->setCheckState(Qt::Checked);
        p->table()->item(1, 0)->setCheckState(Qt::Checked);
        QTest::mouseClick(ipc, Qt::LeftButton, {}, QPoint(8, ipc->height() / 2));
        QVERIFY(!ipc->isChecked() && !all->isChecked());
        QCOMPARE(p->typeFilter(), 3);
        QCOMPARE(p->table()->rowCount(), 4); // NVR, DVR, HVR and the unknown type
        QCOMPARE(p->macOfRow(0), QStringLiteral("02:00:00:00:00:02"));
        QCOMPARE(p->table()->item(0, 0)->checkState(), Qt::Checked);
        QCOMPARE(p->selectedCount(), 1);

        // Back: ALL follows, every row is listed, and the hidden camera lost its check.
        QTest::mouseClick(ipc, Qt::LeftButton, {}, QPoint(8, ipc->height() / 2));
        QVERIFY(ipc->isChecked() && all->isChecked());
        QCOMPARE(p->table()->rowCount(), 6);
        QCOMPARE(p->selectedCount(), 1);

        // DVR/HVR off clears ALL; ALL ticks every box again, and unticked
        // leaves only the type nobody filters.
        QTest::mouseClick(dvr, Qt::LeftButton, {}, QPoint(8, dvr->height() / 2));
        QVERIFY(!all->isChecked());
        QCOMPARE(p->table()->rowCount(), 4);
        QTest::mouseClick(all, Qt::LeftButton, {}, QPoint(8, all->height() / 2));
        QVERIFY(ipc->isChecked() && dvr->isChecked() && nvr->isChecked());
        QCOMPARE(p->table()->rowCount(), 6);
        QTest::mouseClick(all, Qt::LeftButton, {}, QPoint(8, all->height() / 2));
        QVERIFY(!ipc->isChecked() && !dvr->isChecked() && !nvr->isChecked());
        QCOMPARE(p->table()->rowCount(), 1);
        QCOMPARE(p->macOfRow(0), QStringLiteral("02:00:00:00:00:06"));
        // Two boxes back on do not make ALL; the third does.
        QTest::mouseClick(nvr, Qt::LeftButton, {}, QPoint(8, nvr->height() / 2));
        QTest::mouseClick(dvr, Qt::LeftButton, {}, QPoint(8, dvr->height() / 2));
        QVERIFY(!all->isChecked());
        QTest::mouseClick(ipc, Qt::LeftButton, {}, QPoint(8, ipc->height() / 2));
        QVERIFY(all->isChecked());
        QCOMPARE(p->typeFilter(), 7);
    }

    void countLabelAndHeaderState()
    {
        std::vector<DeviceRecord> list = {record(2, "02:00:00:00:00:11", 11), record(2, "02:00:00:00:00:12", 12),
                                          record(1, "02:00:00:00:00:13", 13)};
        auto p = page();
        p->setDeviceList(list.data(), int(list.size()));
        auto *count = p->findChild<QLabel *>("labSelectNum");
        QCOMPARE(count->text(), QStringLiteral("0"));
        QCOMPARE(p->header()->checkState(), int(CCheckBoxHeaderView::Unchecked));
        p->table()->item(1, 0)->setCheckState(Qt::Checked);
        QCOMPARE(count->text(), QStringLiteral("1"));
        QCOMPARE(p->header()->checkState(), int(CCheckBoxHeaderView::PartlyChecked));
        p->table()->item(0, 0)->setCheckState(Qt::Checked);
        p->table()->item(2, 0)->setCheckState(Qt::Checked);
        QCOMPARE(count->text(), QStringLiteral("3"));
        QCOMPARE(p->header()->checkState(), int(CCheckBoxHeaderView::Checked));

        // The header box clears every row, and checks them all again.
        const QRect box = QRect(p->header()->sectionViewportPosition(0), 0, 40, p->header()->height());
        QTest::mouseClick(p->header()->viewport(), Qt::LeftButton, {}, box.center());
        QCOMPARE(count->text(), QStringLiteral("0"));
        QCOMPARE(p->header()->checkState(), int(CCheckBoxHeaderView::Unchecked));
        QTest::mouseClick(p->header()->viewport(), Qt::LeftButton, {}, box.center());
        QCOMPARE(count->text(), QStringLiteral("3"));

        // A new list starts unchecked.
        p->setDeviceList(list.data(), 2);
        QCOMPARE(count->text(), QStringLiteral("0"));
        QCOMPARE(p->table()->rowCount(), 2);
    }

    void startingNeedsAFile()
    {
        std::vector<DeviceRecord> list = {record(2, "02:00:00:00:00:21", 21)};
        const QString notes = m_dir.filePath(QStringLiteral("missing.bin"));
        auto p = page({notes});
        QSignalSpy flag(p.get(), &CUpgradeWidget::sig_UpgradeFlag);
        p->setDeviceList(list.data(), 1);
        {
            // No file chosen: a warning, and nothing is queued.
            BoxAnswerer ok(QMessageBox::Ok);
            buttonIn(*p, 0, CUpgradeWidget::ColOperate)->click();
            QCOMPARE(ok.count, 1);
            QCOMPARE(ok.lastText, text("Upgrade.ChooseFileFirst"));
        }
        // A file that cannot be read is not taken.
        buttonIn(*p, 0, CUpgradeWidget::ColOpen)->click();
        QVERIFY(!p->table()->item(0, CUpgradeWidget::ColFile));
        QVERIFY(!p->upgradesRunning());
        QVERIFY(!barIn(*p, 0));
        QCOMPARE(flag.count(), 0);

        // The batch without a checked row asks for one; no dialog comes up.
        BoxAnswerer ok(QMessageBox::Ok);
        p->findChild<QPushButton *>("btnUpgradeAll")->click();
        QCOMPARE(ok.lastText, text("Please select one or more devices"));
        QVERIFY(!p->upgradesRunning());
    }

    void batchDialogWantsAReadableFile()
    {
        const QString fw = firmware();
        QStringList answers = {QString(), m_dir.filePath(QStringLiteral("gone.bin")), fw};
        CUpgradeLoad dialog(nullptr, 7, [&answers](QWidget *) { return answers.takeFirst(); });
        QCOMPARE(dialog.findChild<QLabel *>("labNum")->text(), QStringLiteral("7"));
        auto *browse = dialog.findChild<QPushButton *>("btnBrowse");
        auto *ok = dialog.findChild<QPushButton *>("btnOK");
        QSignalSpy chosen(&dialog, &CUpgradeLoad::sig_OpenUpgradePath);
        QVERIFY(!ok->isEnabled());
        browse->click(); // cancelled
        browse->click(); // no such file
        QVERIFY(!ok->isEnabled());
        QVERIFY(dialog.path().isEmpty());
        browse->click();
        QVERIFY(ok->isEnabled());
        QCOMPARE(dialog.path(), QFileInfo(fw).absoluteFilePath());
        QVERIFY(dialog.findChild<QLineEdit *>("lineEditPath")->isReadOnly());
        ok->click();
        QCOMPARE(chosen.count(), 1);
        QCOMPARE(chosen.first().first().toString(), QFileInfo(fw).absoluteFilePath());
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void batchDialogMovesByItsTitleOnly()
    {
        CUpgradeLoad dialog(nullptr, 1, {});
        dialog.show();
        dialog.move(100, 100);
        const auto drag = [&dialog](QWidget *where) {
            const QPoint from = where->mapToGlobal(QPoint(30, 10));
            QMouseEvent press(QEvent::MouseButtonPress, where->mapFromGlobal(from), from, Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QApplication::sendEvent(where, &press);
            const QPoint to = from + QPoint(40, 25);
            QMouseEvent move(QEvent::MouseMove, where->mapFromGlobal(to), to, Qt::NoButton, Qt::LeftButton,
                             Qt::NoModifier);
            QApplication::sendEvent(where, &move);
            QMouseEvent release(QEvent::MouseButtonRelease, where->mapFromGlobal(to), to, Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QApplication::sendEvent(where, &release);
            return dialog.pos();
        };
        QCOMPARE(drag(dialog.findChild<QWidget *>("widget")), QPoint(100, 100));
        QCOMPARE(drag(dialog.findChild<QWidget *>("widget_2")), QPoint(140, 125));
        // A drag by the title leaves nothing behind for the body's next press.
        QCOMPARE(drag(dialog.findChild<QWidget *>("widget")), QPoint(140, 125));
    }

    // ---- end to end ----

    // Two devices under way while the table is sorted and refilled with the
    // list in another order: each bar ends on its own device's row. One of
    // them loses power mid-flash, so a bar that went to the wrong row shows
    // the wrong ending.
    void progressFindsItsRowAfterRefill()
    {
        Fleet f;
        f.devices.push_back(device(1, 2000));
        f.devices.push_back(device(2, 2000));
        f.devices[0].faults.powerLossAtPercent = 50;
        QVERIFY(startFleet(f));
        const QString fw = firmware();
        auto p = page({fw});
        p->setDeviceList(m_list.data(), 2);
        const QString lost = QString::fromStdString(f.devices[0].mac);
        const QString good = QString::fromStdString(f.devices[1].mac);
        QCOMPARE(p->macOfRow(0), lost);

        // One row by its own button, the other through the batch.
        buttonIn(*p, 0, CUpgradeWidget::ColOpen)->click();
        QCOMPARE(p->table()->item(0, CUpgradeWidget::ColFile)->text(), QFileInfo(fw).absoluteFilePath());
        buttonIn(*p, 0, CUpgradeWidget::ColOperate)->click();
        QVERIFY(barIn(*p, 0));
        p->table()->item(1, 0)->setCheckState(Qt::Checked);
        p->slot_UpgradeAll(fw);
        QVERIFY(barIn(*p, 1));
        QVERIFY(p->upgradesRunning());
        // The busy row is refused a second start: nothing changes for it.
        p->table()->item(0, 0)->setCheckState(Qt::Checked);
        p->slot_UpgradeAll(fw);
        QCOMPARE(p->tracker().underWayCount(), 2);

        QTRY_VERIFY_WITH_TIMEOUT(p->tracker().state(good) && p->tracker().state(good)->stage >= Stage::Writing, 20000);
        // Sorted by address, highest first: the rows trade places.
        p->table()->sortByColumn(CUpgradeWidget::ColIP, Qt::DescendingOrder);
        QCOMPARE(p->macOfRow(0), good);
        // A search rewrites the list meanwhile: the rows rest until it is
        // back, in the other order, as a new search may leave it.
        p->listRebuildStarted();
        QVERIFY(!p->table()->isEnabled());
        QVERIFY(!p->findChild<QPushButton *>("btnUpgradeAll")->isEnabled());
        QVERIFY(!p->findChild<QComboBox *>("cmbUpgradeType")->isEnabled());
        std::swap(m_list[0], m_list[1]);
        p->setDeviceList(m_list.data(), 2);
        QVERIFY(p->table()->isEnabled());
        QCOMPARE(p->macOfRow(0), good);
        QVERIFY(barIn(*p, 0) && barIn(*p, 1));
        QVERIFY(!barIn(*p, 0)->format().isEmpty());

        QVERIFY(waitIdle(*p));
        QVERIFY(p->findChild<QComboBox *>("cmbUpgradeType")->isEnabled());
        const int goodRow = p->rowOfMac(good);
        const int lostRow = p->rowOfMac(lost);
        QCOMPARE(barIn(*p, goodRow)->format(), text("UpgradeSuccess"));
        QCOMPARE(barIn(*p, goodRow)->value(), 100);
        QCOMPARE(barIn(*p, lostRow)->format(), text("UpgradeFail"));
        QCOMPARE(markOf(*p, goodRow), QStringLiteral("resultOk"));
        QCOMPARE(markOf(*p, lostRow), QStringLiteral("resultError"));
        QCOMPARE(p->table()->item(goodRow, CUpgradeWidget::ColVersion)->text(), QString::fromLatin1(kNewVersion));
        QCOMPARE(p->table()->item(lostRow, CUpgradeWidget::ColVersion)->text(), QString::fromLatin1(kOldVersion));
        QCOMPARE(m_emulator->device(1).version, std::string(kNewVersion));
        QCOMPARE(m_emulator->device(0).version, std::string(kOldVersion));
    }

    void loginFailureShowsATruthfulMark()
    {
        Fleet f;
        f.devices.push_back(device(5, 200));
        f.devices[0].faults.busy = true;
        QVERIFY(startFleet(f));
        const QString fw = firmware();
        auto p = page({fw, fw});
        p->setDeviceList(m_list.data(), 1);
        buttonIn(*p, 0, CUpgradeWidget::ColOpen)->click();
        buttonIn(*p, 0, CUpgradeWidget::ColOperate)->click();
        QVERIFY(waitIdle(*p));
        const QString mac = QString::fromStdString(f.devices[0].mac);
        const UpgradeOutcome *o = p->tracker().outcome(mac);
        QVERIFY(o);
        QVERIFY(!o->ok());
        QCOMPARE(o->operation, int(ResultTexts::OpLogin));
        QCOMPARE(markOf(*p, 0), QStringLiteral("resultError"));
        QCOMPARE(barIn(*p, 0)->format(), text("UpgradeFail"));

        QString operation, detail;
        testsupport::ModalHandler<CToolTips> notice([&](CToolTips *n) {
            operation = n->operationText();
            detail = n->detailText();
            n->OnClose();
        });
        QSignalSpy opened(p.get(), &CUpgradeWidget::sig_OpenResultNotice);
        p->table()->cellWidget(0, CUpgradeWidget::ColIP)->findChild<QPushButton *>()->click();
        QCOMPARE(notice.count, 1);
        QCOMPARE(opened.first().at(1).toInt(), o->code);
        QCOMPARE(operation, text("Login"));
        QVERIFY2(detail.startsWith(o->text) && detail.contains(QString::number(o->code)), qPrintable(detail));
        QVERIFY(!o->text.isEmpty());
        QCOMPARE(m_emulator->device(0).version, std::string(kOldVersion));

        // A new file for the finished row: its Upgrade button is back, and
        // the mark stays until the next outcome.
        buttonIn(*p, 0, CUpgradeWidget::ColOpen)->click();
        QVERIFY(!barIn(*p, 0));
        QCOMPARE(buttonIn(*p, 0, CUpgradeWidget::ColOperate)->objectName(), QStringLiteral("btnUpgrade"));
        QCOMPARE(markOf(*p, 0), QStringLiteral("resultError"));
    }

    // The main window over the page: the busy flag holds until the last
    // upgrade ends, no page button works meanwhile, and a close waits for
    // the devices under way while the queued ones are never started.
    void busyWindowWaitsForTheLastUpgrade()
    {
        Fleet f;
        f.devices.push_back(device(8, 200));   // quick
        f.devices.push_back(device(9, 3000));  // slow
        f.devices.push_back(device(10, 200));  // queued behind the slow one
        QVERIFY(startFleet(f));
        const QString fw = firmware();

        OrvaneTool::Environment env = OrvaneTool::defaultEnvironment();
        env.localAddresses = [](bool *ok) {
            *ok = true;
            return QList<QHostAddress> {QHostAddress(QStringLiteral("127.0.61.1"))};
        };
        int quits = 0;
        env.quit = [&quits] { ++quits; };
        auto w = std::make_unique<OrvaneTool>(nullptr, env);
        QSignalSpy ended(w.get(), &OrvaneTool::searchEnd);
        QVERIFY(ended.wait(15000));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isSearching() && w->upgradePage(), 10000);
        w->OnUpgrade();
        QCOMPARE(w->currentPage(), int(OrvaneTool::UpgradePage));
        CUpgradeWidget *p = w->upgradePage();
        QCOMPARE(p->table()->rowCount(), 3);
        UpgradeSettings s = fastSettings();
        s.jobs = 1;
        p->batch().setSettings(s);
        QSignalSpy flag(p, &CUpgradeWidget::sig_UpgradeFlag);
        for (int r = 0; r < 3; ++r)
            p->table()->item(r, 0)->setCheckState(Qt::Checked);
        // Queued in table order, one at a time.
        p->slot_UpgradeAll(fw);
        QVERIFY(w->upgradeBusy());

        const QString quick = QString::fromStdString(f.devices[0].mac);
        const QString queued = QString::fromStdString(f.devices[2].mac);
        QTRY_VERIFY_WITH_TIMEOUT(p->tracker().outcome(quick), 20000);
        QVERIFY(p->tracker().outcome(quick)->ok());
        // One of three done: still busy, and no page button does anything.
        QVERIFY(w->upgradeBusy());
        QTest::mouseClick(w->findChild<QToolButton *>("m_ModifyIPs"), Qt::LeftButton);
        QTest::mouseClick(w->findChild<QToolButton *>("m_System"), Qt::LeftButton);
        QCOMPARE(w->currentPage(), int(OrvaneTool::UpgradePage));

        // Closing asks; keeping the window open changes nothing.
        {
            BoxAnswerer keep(QMessageBox::No);
            w->OnClose();
            QCOMPARE(keep.count, 1);
            QCOMPARE(keep.lastText, text("Upgrade.CloseQuestion"));
        }
        QVERIFY(w->upgradePage() && w->centralWidget()->isEnabled());
        QCOMPARE(quits, 0);

        // Closing after they finish: the queued device never starts, the
        // slow one finishes, and only then does the window go.
        QVERIFY(p->tracker().underWay(queued));
        BoxAnswerer close(QMessageBox::Yes);
        w->OnClose();
        QCOMPARE(close.count, 1);
        QVERIFY(!w->centralWidget()->isEnabled());
        QCOMPARE(w->findChild<QLabel *>("m_Devlabel")->text(), text("Closing after the upgrades end"));
        QTRY_VERIFY_WITH_TIMEOUT(p->tracker().outcome(queued), 2000);
        QCOMPARE(p->tracker().outcome(queued)->code, int(CodeCancelled));
        QCOMPARE(quits, 0);
        QVERIFY(w->upgradeBusy());
        QTRY_VERIFY_WITH_TIMEOUT(quits == 1, 60000);
        QVERIFY(!w->upgradePage());
        QCOMPARE(m_emulator->device(1).version, std::string(kNewVersion));
        QCOMPARE(m_emulator->device(2).version, std::string(kOldVersion));
        // The flag went up once and came down once, at the very end.
        QCOMPARE(flag.count(), 2);
        QCOMPARE(flag.at(0).first().toBool(), true);
        QCOMPARE(flag.at(1).first().toBool(), false);
        w.reset();
    }
};

QTEST_MAIN(TestUpgradePage)
#include "tst_upgradepage.moc"
