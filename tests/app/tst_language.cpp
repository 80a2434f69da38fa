// Text lookup by key, and the shipped language files against the keys the
// sources look up.

#include <QtTest>

#include <QDirIterator>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextCodec>

#include "CMultiLanguage.h"

namespace {

void writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

// Keys passed to CMultiLanguage::text(QStringLiteral(...)) or LANG_KEY(...),
// with adjacent literals joined as the compiler joins them.
QSet<QString> keysInSources()
{
    QSet<QString> keys;
    const QStringList dirs = {"app", "discovery", "addressing", "devconfig", "syscfg", "upgrade", "results"};
    static const QRegularExpression marker(
        QStringLiteral("(CMultiLanguage::text\\(\\s*(?:QStringLiteral|QLatin1String|QString::fromLatin1)?\\(?|LANG_KEY\\()\\s*\""));
    for (const QString &dir : dirs) {
        QDirIterator it(QStringLiteral(SCOUTRIX_SOURCE_DIR "/") + dir, {"*.cpp", "*.h"}, QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            QFile f(it.next());
            if (!f.open(QIODevice::ReadOnly))
                continue;
            const QString src = QString::fromUtf8(f.readAll());
            auto m = marker.globalMatch(src);
            while (m.hasNext()) {
                const auto match = m.next();
                int pos = match.capturedEnd() - 1; // at the opening quote
                QString key;
                for (;;) {
                    if (pos >= src.size() || src.at(pos) != QLatin1Char('"'))
                        break;
                    ++pos;
                    while (pos < src.size() && src.at(pos) != QLatin1Char('"')) {
                        if (src.at(pos) == QLatin1Char('\\') && pos + 1 < src.size())
                            ++pos;
                        key += src.at(pos++);
                    }
                    ++pos;
                    while (pos < src.size() && src.at(pos).isSpace())
                        ++pos;
                }
                keys.insert(key);
            }
        }
    }
    return keys;
}

QSettings *shipped(const QString &language)
{
    auto *s = new QSettings(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language/") + language + ".ini",
                            QSettings::IniFormat);
    s->setIniCodec(CMultiLanguage::systemCodec());
    return s;
}

} // namespace

class TestLanguage : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;

private slots:
    void init()
    {
        QVERIFY(m_dir.isValid());
        QDir(m_dir.path()).removeRecursively();
        QDir().mkpath(m_dir.path());
        CMultiLanguage::setLanguageDir(m_dir.path());
    }

    void missingFilesFallBackToTheKey()
    {
        QCOMPARE(CMultiLanguage::languageName(), QString());
        QCOMPARE(CMultiLanguage::text("Devices found"), QStringLiteral("Devices found"));
        writeFile(m_dir.filePath("language.ini"), "[Language]\nlanguage=Eng\n");
        QCOMPARE(CMultiLanguage::text("Devices found"), QStringLiteral("Devices found"));
    }

    void lookup_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("expected");
        QTest::newRow("key with spaces") << "devices were found" << "devices found here";
        QTest::newRow("dotted key") << "Config.Save" << "Save now";
        QTest::newRow("comma kept") << "Comma" << "one, two";
        QTest::newRow("empty value is missing") << "Blank" << "Blank";
        QTest::newRow("missing key") << "Nowhere" << "Nowhere";
        QTest::newRow("empty key") << "" << "";
        QTest::newRow("question mark") << "Are you sure to modify?" << "Sure?";
        QTest::newRow("slash is no group") << "Eng/Comma" << "Eng/Comma";
        QTest::newRow("slash key in its section") << "Video/Audio" << "Both";
        QTest::newRow("backslash key") << "Video\\Audio" << "Video\\Audio";
    }
    void lookup()
    {
        QFETCH(QString, key);
        QFETCH(QString, expected);
        writeFile(m_dir.filePath("language.ini"), "[Language]\nlanguage=Eng\n");
        writeFile(m_dir.filePath("Eng.ini"),
                  "[Eng]\ndevices were found=\"devices found here\"\nConfig.Save=Save now\n"
                  "Comma=\"one, two\"\nBlank=\nAre you sure to modify?=Sure?\nVideo\\Audio=Both\n");
        QCOMPARE(CMultiLanguage::text(key), expected);
    }

    void chineseTextIsReadInTheFilesCodec()
    {
        writeFile(m_dir.filePath("language.ini"), "[Language]\nlanguage=Zh\n");
        writeFile(m_dir.filePath("Zh.ini"), QStringLiteral("[Zh]\nOK=\"确定\"\n").toUtf8());
        QCOMPARE(CMultiLanguage::text("OK"), QStringLiteral("确定"));
        QVERIFY(CMultiLanguage::isChinese());
    }

    void onlyZhIsChinese_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<bool>("chinese");
        QTest::newRow("Zh") << QByteArray("Zh") << true;
        QTest::newRow("Eng") << QByteArray("Eng") << false;
        QTest::newRow("empty") << QByteArray("") << false;
        QTest::newRow("zh lower") << QByteArray("zh") << false;
        QTest::newRow("ZH") << QByteArray("ZH") << false;
        QTest::newRow("Zh-CN") << QByteArray("Zh-CN") << false;
    }
    void onlyZhIsChinese()
    {
        QFETCH(QByteArray, name);
        QFETCH(bool, chinese);
        writeFile(m_dir.filePath("language.ini"), "[Language]\nlanguage=" + name + "\n");
        QCOMPARE(CMultiLanguage::isChinese(), chinese);
    }

    void switchWritesTheName()
    {
        writeFile(m_dir.filePath("language.ini"), "[Language]\nlanguage=Zh\n");
        CMultiLanguage::setLanguageName(QStringLiteral("Eng"));
        QCOMPARE(CMultiLanguage::languageName(), QStringLiteral("Eng"));
        QFile f(m_dir.filePath("language.ini"));
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().contains("language=Eng"));
    }

    void shippedFilesHoldEveryKeyTheCodeUses()
    {
        const QSet<QString> keys = keysInSources();
        QVERIFY2(keys.size() > 10, "the key scan found almost nothing; has the lookup changed?");
        std::unique_ptr<QSettings> eng(shipped("Eng"));
        std::unique_ptr<QSettings> zh(shipped("Zh"));
        QStringList missing;
        for (const QString &key : keys) {
            if (key.isEmpty())
                continue;
            if (eng->value("Eng/" + key).toString().isEmpty())
                missing << "Eng: " + key;
            if (zh->value("Zh/" + key).toString().isEmpty())
                missing << "Zh: " + key;
        }
        missing.sort();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join('\n')));
    }

    void shippedChineseIsChinese()
    {
        std::unique_ptr<QSettings> zh(shipped("Zh"));
        zh->beginGroup("Zh");
        const QStringList keys = zh->childKeys();
        QVERIFY(!keys.isEmpty());
        int han = 0;
        for (const QString &key : keys) {
            const QString value = zh->value(key).toString();
            for (QChar c : value) {
                if (c.unicode() >= 0x4e00 && c.unicode() <= 0x9fff) {
                    ++han;
                    break;
                }
            }
        }
        // Codes and names such as "IPC" or "NTP" stay as they are.
        QVERIFY2(han * 10 >= keys.size() * 8, qPrintable(QString("%1 of %2").arg(han).arg(keys.size())));
        std::unique_ptr<QSettings> lang(new QSettings(QStringLiteral(SCOUTRIX_SOURCE_DIR "/Language/language.ini"), QSettings::IniFormat));
        QCOMPARE(lang->value("Language/language").toString(), QStringLiteral("Eng"));
    }
};

QTEST_APPLESS_MAIN(TestLanguage)
#include "tst_language.moc"
