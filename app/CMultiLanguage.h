#pragma once
// Text lookup by key. The key is the English text itself or a dotted name
// ("Config.Save"); when the current language has no text for it, the key is
// shown. Both INI files are read at every lookup, so a language switch needs
// no cache invalidation.

#include <QString>

class QTextCodec;

// Marks a literal as a language key where it is not passed straight to
// CMultiLanguage::text (tables of keys). The language-file test collects
// both forms from the sources.
#define LANG_KEY(key) key

class CMultiLanguage
{
public:
    static QString text(const QString &key);

    // The value of "language" in section "Language" of Language/language.ini.
    static QString languageName();
    static void setLanguageName(const QString &name);
    static bool isChinese() { return languageName() == QLatin1String("Zh"); }

    // The 8-bit code page the language files are written in.
    static QTextCodec *systemCodec();

    // Directory holding language.ini and the text files; relative to the
    // current directory unless a test points it elsewhere.
    static void setLanguageDir(const QString &dir);
    static QString languageDir();
};
