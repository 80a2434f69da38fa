// The device table: address ordering, type filters, check-all, search text,
// row numbers and the result cells, driven as a user would.

#include <QtTest>

#include <QCheckBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include <vector>

#include "ActivityLog.h"
#include "AppPaths.h"
#include "CCheckBoxHeaderView.h"
#include "CChangerIPDlg.h"
#include "CIPLineEdit.h"
#include "CIPSearch.h"
#include "CIPTableWidgetItem.h"
#include "CMultiLanguage.h"
#include "CPortTable.h"
#include "CToolTips.h"
#include "FakeNetSdk.h"
#include "LanguageCopy.h"
#include "ModalHelpers.h"
#include "TableRules.h"
#include "WebLogin.h"

using scoutrix::DevInfo;
using scoutrix::NetInfo;
using scoutrix::SearchRecord;

namespace {

enum Type { DVR = 0, NVR = 1, IPC = 2, HVR = 3 };

struct Fleet
{
    std::vector<NetInfo> net;
    std::vector<DevInfo> dev;

    void add(const char *mac, std::initializer_list<uint8_t> ip, int32_t type, const char *model = "M1",
             const char *serial = "S1")
    {
        const std::vector<uint8_t> o(ip);
        const SearchRecord r = fakesdk::makeRecord(mac, o.data(), type, model, serial);
        net.push_back(r.net);
        dev.push_back(r.dev);
    }
    void load(CIPSearch &page) const { page.setDevices(net.data(), dev.data(), int(net.size())); }
};

QStringList column(const CIPSearch &page, int c)
{
    QStringList out;
    for (int r = 0; r < page.table()->rowCount(); ++r) {
        const QTableWidgetItem *cell = page.table()->item(r, c);
        out << (cell ? cell->text() : QString());
    }
    return out;
}

QPoint sectionCentre(QHeaderView *header, int section)
{
    return QPoint(header->sectionViewportPosition(section) + header->sectionSize(section) / 2,
                  header->height() / 2);
}

// On screen at a realistic size: header clicks and row buttons need a layout.
bool showPage(CIPSearch &page)
{
    page.resize(1000, 500);
    page.show();
    return QTest::qWaitForWindowExposed(&page);
}

void clickSection(QHeaderView *header, int section)
{
    QTest::mouseClick(header->viewport(), Qt::LeftButton, Qt::NoModifier, sectionCentre(header, section));
}

QPushButton *rowButton(CIPSearch &page, int row, const char *name, int col = CIPSearch::ColOperate)
{
    QWidget *cell = page.table()->cellWidget(row, col);
    return cell ? cell->findChild<QPushButton *>(name) : nullptr;
}

} // namespace

class TestDeviceTable : public QObject
{
    Q_OBJECT
    testsupport::LanguageCopy m_lang;

private slots:
    void initTestCase()
    {
        QVERIFY(m_lang.install());
    }

    void ipValues_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<qint64>("value");
        QTest::newRow("plain") << "10.0.0.2" << qint64(0x0A000002);
        QTest::newRow("top") << "255.255.255.255" << qint64(0xFFFFFFFFLL);
        QTest::newRow("missing parts are 0") << "10.1" << qint64(0x0A010000);
        QTest::newRow("octet too big") << "10.0.0.256" << qint64(-1);
        QTest::newRow("huge digits do not wrap") << "4294967306.0.0.1" << qint64(-1);
        QTest::newRow("fifth part") << "1.2.3.4.5" << qint64(-1);
        QTest::newRow("letters") << "cam-01" << qint64(-1);
        QTest::newRow("space") << "10.0.0.1 " << qint64(-1);
    }
    void ipValues()
    {
        QFETCH(QString, text);
        QFETCH(qint64, value);
        QCOMPARE(TableRules::ipSortValue(text), value);
    }

    void ipItemsOrderByValue()
    {
        auto less = [](const char *a, const char *b) {
            return CIPTableWidgetItem(QString::fromLatin1(a)) < CIPTableWidgetItem(QString::fromLatin1(b));
        };
        QVERIFY(less("10.0.0.2", "10.0.0.10"));
        QVERIFY(!less("10.0.0.10", "10.0.0.2"));
        QVERIFY(less("9.255.255.255", "10.0.0.1"));
        QVERIFY(less("not an address", "0.0.0.0"));
        QVERIFY(!less("0.0.0.0", "not an address"));
        // Two non-addresses fall back to text order.
        QVERIFY(less("abc", "abd"));
    }

    void typeFilterRules()
    {
        TableRules::TypeFilter f;
        QCOMPARE(f.mask(), 7);
        f.setAll(false);
        for (int t : {DVR, NVR, IPC, HVR})
            QVERIFY(!f.shows(t));
        // A type the table has no box for is never hidden.
        QVERIFY(f.shows(7));
        QVERIFY(f.shows(-1));
        QVERIFY(!f.setType(TableRules::TypeFilter::Ipc, true, false));
        QVERIFY(f.shows(IPC) && !f.shows(NVR));
        QVERIFY(!f.setType(TableRules::TypeFilter::DvrHvr, true, false));
        QVERIFY(f.shows(DVR) && f.shows(HVR));
        QVERIFY(f.setType(TableRules::TypeFilter::Nvr, true, true));
        QCOMPARE(f.mask(), 7);
        QVERIFY(!f.setType(TableRules::TypeFilter::Ipc, false, true));
        QCOMPARE(f.mask(), 3);
    }

    void rowsFromDevicesWithoutBlanks()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("00:11:22:33:44:01", {192, 168, 1, 10}, IPC, "IPC-A", "SN1");
        fleet.add("", {192, 168, 1, 11}, IPC);
        fleet.add("00:11:22:33:44:03", {192, 168, 1, 12}, NVR, "NVR-B", "SN3");
        fleet.add("00:11:22:33:44:04", {192, 168, 1, 13}, 9, "Odd", "SN4");
        fleet.load(page);
        QCOMPARE(page.deviceCount(), 3);
        QCOMPARE(page.table()->rowCount(), 3);
        QCOMPARE(column(page, CIPSearch::ColNumber), QStringList({"1", "2", "3"}));
        QCOMPARE(column(page, CIPSearch::ColType), QStringList({"IPC", "NVR", ""}));
        QCOMPARE(column(page, CIPSearch::ColIP), QStringList({"192.168.1.10", "192.168.1.12", "192.168.1.13"}));
        QCOMPARE(column(page, CIPSearch::ColSerial), QStringList({"SN1", "SN3", "SN4"}));
        QVERIFY(rowButton(page, 0, "btnModify") && rowButton(page, 0, "btnDetailed") && rowButton(page, 0, "btnlogin"));
        QCOMPARE(page.table()->item(0, CIPSearch::ColCheck)->checkState(), Qt::Unchecked);
    }

    void filtersAndTheAllRule()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("m1", {10, 0, 0, 1}, IPC);
        fleet.add("m2", {10, 0, 0, 2}, DVR);
        fleet.add("m3", {10, 0, 0, 3}, NVR);
        fleet.add("m4", {10, 0, 0, 4}, HVR);
        fleet.add("m5", {10, 0, 0, 5}, 5);
        fleet.load(page);
        auto *all = page.findChild<QCheckBox *>("check_All");
        auto *ipc = page.findChild<QCheckBox *>("check_IPC");
        auto *dvr = page.findChild<QCheckBox *>("check_DVR");
        auto *nvr = page.findChild<QCheckBox *>("check_NVR");
        QVERIFY(all->isChecked() && ipc->isChecked() && dvr->isChecked() && nvr->isChecked());
        QCOMPARE(page.table()->rowCount(), 5);

        all->click();
        QVERIFY(!ipc->isChecked() && !dvr->isChecked() && !nvr->isChecked());
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"m5"}));

        ipc->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"m1", "m5"}));
        dvr->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"m1", "m2", "m4", "m5"}));
        QVERIFY(!all->isChecked());
        nvr->click();
        QVERIFY(all->isChecked());
        QCOMPARE(page.typeFilter(), 7);
        QCOMPARE(page.table()->rowCount(), 5);

        dvr->click();
        QVERIFY(!all->isChecked());
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"m1", "m3", "m5"}));
        QCOMPARE(column(page, CIPSearch::ColNumber), QStringList({"1", "2", "3"}));
    }

    void sortingOnlyWhereAllowed()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        fleet.add("m1", {10, 0, 0, 10}, IPC, "B", "S3");
        fleet.add("m2", {10, 0, 0, 2}, IPC, "A", "S1");
        fleet.add("m3", {9, 255, 255, 255}, NVR, "C", "S2");
        fleet.load(page);
        QHeaderView *header = page.header();

        clickSection(header, CIPSearch::ColIP);
        QCOMPARE(column(page, CIPSearch::ColIP), QStringList({"9.255.255.255", "10.0.0.2", "10.0.0.10"}));
        QVERIFY(header->isSortIndicatorShown());
        QCOMPARE(header->sortIndicatorSection(), int(CIPSearch::ColIP));
        clickSection(header, CIPSearch::ColIP);
        QCOMPARE(column(page, CIPSearch::ColIP), QStringList({"10.0.0.10", "10.0.0.2", "9.255.255.255"}));
        page.table()->viewport()->repaint();
        QCOMPARE(column(page, CIPSearch::ColNumber), QStringList({"1", "2", "3"}));
        // Each row keeps its own cells when sorted.
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"m1", "m2", "m3"}));

        QSignalSpy clicked(header, &QHeaderView::sectionClicked);
        const QStringList before = column(page, CIPSearch::ColIP);
        for (int c : {int(CIPSearch::ColNumber), int(CIPSearch::ColSerial), int(CIPSearch::ColOperate)}) {
            clickSection(header, c);
            QCOMPARE(column(page, CIPSearch::ColIP), before);
            QVERIFY(!header->isSortIndicatorShown());
        }
        QCOMPARE(clicked.count(), 0);
        clickSection(header, CIPSearch::ColModel);
        QCOMPARE(clicked.count(), 1);
        QVERIFY(header->isSortIndicatorShown());
    }

    void headerBoxStates()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        for (int i = 0; i < 4; ++i)
            fleet.add(qPrintable(QStringLiteral("m%1").arg(i)), {10, 0, 0, uint8_t(i + 1)}, IPC);
        fleet.load(page);
        auto *count = page.findChild<QLabel *>("labSelectNum");
        CCheckBoxHeaderView *header = page.header();
        QCOMPARE(header->checkState(), 0);

        page.table()->item(1, 0)->setCheckState(Qt::Checked);
        QCOMPARE(header->checkState(), 1);
        QCOMPARE(count->text(), QStringLiteral("1"));

        // From "some", one click checks every row.
        clickSection(header, CIPSearch::ColCheck);
        QCOMPARE(header->checkState(), 2);
        QCOMPARE(count->text(), QStringLiteral("4"));
        clickSection(header, CIPSearch::ColCheck);
        QCOMPARE(header->checkState(), 0);
        QCOMPARE(count->text(), QStringLiteral("0"));

        for (int r = 0; r < 4; ++r)
            page.table()->item(r, 0)->setCheckState(Qt::Checked);
        QCOMPARE(header->checkState(), 2);

        // A rebuild loses the checks and says so.
        fleet.load(page);
        QCOMPARE(header->checkState(), 0);
        QCOMPARE(count->text(), QStringLiteral("0"));
    }

    void searchText()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("aa:01", {192, 168, 1, 10}, IPC, "IPC-Dome");
        fleet.add("aa:02", {192, 168, 1, 20}, NVR, "NVR-8");
        fleet.add("aa:03", {10, 0, 0, 3}, DVR, "DVR-4");
        fleet.load(page);
        auto *edit = page.findChild<QLineEdit *>("lineEdit");
        auto *go = page.findChild<QPushButton *>("btnSearchIP");

        edit->setText(QStringLiteral("192.168"));
        go->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01", "aa:02"}));
        // Case does not matter.
        edit->setText(QStringLiteral("nvr"));
        go->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:02"}));
        edit->setText(QStringLiteral("zzz"));
        go->click();
        QCOMPARE(page.table()->rowCount(), 0);
        // A row number is a cell like the others.
        edit->setText(QStringLiteral("3"));
        go->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:03"}));
        edit->clear();
        go->click();
        QCOMPARE(page.table()->rowCount(), 3);
    }

    void rowWhoseDeviceIsGoneActsOnNothing()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC);
        fleet.add("aa:02", {10, 0, 0, 2}, IPC);
        fleet.load(page);
        QCOMPARE(page.deviceOfRow(1), 1);
        page.table()->item(1, CIPSearch::ColMac)->setText(QStringLiteral("ff:ff"));
        QCOMPARE(page.deviceOfRow(1), -1);

        QSignalSpy modified(&page, &CIPSearch::sig_ModifyIP);
        testsupport::BoxAnswerer answer(QMessageBox::Ok);
        rowButton(page, 1, "btnModify")->click();
        QCOMPARE(answer.count, 1);
        QCOMPARE(modified.count(), 0);
        QCOMPARE(page.table()->currentRow(), 1);
    }

    void resultCellsAndTheirNotice()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC);
        fleet.add("aa:02", {10, 0, 0, 2}, IPC);
        fleet.load(page);
        page.table()->item(0, 0)->setCheckState(Qt::Checked);
        page.table()->item(1, 0)->setCheckState(Qt::Checked);
        fakesdk::reset();
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setResults = {0, -10005};
        }
        QSignalSpy modified(&page, &CIPSearch::sig_ModifyIP);
        // The first checked row gets .100 and the second .101, which times out.
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(100, 3);
            d->findChild<QPushButton *>("btnOK")->click();
        });
        page.findChild<QPushButton *>("m_BtnModify")->click();
        QCOMPARE(dialog.count, 1);
        QCOMPARE(modified.count(), 1);
        QCOMPARE(fakesdk::state().setCalls.size(), 2);

        QWidget *ok = page.table()->cellWidget(0, CIPSearch::ColIP);
        QWidget *bad = page.table()->cellWidget(1, CIPSearch::ColIP);
        QVERIFY(ok && bad);
        QCOMPARE(column(page, CIPSearch::ColIP), QStringList({"10.0.0.100", "10.0.0.2"}));
        // The address is drawn once, by the item; the cell adds only the mark.
        QVERIFY(!ok->findChild<QLabel *>() && !bad->findChild<QLabel *>());
        QVERIFY(ok->findChild<QPushButton *>("resultOk"));
        QVERIFY(bad->findChild<QPushButton *>("resultError"));
        QCOMPARE(page.storedResult("aa:01"), 1);
        QCOMPARE(page.storedResult("aa:02"), -10005);

        QString shown;
        testsupport::ModalHandler<CToolTips> notice([&](CToolTips *t) {
            shown = t->deviceText() + '|' + t->operationText() + '|' + t->resultText();
            t->OnClose();
        });
        bad->findChild<QPushButton *>("resultError")->click();
        QCOMPARE(notice.count, 1);
        QCOMPARE(shown, "10.0.0.2|" + CMultiLanguage::text("Modify IP") + '|' + CMultiLanguage::text("Time out"));
    }

    void actionCellsFollowTheScrolling()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        for (int i = 0; i < 256; ++i)
            fleet.add(qPrintable(QStringLiteral("m%1").arg(i, 3, 10, QLatin1Char('0'))),
                      {10, 0, uint8_t(i / 200), uint8_t(i % 200 + 1)}, IPC);
        fleet.load(page);
        CPortTable *table = page.table();
        QVERIFY(rowButton(page, 0, "btnModify"));
        QVERIFY(!table->cellWidget(255, CIPSearch::ColOperate));

        table->scrollToBottom();
        QTRY_VERIFY(rowButton(page, 255, "btnlogin"));
        // Sorting brings rows without buttons on screen: they get theirs.
        table->sortByColumn(CIPSearch::ColIP, Qt::DescendingOrder);
        table->scrollToTop();
        QTRY_VERIFY(rowButton(page, 0, "btnDetailed"));
        QCOMPARE(table->item(0, CIPSearch::ColIP)->text(), QStringLiteral("10.0.1.56"));
        // And each button still acts on its own row's device.
        QList<QUrl> opened;
        WebLogin::setOpener([&](const QUrl &url) { opened << url; });
        rowButton(page, 0, "btnlogin")->click();
        WebLogin::setOpener({});
        QCOMPARE(opened.value(0).toString(), QStringLiteral("http://10.0.1.56"));
    }

    void searchRulesIgnoreCase_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("found");
        QTest::newRow("lower finds upper") << "sxn" << true;
        QTest::newRow("upper finds upper") << "SXN" << true;
        QTest::newRow("mixed") << "sXn-4m" << true;
        QTest::newRow("empty keeps") << "" << true;
        QTest::newRow("absent") << "dome" << false;
    }
    void searchRulesIgnoreCase()
    {
        QFETCH(QString, text);
        QFETCH(bool, found);
        QCOMPARE(TableRules::matchesSearch({"1", "IPC", "SXN-4M", "10.0.0.1"}, text), found);
    }

    void searchTextSurvivesFilterChanges()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC, "SXN-4M");
        fleet.add("aa:02", {10, 0, 0, 2}, NVR, "SXN-NVR");
        fleet.add("aa:03", {10, 0, 0, 3}, IPC, "Other");
        fleet.add("aa:04", {10, 0, 0, 4}, DVR, "SXN-DVR");
        fleet.load(page);
        page.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("sxn"));
        page.findChild<QPushButton *>("btnSearchIP")->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01", "aa:02", "aa:04"}));
        // A type filter narrows what the text found; it does not bring back
        // what the text left out.
        page.findChild<QCheckBox *>("check_NVR")->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01", "aa:04"}));
        page.findChild<QCheckBox *>("check_NVR")->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01", "aa:02", "aa:04"}));
        // A fresh search result is listed under the same text.
        fleet.load(page);
        QCOMPARE(page.table()->rowCount(), 3);
    }

    void checksStayWithRowsThatStayListed()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC);
        fleet.add("aa:02", {10, 0, 0, 2}, NVR);
        fleet.add("aa:03", {10, 0, 0, 3}, IPC);
        fleet.load(page);
        for (int r = 0; r < 3; ++r)
            page.table()->item(r, CIPSearch::ColCheck)->setCheckState(Qt::Checked);
        auto *count = page.findChild<QLabel *>("labSelectNum");
        QCOMPARE(count->text(), QStringLiteral("3"));

        page.findChild<QCheckBox *>("check_NVR")->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01", "aa:03"}));
        QCOMPARE(page.table()->item(0, CIPSearch::ColCheck)->checkState(), Qt::Checked);
        QCOMPARE(page.table()->item(1, CIPSearch::ColCheck)->checkState(), Qt::Checked);
        QCOMPARE(count->text(), QStringLiteral("2"));
        QCOMPARE(page.header()->checkState(), 2);
        // A hidden row lost its check: a batch never reaches a device nobody sees.
        page.findChild<QCheckBox *>("check_NVR")->click();
        QCOMPARE(page.table()->item(1, CIPSearch::ColCheck)->checkState(), Qt::Unchecked);
        QCOMPARE(count->text(), QStringLiteral("2"));
        QCOMPARE(page.header()->checkState(), 1);

        // The rule on its own.
        const QSet<QString> kept = TableRules::checksToKeep({"aa:01", "aa:02"}, fleet.net.data(), {0, 2});
        QCOMPARE(kept, QSet<QString>({"aa:01"}));
    }

    void allBoxSpeaksTheLanguage()
    {
        CMultiLanguage::setLanguageName(QStringLiteral("Zh"));
        CIPSearch zh;
        const QString text = zh.findChild<QCheckBox *>("check_All")->text();
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
        QCOMPARE(text, QStringLiteral("全部"));
        CIPSearch en;
        QCOMPARE(en.findChild<QCheckBox *>("check_All")->text(), QStringLiteral("ALL"));
    }

    // Three factory-default cameras on one address; the second refuses.
    void noticesMatchTheirMarksOnASharedAddress()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        fleet.add("aa:01", {192, 168, 1, 108}, IPC);
        fleet.add("aa:02", {192, 168, 1, 108}, IPC);
        fleet.add("aa:03", {192, 168, 1, 108}, IPC);
        fleet.load(page);
        for (int r = 0; r < 3; ++r)
            page.table()->item(r, CIPSearch::ColCheck)->setCheckState(Qt::Checked);
        fakesdk::reset();
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setResults = {0, -1, 0};
        }
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(20, 3);
            d->findChild<QPushButton *>("btnOK")->click();
        });
        page.findChild<QPushButton *>("m_BtnModify")->click();
        QCOMPARE(dialog.count, 1);
        QCOMPARE(column(page, CIPSearch::ColIP), QStringList({"192.168.1.20", "192.168.1.108", "192.168.1.22"}));

        const char *marks[3] = {"resultOk", "resultError", "resultOk"};
        const QString texts[3] = {CMultiLanguage::text("successful"), CMultiLanguage::text("fail"),
                                  CMultiLanguage::text("successful")};
        for (int r = 0; r < 3; ++r) {
            QString shown;
            testsupport::ModalHandler<CToolTips> notice([&](CToolTips *t) {
                shown = t->deviceText() + '|' + t->resultText();
                t->OnClose();
            });
            QPushButton *mark = rowButton(page, r, marks[r], CIPSearch::ColIP);
            QVERIFY2(mark, marks[r]);
            mark->click();
            QCOMPARE(shown, page.table()->item(r, CIPSearch::ColIP)->text() + '|' + texts[r]);
        }
        // Marks and notices come back after a filter change.
        page.findChild<QCheckBox *>("check_IPC")->click();
        page.findChild<QCheckBox *>("check_IPC")->click();
        QVERIFY(rowButton(page, 1, "resultError", CIPSearch::ColIP));
        QVERIFY(rowButton(page, 2, "resultOk", CIPSearch::ColIP));
    }

    void changedRowUsesItsNewAddress()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 9}, IPC);
        fleet.add("aa:02", {10, 0, 0, 5}, IPC);
        fleet.load(page);
        fakesdk::reset();
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(1, 3);
            d->gatewayEdit()->setOctet(254, 3);
            d->slot_OK();
        });
        rowButton(page, 0, "btnModify")->click();
        QCOMPARE(dialog.count, 1);
        QCOMPARE(QString::fromStdString(page.netInfo(0).ipText()), QStringLiteral("10.0.0.1"));
        QCOMPARE(scoutrix::octetsText(page.netInfo(0).gateway), std::string("10.0.0.254"));

        QList<QUrl> opened;
        WebLogin::setOpener([&](const QUrl &url) { opened << url; });
        rowButton(page, 0, "btnlogin")->click();
        WebLogin::setOpener({});
        QCOMPARE(opened.value(0).toString(), QStringLiteral("http://10.0.0.1"));

        page.table()->sortByColumn(CIPSearch::ColIP, Qt::AscendingOrder);
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01", "aa:02"}));
        QCOMPARE(page.findChild<QLineEdit *>("lineEdit")->text(), QString());
        page.findChild<QLineEdit *>("lineEdit")->setText(QStringLiteral("10.0.0.1"));
        page.findChild<QPushButton *>("btnSearchIP")->click();
        QCOMPARE(column(page, CIPSearch::ColMac), QStringList({"aa:01"}));
    }

    void addressChangesAreLogged()
    {
        QTemporaryDir dir;
        const QString before = ActivityLog::instance().directory();
        ActivityLog::instance().setDirectory(dir.path());
        CIPSearch page;
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC, "M-1", "SER1");
        fleet.add("aa:02", {10, 0, 0, 2}, IPC, "M-2", "SER2");
        fleet.load(page);
        page.table()->item(0, 0)->setCheckState(Qt::Checked);
        page.table()->item(1, 0)->setCheckState(Qt::Checked);
        fakesdk::reset();
        {
            QMutexLocker lock(&fakesdk::state().mutex);
            fakesdk::state().setResults = {0, -10005};
        }
        testsupport::ModalHandler<CChangerIPDlg> dialog([](CChangerIPDlg *d) {
            d->ipEdit()->setOctet(100, 3);
            d->findChild<QCheckBox *>("checkSameIP")->setChecked(false);
            d->findChild<QPushButton *>("btnOK")->click();
        });
        page.findChild<QPushButton *>("m_BtnModify")->click();
        const QVector<ActivityEntry> log = ActivityLog::instance().entries(QDate::currentDate());
        ActivityLog::instance().setDirectory(before);
        QCOMPARE(log.size(), 2);
        QCOMPARE(log[0].mac, QStringLiteral("aa:01"));
        QCOMPARE(log[0].serial, QStringLiteral("SER1"));
        QCOMPARE(log[0].operation, 0);
        QCOMPARE(log[0].address, QStringLiteral("10.0.0.1"));
        QVERIFY(log[0].oldValue.startsWith(QStringLiteral("10.0.0.1 / ")));
        QVERIFY(log[0].newValue.startsWith(QStringLiteral("10.0.0.100 / ")));
        QCOMPARE(log[0].result, 0);
        QCOMPARE(log[1].newValue.section(' ', 0, 0), QStringLiteral("10.0.0.101"));
        QCOMPARE(log[1].result, -10005);
        QCOMPARE(log[1].resultText, CMultiLanguage::text("Time out"));
    }

    void outcomeSetFromOutsideSaysWhy()
    {
        CIPSearch page;
        QVERIFY(showPage(page));
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC);
        fleet.load(page);
        page.setOutcome("aa:01", -30001, QStringLiteral("10.0.0.1 is the address of device aa:09."));
        QString result, detail;
        testsupport::ModalHandler<CToolTips> notice([&](CToolTips *t) {
            result = t->resultText();
            detail = t->detailText();
            t->OnClose();
        });
        rowButton(page, 0, "resultError", CIPSearch::ColIP)->click();
        QCOMPARE(result, CMultiLanguage::text("Address in use"));
        QCOMPARE(detail, QStringLiteral("10.0.0.1 is the address of device aa:09."));
        // A new search result starts without outcomes.
        fleet.load(page);
        QVERIFY(!page.table()->cellWidget(0, CIPSearch::ColIP));
        QCOMPARE(page.storedResult("aa:01"), 0);
    }

    void listExportIsSpreadsheetSafe()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC, "=HYPERLINK(\"x\")", "SN,1");
        fleet.add("aa:02", {10, 0, 0, 2}, NVR, "NVR \"8\"", "-5");
        fleet.add("aa:03", {10, 0, 0, 3}, IPC, "@cmd", "SN3");
        fleet.load(page);
        page.findChild<QCheckBox *>("check_NVR")->click();
        const QStringList lines = page.listCsv().split(QStringLiteral("\r\n"), Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[0], QStringLiteral("No,Type,Model,IP,Mask,Gateway,Port,MAC,Serial No"));
        QCOMPARE(lines[1], QStringLiteral("1,IPC,\"'=HYPERLINK(\"\"x\"\")\",10.0.0.1,255.255.255.0,10.0.0.1,34567,aa:01,\"SN,1\""));
        QCOMPARE(lines[2], QStringLiteral("2,IPC,'@cmd,10.0.0.3,255.255.255.0,10.0.0.1,34567,aa:03,SN3"));
        QVERIFY(!page.listCsv().contains(QStringLiteral("739204")));

        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("list.csv"));
        QVERIFY(page.exportList(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(bytes.mid(3)), page.listCsv());
        QVERIFY(!page.exportList(dir.filePath(QStringLiteral("missing/folder/list.csv"))));

        // The plain rule: what a '-' cell becomes.
        const QString nvr = TableRules::devicesCsv(fleet.net.data(), fleet.dev.data(), {1});
        QVERIFY(nvr.contains(QStringLiteral(",'-5\r\n")));
    }

    void modifyAllWithNothingCheckedDoesNothing()
    {
        CIPSearch page;
        Fleet fleet;
        fleet.add("aa:01", {10, 0, 0, 1}, IPC);
        fleet.load(page);
        QSignalSpy modified(&page, &CIPSearch::sig_ModifyIP);
        page.findChild<QPushButton *>("m_BtnModify")->click();
        QCOMPARE(modified.count(), 0);
    }
};

QTEST_MAIN(TestDeviceTable)
#include "tst_devicetable.moc"
