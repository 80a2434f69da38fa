#pragma once
// A page's child by object name; a missing one ends the test at once with
// its name rather than as a null pointer deep inside a check.

#include <QObject>
#include <QString>
#include <QtGlobal>

namespace testsupport {

template<typename T>
T *child(const QObject *parent, const char *name)
{
    T *found = parent->findChild<T *>(QString::fromLatin1(name));
    if (!found)
        qFatal("no widget %s", name);
    return found;
}

} // namespace testsupport
