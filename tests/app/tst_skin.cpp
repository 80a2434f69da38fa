// The shipped style sheets and skin pictures. A sheet with one syntax error is
// dropped whole and a missing picture leaves its button blank, both without
// a word at run time, so they are caught here.

#include <QtTest>

#include <QDirIterator>
#include <QImageReader>
#include <QMovie>
#include <QRegularExpression>
#include <QWidget>

namespace {

const QString kSource = QStringLiteral(SCOUTRIX_SOURCE_DIR);

QStringList sheetFiles()
{
    QStringList out;
    QDirIterator it(kSource + "/QSS", {"*.qss"}, QDir::Files);
    while (it.hasNext())
        out << it.next();
    out.sort();
    return out;
}

QString readText(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(f.readAll());
}

// Skin pictures named anywhere in the sheets or the sources, with where.
QMultiMap<QString, QString> namedPictures()
{
    static const QRegularExpression name(
        QStringLiteral("Skin[/\\\\]+([A-Za-z0-9_@.\\-]+\\.(?:png|gif|ico))"));
    QStringList files = sheetFiles();
    const QStringList dirs = {"app", "discovery", "addressing", "devconfig", "syscfg", "upgrade", "results"};
    for (const QString &dir : dirs) {
        QDirIterator it(kSource + "/" + dir, {"*.cpp", "*.h", "*.ui"}, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << it.next();
    }
    QMultiMap<QString, QString> out;
    for (const QString &file : files) {
        auto m = name.globalMatch(readText(file));
        while (m.hasNext())
            out.insert(m.next().captured(1), QDir(kSource).relativeFilePath(file));
    }
    return out;
}

QStringList parseWarnings;

void collectParseWarnings(QtMsgType type, const QMessageLogContext &, const QString &message)
{
    if (type == QtWarningMsg && message.contains(QLatin1String("Could not parse")))
        parseWarnings << message;
}

} // namespace

class TestSkin : public QObject
{
    Q_OBJECT

private slots:
    void everySheetParses_data()
    {
        QTest::addColumn<QString>("path");
        const QStringList sheets = sheetFiles();
        QVERIFY(sheets.size() >= 8);
        for (const QString &path : sheets)
            QTest::newRow(qPrintable(QFileInfo(path).fileName())) << path;
    }
    void everySheetParses()
    {
        QFETCH(QString, path);
        const QString text = readText(path);
        QVERIFY(!text.trimmed().isEmpty());
        parseWarnings.clear();
        const QtMessageHandler old = qInstallMessageHandler(collectParseWarnings);
        QWidget widget;
        widget.setStyleSheet(text);
        widget.ensurePolished();
        qInstallMessageHandler(old);
        QVERIFY2(parseWarnings.isEmpty(), qPrintable(parseWarnings.join('\n')));
    }

    void aBrokenSheetIsNoticed()
    {
        parseWarnings.clear();
        const QtMessageHandler old = qInstallMessageHandler(collectParseWarnings);
        QWidget widget;
        widget.setStyleSheet(QStringLiteral("QLabel { color: red; "));
        widget.ensurePolished();
        qInstallMessageHandler(old);
        QCOMPARE(parseWarnings.size(), 1);
    }

    void bothMainSheetsStyleTheSameWidgets()
    {
        // The English sheet only makes room for longer texts; a rule added to
        // one language and forgotten in the other shows as a different look.
        static const QRegularExpression selector(QStringLiteral("(#[A-Za-z_][A-Za-z0-9_]*)"));
        static const QRegularExpression comment(QStringLiteral("/\\*.*?\\*/"),
                                                QRegularExpression::DotMatchesEverythingOption);
        static const QRegularExpression block(QStringLiteral("\\{[^}]*\\}"));
        auto names = [](QString text) {
            // Object names sit in the selectors; colours in the blocks look alike.
            text.remove(comment).remove(block);
            QSet<QString> out;
            auto m = selector.globalMatch(text);
            while (m.hasNext())
                out << m.next().captured(1);
            return out;
        };
        const QSet<QString> zh = names(readText(kSource + "/QSS/Mainsheet.qss"));
        const QSet<QString> en = names(readText(kSource + "/QSS/MainsheetEn.qss"));
        QVERIFY(zh.contains("#widget_5"));
        QCOMPARE(zh, en);
    }

    void everyNamedPictureIsShipped()
    {
        const QMultiMap<QString, QString> named = namedPictures();
        QVERIFY2(named.size() > 20, "the picture scan found almost nothing");
        QStringList missing;
        for (auto it = named.cbegin(); it != named.cend(); ++it) {
            if (!QFileInfo::exists(kSource + "/Skin/" + it.key()))
                missing << it.key() + " (" + it.value() + ")";
        }
        missing.removeDuplicates();
        QVERIFY2(missing.isEmpty(), qPrintable(missing.join('\n')));
    }

    void picturesFitTheirWidgets_data()
    {
        QTest::addColumn<QString>("picture");
        QTest::addColumn<QSize>("size");
        QTest::newRow("logo") << "logo.png" << QSize(130, 68);
        QTest::newRow("wordmark") << "scoutrix.png" << QSize(242, 40);
        QTest::newRow("second title") << "scoutrix2.png" << QSize(242, 40);
        QTest::newRow("ok mark") << "ok.png" << QSize(16, 16);
        QTest::newRow("ok hover") << "ok_hover.png" << QSize(16, 16);
        QTest::newRow("error mark") << "error.png" << QSize(16, 16);
        QTest::newRow("error hover") << "erro_hover.png" << QSize(16, 16);
        QTest::newRow("modify ip") << "list_ip_n.png" << QSize(24, 24);
        QTest::newRow("details") << "digital_h.png" << QSize(24, 24);
        QTest::newRow("web login") << "ie_n.png" << QSize(24, 24);
        QTest::newRow("check") << "Select_Check.png" << QSize(20, 20);
        QTest::newRow("uncheck") << "Select_UnCheck.png" << QSize(20, 20);
        QTest::newRow("max button") << "max_normal.png" << QSize(36, 30);
        QTest::newRow("restore button") << "min_hover.png" << QSize(36, 30);
        QTest::newRow("page tab") << "tabAll_Check.png" << QSize(120, 30);
        QTest::newRow("busy movie") << "update_p.gif" << QSize(44, 44);
    }
    void picturesFitTheirWidgets()
    {
        QFETCH(QString, picture);
        QFETCH(QSize, size);
        QImageReader reader(kSource + "/Skin/" + picture);
        QVERIFY2(reader.canRead(), qPrintable(reader.errorString()));
        QCOMPARE(reader.size(), size);
    }

    void doubleSizePicturesMatchTheirOriginals()
    {
        // A twin left over from an older drawing would show on 200 % screens only.
        QDirIterator it(kSource + "/Skin", {"*@2x.png"}, QDir::Files);
        int twins = 0;
        QStringList wrong;
        while (it.hasNext()) {
            const QString twin = it.next();
            QString original = twin;
            original.replace(QLatin1String("@2x.png"), QLatin1String(".png"));
            const QSize big = QImageReader(twin).size();
            const QSize small = QImageReader(original).size();
            if (!small.isValid() || big != small * 2)
                wrong << QFileInfo(twin).fileName();
            ++twins;
        }
        QVERIFY(twins > 20);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join('\n')));
    }

    void moviesAnimate_data()
    {
        QTest::addColumn<QString>("movie");
        QTest::newRow("search") << "update_p.gif";
        QTest::newRow("login") << "loading.gif";
    }
    void moviesAnimate()
    {
        QFETCH(QString, movie);
        QMovie m(kSource + "/Skin/" + movie);
        QVERIFY(m.isValid());
        QVERIFY(m.frameCount() > 1);
        QVERIFY(m.jumpToFrame(0));
        QVERIFY(m.nextFrameDelay() > 0);
    }
};

QTEST_MAIN(TestSkin)
#include "tst_skin.moc"
