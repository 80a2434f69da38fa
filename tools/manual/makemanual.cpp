// Turns a manual written in HTML into the PDF that the Help menu opens.
// Runs at build time, without a display.
//
//   scoutrix-makemanual INPUT.html OUTPUT.pdf
//
// Pictures are looked up relative to the HTML file.

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMarginsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPdfWriter>
#include <QTextDocument>
#include <QTextStream>
#include <QUrl>

#include <cstdio>

int main(int argc, char *argv[])
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 3) {
        std::fprintf(stderr, "usage: scoutrix-makemanual INPUT.html OUTPUT.pdf\n");
        return 2;
    }

    QFile in(args.at(1));
    if (!in.open(QIODevice::ReadOnly)) {
        std::fprintf(stderr, "cannot read %s: %s\n", qPrintable(args.at(1)), qPrintable(in.errorString()));
        return 1;
    }
    const QString html = QString::fromUtf8(in.readAll());

    QPdfWriter writer(args.at(2));
    writer.setResolution(144);
    writer.setPageLayout(QPageLayout(QPageSize(QPageSize::A4), QPageLayout::Portrait,
                                     QMarginsF(18, 16, 18, 16), QPageLayout::Millimeter));
    writer.setCreator(QStringLiteral("Scoutrix"));

    QTextDocument doc;
    // Relative <img> sources resolve against the manual's own folder.
    doc.setMetaInformation(QTextDocument::DocumentUrl,
                           QUrl::fromLocalFile(QFileInfo(args.at(1)).absoluteFilePath()).toString());
    doc.setBaseUrl(QUrl::fromLocalFile(QFileInfo(args.at(1)).absolutePath() + QLatin1Char('/')));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPointSizeF(10.5);
    doc.setDefaultFont(font);
    doc.setHtml(html);
    writer.setTitle(doc.metaInformation(QTextDocument::DocumentTitle));
    doc.setPageSize(writer.pageLayout().paintRectPixels(writer.resolution()).size());
    doc.print(&writer);

    if (QFileInfo(args.at(2)).size() == 0) {
        std::fprintf(stderr, "no PDF written to %s\n", qPrintable(args.at(2)));
        return 1;
    }
    return 0;
}
