// Result texts and the result notice: every caller's outcome reads right.

#include <QtTest>

#include <QLabel>
#include <QPushButton>

#include "AppPaths.h"
#include "CMultiLanguage.h"
#include "LanguageCopy.h"
#include "CToolTips.h"
#include "ResultTexts.h"

class TestResults : public QObject
{
    Q_OBJECT
    testsupport::LanguageCopy m_lang;

private slots:
    void initTestCase()
    {
        QVERIFY(m_lang.install());
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
    }

    void resultKeys_data()
    {
        QTest::addColumn<int>("code");
        QTest::addColumn<int>("operation");
        QTest::addColumn<QString>("key");
        QTest::newRow("not supported") << -3 << 15 << "No Support";
        QTest::newRow("restart needed") << -11401 << 15 << "NeedReboot";
        QTest::newRow("timeout") << -10005 << 0 << "Time out";
        QTest::newRow("timeout on reboot") << -10005 << 14 << "Time out";
        QTest::newRow("timeout restoring network") << -10005 << 24 << "HaveModify";
        QTest::newRow("restart needed restoring network") << -11401 << 24 << "NeedReboot";
        QTest::newRow("just below -3") << -4 << 0 << "fail";
        QTest::newRow("wrong password") << -11301 << 10 << "fail";
        QTest::newRow("very negative") << int(0x80000000) << 0 << "fail";
        QTest::newRow("uninitialised") << -2 << 2 << "Please select an uninitialized device";
        QTest::newRow("minus one") << -1 << 1 << "fail";
        QTest::newRow("zero") << 0 << 0 << "successful";
        QTest::newRow("one") << 1 << 0 << "successful";
        QTest::newRow("two") << 2 << 0 << "fail";
        QTest::newRow("large positive") << 70000 << 0 << "fail";
        QTest::newRow("address in use") << -30001 << 0 << "Address in use";
        QTest::newRow("no host address") << -30002 << 0 << "Not a host address";
        QTest::newRow("batch not sent") << -30003 << 25 << "Not sent";
        QTest::newRow("export file not written") << -30004 << 23 << "File not written";
    }
    void resultKeys()
    {
        QFETCH(int, code);
        QFETCH(int, operation);
        QFETCH(QString, key);
        QCOMPARE(ResultTexts::resultKey(code, operation), key);
    }

    void operationNames()
    {
        const QMap<int, QString> named = {
            {0, "Modify IP"}, {1, "Upgrade"}, {2, "Initialize"}, {10, "Login"}, {11, "SysTimeSet"},
            {12, "DSTSet"}, {13, "NTPSet"}, {14, "Reboot"}, {15, "Encode"}, {17, "LightType"},
            {18, "Reset"}, {19, "ChannelName"}, {20, "Onvif"}, {21, "Camera"}, {22, "IMPROT"},
            {23, "EMPROT"}, {24, "Reset"}};
        for (auto it = named.begin(); it != named.end(); ++it)
            QCOMPARE(ResultTexts::operationKey(it.key()), it.value());
        for (int unnamed : {-1, 3, 4, 5, 6, 7, 8, 9, 16, 28, 1000})
            QVERIFY2(ResultTexts::operationKey(unnamed).isEmpty(), qPrintable(QString::number(unnamed)));
        // Recorded by the system and configuration pages: the notice names them.
        for (int id : {25, 26, 27})
            QVERIFY(!ResultTexts::operationKey(id).isEmpty());
    }

    void noticeShowsDeviceOperationAndOutcome()
    {
        CToolTips notice(nullptr, QStringLiteral("192.168.1.64"), -1, ResultTexts::OpUpgrade, 0);
        QCOMPARE(notice.size(), QSize(415, 357));
        QVERIFY(notice.windowFlags() & Qt::FramelessWindowHint);
        QCOMPARE(notice.findChild<QLabel *>("labIP2")->text(), QStringLiteral("192.168.1.64"));
        QCOMPARE(notice.findChild<QLabel *>("labMode2")->text(), CMultiLanguage::text("Upgrade"));
        QCOMPARE(notice.findChild<QLabel *>("labType2")->text(), CMultiLanguage::text("fail"));
        QCOMPARE(notice.findChild<QLabel *>("labMode")->text(), CMultiLanguage::text("OperationType"));
        QCOMPARE(notice.findChild<QLabel *>("labTip")->text(), CMultiLanguage::text("Details"));
        // The shipped English file gives real words, not the keys.
        QCOMPARE(notice.resultText(), QStringLiteral("Failed"));
    }

    void noticeInChinese()
    {
        CMultiLanguage::setLanguageName(QStringLiteral("Zh"));
        CToolTips notice(nullptr, QStringLiteral("10.0.0.5"), 1, ResultTexts::OpModifyIP, 0);
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
        QCOMPARE(notice.operationText(), QStringLiteral("修改IP"));
        QCOMPARE(notice.resultText(), QStringLiteral("成功"));
    }

    void unnamedOperationLeavesItsLabelEmpty()
    {
        CToolTips notice(nullptr, QStringLiteral("10.0.0.5"), 0, 7, 0);
        QVERIFY(notice.operationText().isEmpty());
        QCOMPARE(notice.resultText(), CMultiLanguage::text("successful"));
    }

    void closeButtonCloses()
    {
        CToolTips notice(nullptr, QStringLiteral("10.0.0.5"), 0, 0, 0);
        notice.show();
        QVERIFY(QTest::qWaitForWindowExposed(&notice));
        notice.findChild<QPushButton *>("btnClose")->click();
        QVERIFY(!notice.isVisible());
    }
};

QTEST_MAIN(TestResults)
#include "tst_results.moc"
