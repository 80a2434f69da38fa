#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace AppPaths {

QString programDir()
{
    if (QCoreApplication::instance())
        return QCoreApplication::applicationDirPath();
    // Command-line tools run without an application object.
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath().section(QLatin1Char('/'), 0, -2);
}

void enterProgramDir()
{
    QDir::setCurrent(programDir());
}

QString readStyleSheet(const QString &fileName)
{
    QFile file(programDir() + QStringLiteral("/QSS/") + fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    return QString::fromUtf8(file.readAll());
}

QString lineEditStyleSheet()
{
    return QStringLiteral(
        "QLineEdit:!focus{border-radius: 3px ;border: 1px  solid rgba(178, 178, 178,50);"
        "background-color: rgba(225, 225, 225, 0);}QLineEdit:focus{border-radius: 3px ;"
        "border: 1px  solid rgba(178, 178, 178,50);background-color: rgba(255, 255, 255, 0);}");
}

} // namespace AppPaths
