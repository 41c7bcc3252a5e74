#include "sqliteprogram.h"

#include <QDebug>
#include <QProcess>

bool SqliteProgram::run(const QString& database, const QString& sql, QString* output)
{
    QProcess sqlite;
    sqlite.start(QStringLiteral("sqlite3"), {QStringLiteral("-bail"), database, sql});
    const bool ran = sqlite.waitForFinished(30000) && sqlite.exitStatus() == QProcess::NormalExit;
    const QString printed = QString::fromUtf8(sqlite.readAllStandardOutput()) +
                            QString::fromUtf8(sqlite.readAllStandardError());
    if (output)
        *output = printed;
    if (!ran || sqlite.exitCode() != 0) {
        qWarning().noquote() << "sqlite3:" << printed;
        return false;
    }
    return true;
}
