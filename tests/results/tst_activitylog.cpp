// The activity log: what was changed survives restarts, concurrent batches
// do not tear lines, and its CSV opens safely in a spreadsheet.

#include <QtTest>

#include <QComboBox>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QThread>

#include "ActivityLog.h"
#include "CActivityLogDlg.h"
#include "CMultiLanguage.h"
#include "LanguageCopy.h"
#include "ResultTexts.h"

namespace {

ActivityEntry entry(const QString &mac, int result, const QDateTime &time = QDateTime())
{
    ActivityEntry e;
    e.time = time;
    e.mac = mac;
    e.serial = QStringLiteral("SXN0001");
    e.model = QStringLiteral("SX-IPC-2");
    e.address = QStringLiteral("127.0.20.5");
    e.operation = ResultTexts::OpModifyIP;
    e.oldValue = QStringLiteral("127.0.20.5");
    e.newValue = QStringLiteral("127.0.10.5");
    e.result = result;
    return e;
}

// A strict RFC 4180 reader, so the writer is checked against the format and
// not against itself.
QVector<QStringList> parseCsv(const QString &text)
{
    QVector<QStringList> rows;
    QStringList row;
    QString cell;
    bool quoted = false;
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"')) {
                if (i + 1 < text.size() && text.at(i + 1) == QLatin1Char('"')) {
                    cell += c;
                    ++i;
                } else {
                    quoted = false;
                }
            } else {
                cell += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row << cell;
            cell.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() && text.at(i + 1) == QLatin1Char('\n')) {
            row << cell;
            rows << row;
            row.clear();
            cell.clear();
            ++i;
        } else {
            cell += c;
        }
    }
    return rows;
}

} // namespace

class TestActivityLog : public QObject
{
    Q_OBJECT
    testsupport::LanguageCopy m_lang;

private slots:
    void initTestCase()
    {
        QVERIFY(m_lang.install());
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
    }

    void keepsEntriesAcrossInstancesAndDays()
    {
        QTemporaryDir dir;
        const QDate today = QDate::currentDate();
        const QDateTime yesterday(today.addDays(-1), QTime(23, 59, 58));
        {
            ActivityLog log(dir.path());
            QVERIFY(log.append(entry(QStringLiteral("02:5C:A1:00:00:01"), 0, yesterday)));
            QVERIFY(log.append(entry(QStringLiteral("02:5C:A1:00:00:02"), -1)));
            QVERIFY(log.append(entry(QStringLiteral("02:5C:A1:00:00:03"), 1)));
        }
        // A later start of the program reads what an earlier one wrote.
        ActivityLog reopened(dir.path());
        QCOMPARE(reopened.days(), (QVector<QDate>{today, today.addDays(-1)}));
        const QVector<ActivityEntry> now = reopened.entries(today);
        QCOMPARE(now.size(), 2);
        QCOMPARE(now.at(0).mac, QStringLiteral("02:5C:A1:00:00:02"));
        QCOMPARE(now.at(0).result, -1);
        QCOMPARE(now.at(0).resultText, CMultiLanguage::text(QStringLiteral("fail")));
        QCOMPARE(now.at(1).resultText, CMultiLanguage::text(QStringLiteral("successful")));
        QCOMPARE(now.at(0).oldValue, QStringLiteral("127.0.20.5"));
        QCOMPARE(now.at(0).newValue, QStringLiteral("127.0.10.5"));
        const QVector<ActivityEntry> before = reopened.entries(today.addDays(-1));
        QCOMPARE(before.size(), 1);
        QCOMPARE(before.at(0).time, yesterday);
    }

    void tornLineIsSkipped()
    {
        QTemporaryDir dir;
        ActivityLog log(dir.path());
        QVERIFY(log.append(entry(QStringLiteral("02:5C:A1:00:00:01"), 0)));
        QFile file(log.fileForDay(QDate::currentDate()));
        QVERIFY(file.open(QIODevice::Append));
        file.write("{\"time\":\"2026-");
        file.close();
        QVERIFY(log.append(entry(QStringLiteral("02:5C:A1:00:00:02"), 0)));
        const QVector<ActivityEntry> got = log.entries(QDate::currentDate());
        // The torn line and the one glued to it are lost; the first is not.
        QVERIFY(!got.isEmpty());
        QCOMPARE(got.at(0).mac, QStringLiteral("02:5C:A1:00:00:01"));
    }

    void unwritableFolderIsReported()
    {
        QTemporaryDir dir;
        QFile blocker(dir.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        ActivityLog log(dir.filePath(QStringLiteral("file/activity")));
        QVERIFY(!log.append(entry(QStringLiteral("02:5C:A1:00:00:01"), 0)));
    }

    void concurrentAppendsKeepWholeLines()
    {
        QTemporaryDir dir;
        ActivityLog log(dir.path());
        const int perThread = 150;
        QVector<QThread *> threads;
        for (int t = 0; t < 4; ++t) {
            threads << QThread::create([&log, t] {
                for (int i = 0; i < perThread; ++i)
                    log.append(entry(QStringLiteral("02:5C:A1:00:%1:%2").arg(t).arg(i), 0));
            });
            threads.last()->start();
        }
        for (QThread *thread : threads) {
            QVERIFY(thread->wait(30000));
            delete thread;
        }
        QCOMPARE(log.entries(QDate::currentDate()).size(), 4 * perThread);
    }

    void csvCells_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("cell");
        QTest::newRow("plain") << "SX-IPC-2" << "SX-IPC-2";
        QTest::newRow("empty") << "" << "";
        QTest::newRow("comma") << "a,b" << "\"a,b\"";
        QTest::newRow("quote") << "say \"hi\"" << "\"say \"\"hi\"\"\"";
        QTest::newRow("newline") << "a\nb" << "\"a\nb\"";
        QTest::newRow("formula") << "=HYPERLINK(\"x\")" << "\"'=HYPERLINK(\"\"x\"\")\"";
        QTest::newRow("plus") << "+1" << "'+1";
        QTest::newRow("minus") << "-11301" << "'-11301";
        QTest::newRow("at") << "@SUM(A1)" << "'@SUM(A1)";
        QTest::newRow("tab") << "\t=1" << "'\t=1";
        QTest::newRow("inner equals") << "a=b" << "a=b";
        QTest::newRow("chinese") << QStringLiteral("成功") << QStringLiteral("成功");
    }
    void csvCells()
    {
        QFETCH(QString, text);
        QFETCH(QString, cell);
        QCOMPARE(ActivityLog::csvCell(text), cell);
    }

    void csvRoundTripsThroughAStrictReader()
    {
        ActivityEntry hostile = entry(QStringLiteral("=cmd|' /C calc'!A0"), -11301);
        hostile.model = QStringLiteral("SX,\"IPC\"\r\nnext");
        const QString csv = ActivityLog::toCsv({entry(QStringLiteral("02:5C:A1:00:00:01"), 0), hostile});
        const QVector<QStringList> rows = parseCsv(csv);
        QCOMPARE(rows.size(), 3);
        QCOMPARE(rows.at(0), ActivityLog::csvHeader());
        for (const QStringList &row : rows)
            QCOMPARE(row.size(), ActivityLog::csvHeader().size());
        QCOMPARE(rows.at(2).at(1), QStringLiteral("'=cmd|' /C calc'!A0"));
        QCOMPARE(rows.at(2).at(3), QStringLiteral("SX,\"IPC\"\r\nnext"));
        QCOMPARE(rows.at(2).at(8), QStringLiteral("'-11301"));
        QCOMPARE(rows.at(1).at(5), CMultiLanguage::text(QStringLiteral("Modify IP")));
    }

    void windowShowsNewestFirstAndGrows()
    {
        QTemporaryDir dir;
        ActivityLog log(dir.path());
        log.append(entry(QStringLiteral("02:5C:A1:00:00:01"), 0));
        log.append(entry(QStringLiteral("02:5C:A1:00:00:02"), -1));
        CActivityLogDlg dialog(nullptr, &log);
        QTableWidget *table = dialog.table();
        QCOMPARE(table->rowCount(), 2);
        QVERIFY(table->item(0, CActivityLogDlg::ColDevice)->text().startsWith(QStringLiteral("02:5C:A1:00:00:02")));
        QCOMPARE(table->item(0, CActivityLogDlg::ColChange)->text(), QStringLiteral("127.0.20.5 \u2192 127.0.10.5"));
        QCOMPARE(table->item(0, CActivityLogDlg::ColResult)->text(), CMultiLanguage::text(QStringLiteral("fail")));

        // A batch worker appends from its own thread; the row arrives queued.
        QThread *worker = QThread::create([&log] { log.append(entry(QStringLiteral("02:5C:A1:00:00:03"), 0)); });
        worker->start();
        QVERIFY(worker->wait(5000));
        delete worker;
        QTRY_COMPARE(table->rowCount(), 3);
        QVERIFY(table->item(0, CActivityLogDlg::ColDevice)->text().startsWith(QStringLiteral("02:5C:A1:00:00:03")));
    }

    void exportWritesTheShownDay()
    {
        QTemporaryDir dir;
        ActivityLog log(dir.path());
        log.append(entry(QStringLiteral("02:5C:A1:00:00:01"), 0));
        CActivityLogDlg dialog(nullptr, &log);
        const QString path = dir.filePath(QStringLiteral("out.csv"));
        QVERIFY(dialog.exportTo(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        QVERIFY(bytes.startsWith("\xEF\xBB\xBF"));
        QCOMPARE(QString::fromUtf8(bytes.mid(3)), ActivityLog::toCsv(log.entries(QDate::currentDate())));
        QVERIFY(!dialog.exportTo(dir.filePath(QStringLiteral("missing/folder/out.csv"))));
    }
};

QTEST_MAIN(TestActivityLog)
#include "tst_activitylog.moc"
