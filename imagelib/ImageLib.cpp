// The image library on real tools: mkfs.cramfs (util-linux), mkimage
// (u-boot-tools) and libzip. Every failure, of the tool or of its output,
// comes back as a non-zero result.

#include "ImageLib.h"

#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstring>

#include <zip.h>

#include "ToolRunner.h"

using scoutrix::imagelib::runTool;

namespace {

enum Result : int32_t {
    Done = 0,
    BadArgument = -1,
    ToolFailed = -2,
    NoOutput = -3,
    ZipError = -4,
};

// A path argument: present, terminated within its buffer, not empty.
bool pathArg(const char *text, QString &out)
{
    if (!text)
        return false;
    const std::size_t n = strnlen(text, IMAGELIB_PATH_SIZE);
    if (n == 0 || n == IMAGELIB_PATH_SIZE)
        return false;
    out = QFile::decodeName(QByteArray(text, int(n)));
    return true;
}

// A stale output must never pass for a fresh one.
bool clearOutput(const QString &path)
{
    return !QFileInfo::exists(path) || QFile::remove(path);
}

int32_t toolFailed(const scoutrix::imagelib::ToolRun &run)
{
    qWarning().noquote() << "imagelib:" << run.error << QString::fromLocal8Bit(run.output).trimmed();
    return ToolFailed;
}

} // namespace

extern "C" {

// The source is a folder, or a folder followed by "/*" or "\*" (its content),
// which for a file system image is the same thing.
int32_t MakeCramFS(const char *sourcePattern, const char *outputFile)
{
    QString source, output;
    if (!pathArg(sourcePattern, source) || !pathArg(outputFile, output))
        return BadArgument;
    if (source.endsWith(QLatin1String("/*")) || source.endsWith(QLatin1String("\\*")))
        source.chop(2);
    if (!QFileInfo(source).isDir() || !clearOutput(output))
        return BadArgument;
    // Little-endian whatever the PC: the devices' processors are.
    const auto run = runTool(QStringLiteral("mkfs.cramfs"), { QStringLiteral("-E"), QStringLiteral("-N"), QStringLiteral("little"),
                                                              QStringLiteral("-n"), QStringLiteral("logo"), source, output });
    if (!run.ok)
        return toolFailed(run);
    return QFileInfo(output).size() > 0 ? Done : NoOutput;
}

// A legacy image of type file system for the flash area start..end. Its entry
// point is never jumped to, so it carries the area's end: the header alone
// tells a receiver whether the image fits.
int32_t MakeImage(const char *inputImage, const char *outputImage, uint32_t startAddress, uint32_t endAddress)
{
    QString input, output;
    if (!pathArg(inputImage, input) || !pathArg(outputImage, output))
        return BadArgument;
    const QFileInfo in(input);
    if (!in.isFile() || in.size() == 0 || endAddress <= startAddress || !clearOutput(output))
        return BadArgument;
    const auto hex = [](uint32_t v) { return QStringLiteral("%1").arg(v, 8, 16, QLatin1Char('0')); };
    // Image names hold 32 bytes with their terminator.
    const QString name = in.fileName().left(31);
    const auto run = runTool(QStringLiteral("mkimage"),
                             { QStringLiteral("-A"), QStringLiteral("arm"), QStringLiteral("-O"), QStringLiteral("linux"),
                               QStringLiteral("-T"), QStringLiteral("filesystem"), QStringLiteral("-C"),
                               QStringLiteral("none"), QStringLiteral("-a"), hex(startAddress), QStringLiteral("-e"),
                               hex(endAddress), QStringLiteral("-n"), name, QStringLiteral("-d"), input, output });
    if (!run.ok)
        return toolFailed(run);
    // The legacy header is 64 bytes; anything else is a half-written image.
    return QFileInfo(output).size() == in.size() + 64 ? Done : NoOutput;
}

// The folder's files, by name, at the top of the archive; subfolders are not
// part of a package.
int32_t MakeZipFile(const char *folder, const char *outputZip)
{
    QString source, output;
    if (!pathArg(folder, source) || !pathArg(outputZip, output))
        return BadArgument;
    const QFileInfoList files = QDir(source).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
    if (!QFileInfo(source).isDir() || files.isEmpty() || !clearOutput(output))
        return BadArgument;
    int error = 0;
    zip_t *archive = zip_open(QFile::encodeName(output).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive) {
        qWarning() << "imagelib: zip_open" << output << "failed," << error;
        return ZipError;
    }
    for (const QFileInfo &file : files) {
        zip_source_t *src = zip_source_file(archive, QFile::encodeName(file.absoluteFilePath()).constData(), 0, -1);
        if (!src || zip_file_add(archive, file.fileName().toUtf8().constData(), src, ZIP_FL_ENC_UTF_8) < 0) {
            qWarning() << "imagelib: cannot add" << file.absoluteFilePath() << zip_strerror(archive);
            if (src)
                zip_source_free(src);
            zip_discard(archive);
            return ZipError;
        }
    }
    // The sources are read here; a file that vanished fails the close.
    if (zip_close(archive) != 0) {
        qWarning() << "imagelib: zip_close" << output << zip_strerror(archive);
        zip_discard(archive);
        return ZipError;
    }
    return QFileInfo(output).size() > 0 ? Done : NoOutput;
}

} // extern "C"
