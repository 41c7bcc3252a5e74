#include "verifycommand.h"

#include "auditverifier.h"
#include "projectfile.h"
#include "signaturecheck.h"
#include "userchaincheck.h"

#include <QFile>
#include <QFileInfo>
#include <QTextStream>

int VerifyCommand::run(const QString& projectPath, const QString& headsFile, QTextStream& out,
                       QTextStream& err, qint64 nowSeconds)
{
    if (!QFileInfo(projectPath).isFile()) {
        err << "Tallyforge: cannot read the project file " << projectPath << '\n';
        return 2;
    }
    return runOnDatabase(projectPath, ProjectFile::databasePath(projectPath), headsFile, out, err,
                         nowSeconds);
}

int VerifyCommand::runOnDatabase(const QString& projectPath, const QString& database,
                                 const QString& headsFile, QTextStream& out, QTextStream& err,
                                 qint64 nowSeconds)
{
    if (!QFileInfo(database).isFile()) {
        err << "Tallyforge: cannot read the database " << database << '\n';
        return 2;
    }
    AuditVerifier verifier;
    if (nowSeconds >= 0)
        verifier.setNow(nowSeconds);
    if (!headsFile.isEmpty()) {
        QFile file(headsFile);
        if (!file.open(QIODevice::ReadOnly)) {
            err << "Tallyforge: cannot read the heads file " << headsFile << ": "
                << file.errorString() << '\n';
            return 2;
        }
        verifier.setHeads(AuditVerifier::parseHeads(file.readAll()));
    }
    // The users table against the entries that recorded its rows (a row inserted or a hash
    // replaced with another program; an emptied table under access control).
    AuditVerifier::Check users;
    users.finish = [](SqliteHandle db, AuditVerifier::Result* result) {
        UserChainCheck check;
        QString error;
        if (!check.load(db, &error)) {
            result->findings << QStringLiteral("the users could not be read: ") + error;
            return;
        }
        result->checked << (check.accessControlOn()
                                ? QStringLiteral("Users: access control on, every row checked "
                                                 "against the audit trail")
                                : QStringLiteral("Users: access control off, every row checked "
                                                 "against the audit trail"));
        result->findings << check.findings();
    };
    verifier.addCheck(users);
    verifier.addCheck(SignatureCheck::make());
    AuditVerifier::Result result;
    QString error;
    if (!verifier.verify(database, &result, &error)) {
        err << "Tallyforge: cannot read the database " << database << ": " << error << '\n';
        return 2;
    }
    out << "Project: " << projectPath << '\n' << "Database: " << database << '\n';
    for (const QString& line : qAsConst(result.checked))
        out << line << '\n';
    for (const QString& finding : qAsConst(result.findings))
        out << "Finding: " << finding << '\n';
    if (result.holds())
        out << "Result: everything holds\n";
    else
        out << "Result: " << result.findings.size()
            << (result.findings.size() == 1 ? " finding" : " findings")
            << ": the records are not as they were written\n";
    out.flush();
    return result.holds() ? 0 : 1;
}
