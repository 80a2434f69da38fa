#pragma once
// What the picture programs share: the program folder, a private copy of the
// language files (the program's own choice stays), and saving a window.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QWidget>

#include <cstdio>

#include "AppPaths.h"
#include "CMultiLanguage.h"

namespace shots {

// |lang| is "en" or "zh".
inline void useLanguage(const QString &lang)
{
    AppPaths::enterProgramDir();
    QDir tmp(QDir::temp().filePath(QStringLiteral("scoutrix-shots")));
    tmp.mkpath(QStringLiteral("."));
    for (const char *f : { "Eng.ini", "Zh.ini" }) {
        tmp.remove(QString::fromLatin1(f));
        QFile::copy(QStringLiteral("Language/") + f, tmp.filePath(QString::fromLatin1(f)));
    }
    CMultiLanguage::setLanguageDir(tmp.path());
    CMultiLanguage::setLanguageName(lang == QLatin1String("zh") ? QStringLiteral("Zh") : QStringLiteral("Eng"));
}

inline bool save(QWidget &w, const QString &path)
{
    w.show();
    QApplication::processEvents();
    const bool ok = w.grab().save(path);
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", qPrintable(path));
    return ok;
}

} // namespace shots
