#include "LogoBuilder.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDebug>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTextCodec>

#include <cstdio>

#include <nlohmann/json.hpp>

#include "ImageLib.h"
#include "LogoBoards.h"
#include "ToolRunner.h"

// Marks language keys for the language-file check, as the window's code does.
#ifndef LANG_KEY
#define LANG_KEY(key) key
#endif

namespace scoutrix {

namespace {

firmware::LogoFileSystem fileSystemOf(LogoFormat format)
{
    return format == LogoFormat::Squashfs ? firmware::LogoFileSystem::Squashfs : firmware::LogoFileSystem::Cramfs;
}

// Device texts carry no declared encoding: kept as they are when they are
// UTF-8, else read as Latin-1, so every byte survives into the JSON text.
std::string utf8Text(const std::string &bytes)
{
    QTextCodec::ConverterState state(QTextCodec::ConvertInvalidToNull);
    QTextCodec::codecForMib(106)->toUnicode(bytes.data(), int(bytes.size()), &state);
    if (state.invalidChars == 0 && state.remainingChars == 0)
        return bytes;
    return QString::fromLatin1(bytes.data(), int(bytes.size())).toUtf8().toStdString();
}

// The devices read a styled layout: " : " between key and value, one tab per
// level, and an array's objects at the array's own level. Strings go through
// the JSON library's escaping.
void writeStyled(const nlohmann::ordered_json &value, int level, std::string &out)
{
    const std::string indent(std::size_t(level), '\t');
    if (value.is_object()) {
        out += "{\n";
        bool first = true;
        for (auto it = value.begin(); it != value.end(); ++it) {
            if (!first)
                out += ",\n";
            first = false;
            out += indent + '\t' + nlohmann::ordered_json(it.key()).dump() + " : ";
            writeStyled(it.value(), level + 1, out);
        }
        out += '\n' + indent + '}';
    } else if (value.is_array()) {
        out += "[\n";
        bool first = true;
        for (const auto &element : value) {
            if (!first)
                out += ",\n";
            first = false;
            out += indent;
            writeStyled(element, level, out);
        }
        out += '\n' + indent + ']';
    } else {
        out += value.dump();
    }
}

QString sha256Of(QFile &file)
{
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return QString();
    return QString::fromLatin1(hash.result().toHex());
}

// Working folders of builds that died are dropped after a day; a live build
// is never that old.
void dropStaleWorkFolders(const QString &workRoot)
{
    const QDateTime limit = QDateTime::currentDateTimeUtc().addDays(-1);
    const QFileInfoList old = QDir(workRoot).entryInfoList({ QStringLiteral("build-*") }, QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QFileInfo &dir : old) {
        if (dir.lastModified().toUTC() < limit)
            QDir(dir.absoluteFilePath()).removeRecursively();
    }
}

// Puts a finished file into the cache in one step, so a concurrent build sees
// either nothing or the whole file.
bool publish(const QString &from, const QString &to)
{
    return std::rename(QFile::encodeName(from).constData(), QFile::encodeName(to).constData()) == 0;
}

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

LogoResult failure(int code, const char *why, const QString &detail = QString())
{
    qWarning().noquote() << "LogoBuilder:" << why << detail;
    LogoResult r;
    r.code = code;
    r.messageKey = LogoBuilder::messageKey(code);
    return r;
}

} // namespace

int LogoBuilder::pictureType(const QString &path)
{
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("jpg"))
        return 1;
    if (suffix == QLatin1String("bmp"))
        return 2;
    if (suffix == QLatin1String("gif"))
        return 3;
    return 0;
}

// The board rules are the ones the emulated devices check packages by.
LogoFormat LogoBuilder::chooseFormat(const HardwareRecord &hw)
{
    return firmware::logoFileSystemOf(hw.hardwareName()) == firmware::LogoFileSystem::Squashfs ? LogoFormat::Squashfs
                                                                                                : LogoFormat::Cramfs;
}

QString LogoBuilder::formatWord(LogoFormat format)
{
    return QString::fromLatin1(firmware::logoFileSystemName(fileSystemOf(format)));
}

LogoArea LogoBuilder::area(const HardwareRecord &hw, LogoFormat format)
{
    const firmware::LogoArea a
        = firmware::logoAreaOf(hw.hardwareName(), fileSystemOf(format), hw.areaStart(), hw.areaEnd());
    return { a.start, a.end };
}

QByteArray LogoBuilder::installDescription(const HardwareRecord &hw, LogoFormat format)
{
    nlohmann::ordered_json desc;
    desc["UpgradeCommand"] = nlohmann::ordered_json::array(
        { { { "Command", "Burn" }, { "FileName", "logo-x." + formatWord(format).toStdString() + ".img" } } });
    desc["Hardware"] = utf8Text(hw.hardwareName());
    desc["Vendor"] = utf8Text(hw.vendorText());
    const std::string version = hw.versionText();
    if (!version.empty())
        desc["Version"] = utf8Text(version);
    std::string text;
    writeStyled(desc, 0, text);
    text += '\n';
    return QByteArray::fromStdString(text);
}

int LogoBuilder::checkSize(qint64 imageBytes, const LogoArea &area)
{
    return area.valid() && imageBytes >= 0 && quint64(imageBytes) <= area.size() ? Ok : OverSize;
}

QString LogoBuilder::messageKey(int code)
{
    switch (code) {
    case Ok:
        return QString();
    case BadPictureType:
        return QString::fromLatin1(LANG_KEY("Upgrade.LogoBadPicture"));
    case OverSize:
        return QString::fromLatin1(LANG_KEY("Upgrade.OverSize"));
    case SquashfsFailed:
        return QString::fromLatin1(LANG_KEY("Failed in mksquashfs!"));
    case CramfsFailed:
        return QString::fromLatin1(LANG_KEY("Upgrade.LogoCramfsFailed"));
    case ImageFailed:
        return QString::fromLatin1(LANG_KEY("Upgrade.LogoImageFailed"));
    case ZipFailed:
        return QString::fromLatin1(LANG_KEY("Upgrade.LogoZipFailed"));
    case BadArea:
        return QString::fromLatin1(LANG_KEY("Upgrade.LogoBadArea"));
    default:
        return QString::fromLatin1(LANG_KEY("Upgrade.LogoFileError"));
    }
}

QString LogoBuilder::defaultCacheDir()
{
    const QString overridden = qEnvironmentVariable("SCOUTRIX_CACHE_DIR");
    if (!overridden.isEmpty())
        return overridden + QStringLiteral("/logo");
    return QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation) + QStringLiteral("/Scoutrix/logo");
}

LogoBuilder::LogoBuilder(const QString &cacheDir)
    : m_cacheDir(QDir(cacheDir).absolutePath())
{
}

LogoResult LogoBuilder::build(const QString &picture, const HardwareRecord &hw, const QString &outputPath) const
{
    const int type = pictureType(picture);
    if (type == 0)
        return failure(BadPictureType, "not a logo picture:", picture);
    const QString extension = QFileInfo(picture).suffix().toLower();
    const LogoFormat format = chooseFormat(hw);
    const QString word = formatWord(format);
    const LogoArea logoArea = area(hw, format);
    if (!logoArea.valid())
        return failure(BadArea, "area ends before it starts for", QString::fromStdString(hw.hardwareName()));

    QFile source(picture);
    if (!source.open(QIODevice::ReadOnly))
        return failure(FileError, "cannot read", picture);
    const QString pictureHash = sha256Of(source);
    if (pictureHash.isEmpty())
        return failure(FileError, "cannot read", picture);

    const QString fsRoot = m_cacheDir + QStringLiteral("/fs");
    const QString workRoot = m_cacheDir + QStringLiteral("/work");
    const QString packageRoot = m_cacheDir + QStringLiteral("/packages");
    if (!QDir().mkpath(fsRoot) || !QDir().mkpath(workRoot) || !QDir().mkpath(packageRoot))
        return failure(FileError, "cannot make the cache in", m_cacheDir);
    dropStaleWorkFolders(workRoot);
    QTemporaryDir work(workRoot + QStringLiteral("/build-XXXXXX"));
    if (!work.isValid())
        return failure(FileError, "cannot make a working folder in", workRoot);
    const QString logoDir = work.path() + QStringLiteral("/Logo");
    const QString imageDir = work.path() + QStringLiteral("/Image");
    const QString tmpDir = work.path() + QStringLiteral("/LogoTmp");
    if (!QDir().mkpath(logoDir) || !QDir().mkpath(imageDir) || !QDir().mkpath(tmpDir))
        return failure(FileError, "cannot fill the working folder", work.path());
    const QString logoFile = logoDir + QStringLiteral("/bmp_logo.") + extension;
    if (!QFile::copy(picture, logoFile))
        return failure(FileError, "cannot copy the picture to", logoFile);

    // The file system depends only on the picture's bytes, the name it gets
    // inside and the format; another device of the same format reuses it.
    const QString fsImage
        = fsRoot + QLatin1Char('/') + pictureHash.left(40) + QLatin1Char('.') + extension + QLatin1Char('.') + word;
    qDebug().noquote() << "strOutCramfs" << fsImage << "strLogoFile" << logoFile;
    if (QFileInfo(fsImage).size() <= 0) {
        const QString fresh = tmpDir + QStringLiteral("/logo-x.") + word;
        if (format == LogoFormat::Squashfs) {
            // -noappend: an old file in the way is replaced, never extended.
            const auto run = imagelib::runTool(
                QStringLiteral("mksquashfs"),
                { logoDir, fresh, QStringLiteral("-b"), QStringLiteral("256k"), QStringLiteral("-comp"), QStringLiteral("xz"),
                  QStringLiteral("-noappend"), QStringLiteral("-all-root"), QStringLiteral("-no-progress") });
            if (!run.ok || QFileInfo(fresh).size() <= 0)
                return failure(SquashfsFailed, "mksquashfs:", run.error + QLatin1Char(' ') + QString::fromLocal8Bit(run.output));
        } else if (MakeCramFS(QFile::encodeName(logoDir + QStringLiteral("/*")).constData(),
                              QFile::encodeName(fresh).constData())
                   != 0) {
            return failure(CramfsFailed, "MakeCramFS failed for", logoDir);
        }
        if (!publish(fresh, fsImage))
            return failure(FileError, "cannot put the file system into", fsImage);
    }

    // Under its package name, which the image header carries.
    const QString namedFs = tmpDir + QStringLiteral("/logo-x.") + word;
    if (!QFile::copy(fsImage, namedFs))
        return failure(FileError, "cannot copy the file system to", namedFs);
    const QString flashImage = imageDir + QStringLiteral("/logo-x.") + word + QStringLiteral(".img");
    if (MakeImage(QFile::encodeName(namedFs).constData(), QFile::encodeName(flashImage).constData(), logoArea.start,
                  logoArea.end)
        != 0)
        return failure(ImageFailed, "MakeImage failed for", namedFs);
    // Refused before a package exists, so nothing too large can be sent.
    const qint64 imageBytes = QFileInfo(flashImage).size();
    if (checkSize(imageBytes, logoArea) != Ok)
        return failure(OverSize, "image larger than its area:",
                       QStringLiteral("%1 > %2 bytes").arg(imageBytes).arg(logoArea.size()));

    const QByteArray desc = installDescription(hw, format);
    if (!writeFile(imageDir + QStringLiteral("/InstallDesc"), desc))
        return failure(FileError, "cannot write the install description in", imageDir);
    const QString zipFile = work.path() + QStringLiteral("/Logo.bin");
    if (MakeZipFile(QFile::encodeName(imageDir).constData(), QFile::encodeName(zipFile).constData()) != 0)
        return failure(ZipFailed, "MakeZipFile failed for", imageDir);

    QString package = outputPath;
    if (package.isEmpty()) {
        // One package per picture and device kind: a batch of one model
        // shares it, and the cache does not grow with every build.
        QCryptographicHash key(QCryptographicHash::Sha256);
        key.addData(fsImage.toUtf8());
        key.addData(desc);
        key.addData(QByteArray::number(logoArea.start) + ':' + QByteArray::number(logoArea.end));
        package = packageRoot + QStringLiteral("/Logo-") + QString::fromLatin1(key.result().toHex().left(24))
            + QStringLiteral(".bin");
        if (!publish(zipFile, package))
            return failure(FileError, "cannot put the package into", package);
    } else {
        QFile zip(zipFile);
        if (!zip.open(QIODevice::ReadOnly) || !writeFile(package, zip.readAll()))
            return failure(FileError, "cannot write the package to", package);
    }
    LogoResult result;
    result.packagePath = QFileInfo(package).absoluteFilePath();
    return result;
}

} // namespace scoutrix
