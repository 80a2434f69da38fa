#pragma once
// Turns a picture into a boot-logo upgrade package for one device: the
// picture in a squashfs or cramfs file system, wrapped into a flash image for
// the device's logo area, zipped with its install description.
//
// Plain Qt Core, no widgets: build() runs on a worker thread and returns a
// code and a message key; the caller shows the message on the GUI thread.
// Builds may run at the same time: each has a working folder of its own, and
// finished file systems and packages enter the cache by an atomic rename.

#include <QByteArray>
#include <QString>

#include <cstdint>

#include "ConfigRecords.h"

namespace scoutrix {

enum class LogoFormat { Squashfs, Cramfs };

// Flash area of the logo image, end exclusive.
struct LogoArea
{
    uint32_t start = 0;
    uint32_t end = 0;
    bool valid() const { return end > start; }
    uint32_t size() const { return valid() ? end - start : 0; }
    bool operator==(const LogoArea &o) const { return start == o.start && end == o.end; }
};

struct LogoResult
{
    int code = 0; // LogoBuilder::Code
    QString packagePath; // set when code is Ok
    QString messageKey; // language key of the text to show; empty for Ok
    bool ok() const { return code == 0; }
};

class LogoBuilder
{
public:
    enum Code {
        Ok = 0,
        BadPictureType = -1, // not a .jpg, .bmp or .gif
        OverSize = -2, // the flash image is larger than its area
        SquashfsFailed = -3, // mksquashfs missing, failed or wrote nothing
        FileError = -4, // picture unreadable, cache or package not writable
        CramfsFailed = -5,
        ImageFailed = -6, // mkimage missing or failed
        ZipFailed = -7,
        BadArea = -8, // the record's area ends before it starts
    };

    // Picture types as the upgrade page numbers them: 1 .jpg, 2 .bmp, 3 .gif,
    // 0 for anything else. Judged by the file's suffix, case-insensitively.
    static int pictureType(const QString &path);
    static LogoFormat chooseFormat(const HardwareRecord &hw);
    static QString formatWord(LogoFormat format); // "squashfs" or "cramfs"
    static LogoArea area(const HardwareRecord &hw, LogoFormat format);
    // The install description's exact bytes (UTF-8, trailing line feed).
    static QByteArray installDescription(const HardwareRecord &hw, LogoFormat format);
    // Ok when an image of imageBytes fits the area, else OverSize.
    static int checkSize(qint64 imageBytes, const LogoArea &area);
    // The language key shown for a code; empty for Ok.
    static QString messageKey(int code);

    // The per-user cache: $SCOUTRIX_CACHE_DIR/logo when set, else the
    // user's generic cache folder + "/Scoutrix/logo".
    static QString defaultCacheDir();

    explicit LogoBuilder(const QString &cacheDir = defaultCacheDir());

    // Builds the package for the device; on success packagePath names it, a
    // file in the cache that stays until a build for the same picture and
    // device replaces it with the same bytes. When outputPath is given the
    // package is written there instead.
    LogoResult build(const QString &picture, const HardwareRecord &hw,
                     const QString &outputPath = QString()) const;

    QString cacheDir() const { return m_cacheDir; }

private:
    QString m_cacheDir;
};

} // namespace scoutrix
