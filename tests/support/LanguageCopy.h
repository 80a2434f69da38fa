#pragma once
// Points the text lookup at a private copy of the shipped language files, so
// a test that switches languages never touches the program's own.

#include <QFile>
#include <QTemporaryDir>

#include "AppPaths.h"
#include "CMultiLanguage.h"

namespace testsupport {

class LanguageCopy
{
public:
    // Call from initTestCase(); false when the copy could not be made.
    bool install()
    {
        AppPaths::enterProgramDir();
        if (!m_dir.isValid())
            return false;
        for (const char *name : {"language.ini", "Eng.ini", "Zh.ini"}) {
            if (!QFile::copy(QStringLiteral("Language/") + QLatin1String(name), m_dir.filePath(QLatin1String(name))))
                return false;
        }
        CMultiLanguage::setLanguageDir(m_dir.path());
        return true;
    }

private:
    QTemporaryDir m_dir;
};

} // namespace testsupport
