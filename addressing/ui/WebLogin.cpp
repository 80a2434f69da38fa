#include "WebLogin.h"

#include <QDesktopServices>

namespace WebLogin {

namespace {
Opener &opener()
{
    static Opener current;
    return current;
}
} // namespace

QString address(const QString &ipText)
{
    return QStringLiteral("http://") + QString::fromLatin1(ipText.toLatin1());
}

void open(const QString &ipText)
{
    const QUrl url(address(ipText), QUrl::StrictMode);
    if (opener())
        opener()(url);
    else
        QDesktopServices::openUrl(url);
}

void setOpener(Opener o)
{
    opener() = std::move(o);
}

} // namespace WebLogin
