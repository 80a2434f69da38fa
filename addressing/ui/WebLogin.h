#pragma once
// Opens a device's own web page in the desktop's browser.

#include <QString>
#include <QUrl>

#include <functional>

namespace WebLogin {

// Exactly "http://" followed by the address text: no port, no path.
QString address(const QString &ipText);

// Opens the address; the outcome is not reported.
void open(const QString &ipText);

// Replaces the desktop call, for tests; an empty function restores it.
using Opener = std::function<void(const QUrl &)>;
void setOpener(Opener opener);

} // namespace WebLogin
