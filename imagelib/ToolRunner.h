#pragma once
// Runs the packing tools as processes: the program and an argument list, no
// shell, so no path or device text is ever parsed as a command line.

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace scoutrix::imagelib {

struct ToolRun
{
    bool ok = false; // started, ended by itself, exit status 0
    QString error; // why not, for the debug stream
    QByteArray output; // standard output and error, merged
};

// The tool's path: PATH first, then the system folders (mkfs.cramfs lives in
// sbin, which an ordinary user's PATH often lacks). Empty when not found.
QString findTool(const QString &name);

// Runs the tool and waits for it; a run that outlasts timeoutMs is killed
// and fails.
ToolRun runTool(const QString &name, const QStringList &arguments, int timeoutMs = 120000);

} // namespace scoutrix::imagelib
