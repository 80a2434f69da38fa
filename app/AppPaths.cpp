#include "AppPaths.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

namespace AppPaths {

QString programDir()
{
    return QCoreApplication::applicationDirPath();
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

} // namespace AppPaths
