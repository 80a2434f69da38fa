#include "CMultiLanguage.h"

#include <QSettings>
#include <QTextCodec>

namespace {
QString &languageDirStorage()
{
    static QString dir = QStringLiteral("Language");
    return dir;
}

QString settingsPath(const QString &file)
{
    return languageDirStorage() + QLatin1Char('/') + file;
}
} // namespace

QTextCodec *CMultiLanguage::systemCodec()
{
#ifdef Q_OS_WIN
    if (QTextCodec *codec = QTextCodec::codecForName("System"))
        return codec;
#endif
    // Debian's ICU-based Qt has no "System" codec; the shipped files are UTF-8.
    return QTextCodec::codecForName("UTF-8");
}

void CMultiLanguage::setLanguageDir(const QString &dir) { languageDirStorage() = dir; }
QString CMultiLanguage::languageDir() { return languageDirStorage(); }

QString CMultiLanguage::languageName()
{
    QSettings settings(settingsPath(QStringLiteral("language.ini")), QSettings::IniFormat);
    settings.setIniCodec(systemCodec());
    return settings.value(QStringLiteral("Language/language")).toString();
}

void CMultiLanguage::setLanguageName(const QString &name)
{
    QSettings settings(settingsPath(QStringLiteral("language.ini")), QSettings::IniFormat);
    settings.setIniCodec(systemCodec());
    settings.setValue(QStringLiteral("Language/language"), name);
    settings.sync();
}

QString CMultiLanguage::text(const QString &key)
{
    // The empty key has no entry. A slash is the settings path separator: the
    // language file stores "Video/Audio" in its section as Video\Audio, which
    // the same path finds; a backslash in a key would be read as one.
    if (key.isEmpty() || key.contains(QLatin1Char('\\')))
        return key;
    const QString language = languageName();
    if (language.isEmpty() || language.contains(QLatin1Char('/')))
        return key;
    QSettings settings(settingsPath(language + QStringLiteral(".ini")), QSettings::IniFormat);
    settings.setIniCodec(systemCodec());
    const QString value = settings.value(language + QLatin1Char('/') + key).toString();
    return value.isEmpty() ? key : value;
}
