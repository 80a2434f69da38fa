#include "ToolRunner.h"

#include <QProcess>
#include <QStandardPaths>

namespace scoutrix::imagelib {

QString findTool(const QString &name)
{
    const QString onPath = QStandardPaths::findExecutable(name);
    if (!onPath.isEmpty())
        return onPath;
    // Only when PATH has no such tool at all: a PATH that is set but lacks
    // sbin still finds the system's copy.
    return QStandardPaths::findExecutable(
        name, { QStringLiteral("/usr/local/sbin"), QStringLiteral("/usr/sbin"), QStringLiteral("/sbin") });
}

ToolRun runTool(const QString &name, const QStringList &arguments, int timeoutMs)
{
    ToolRun run;
    const QString program = findTool(name);
    if (program.isEmpty()) {
        run.error = name + QStringLiteral(" not found");
        return run;
    }
    QProcess process;
    process.setProgram(program);
    process.setArguments(arguments);
    process.setProcessChannelMode(QProcess::MergedChannels);
    process.setStandardInputFile(QProcess::nullDevice());
    process.start();
    if (!process.waitForStarted(timeoutMs)) {
        run.error = name + QStringLiteral(" did not start: ") + process.errorString();
        return run;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished(5000);
        run.output = process.readAll();
        run.error = name + QStringLiteral(" did not finish in %1 ms").arg(timeoutMs);
        return run;
    }
    run.output = process.readAll();
    if (process.exitStatus() != QProcess::NormalExit) {
        run.error = name + QStringLiteral(" crashed");
        return run;
    }
    if (process.exitCode() != 0) {
        run.error = name + QStringLiteral(" exited with %1").arg(process.exitCode());
        return run;
    }
    run.ok = true;
    return run;
}

} // namespace scoutrix::imagelib
