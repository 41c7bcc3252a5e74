// The time of a sign-in with the passwords' standard Argon2id cost: the bare password check
// (the baseline) and the whole sign-in (the users' check against the audit trail, the check,
// the entry written) in the same run. The cost is meant to give 0.2-0.5 s a check.

#include "immediatetransaction.h"
#include "passwordhash.h"
#include "sqliteconnection.h"
#include "userdirectory.h"
#include "usertable.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

struct Figures
{
    QVector<double> seconds;
    QString text() const
    {
        QVector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        return QStringLiteral("min %1 s, median %2 s, max %3 s (%4 runs)")
            .arg(sorted.first(), 0, 'f', 3)
            .arg(sorted.at(sorted.size() / 2), 0, 'f', 3)
            .arg(sorted.last(), 0, 'f', 3)
            .arg(sorted.size());
    }
};

// The thread's processor time: on a computer shared with other work the wall time grows with
// the load, this does not (much), so both are printed.
double threadSeconds()
{
    timespec t = {};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    const int runs = argc > 1 ? qBound(1, atoi(argv[1]), 100) : 9;
    QTextStream out(stdout);
    QTemporaryDir dir;
    const QString database = dir.filePath(QStringLiteral("bench.dat"));
    QFile file(database);
    if (!file.open(QIODevice::WriteOnly))
        return 1;
    file.close();
    SqliteConnection connection;
    QString error;
    if (!UserTable::open(&connection, database, 5000, &error)) {
        out << "cannot open: " << error << '\n';
        return 1;
    }
    UserDirectory users(connection.get());
    const QByteArray password = "bench-password-1";
    const PasswordHash::Cost cost = PasswordHash::standard();
    out << "Argon2id cost: " << cost.operations << " passes, " << (cost.memoryBytes >> 20)
        << " MiB\n";
    QElapsedTimer timer;
    timer.start();
    if (!users.add(QStringLiteral("bench"), QStringLiteral("anna"),
                   AccessPolicy::Role::Administrator, password, QString(), &error)) {
        out << "cannot add: " << error << '\n';
        return 1;
    }
    out << "adding a user (one hash): " << QString::number(timer.nsecsElapsed() / 1e9, 'f', 3)
        << " s\n";
    std::optional<UserRecord> row;
    UserTable::find(connection.get(), QStringLiteral("anna"), &row, &error);

    Figures bare, signIn, signInProcessor;
    for (int i = 0; i < runs; ++i) {
        timer.restart();
        const bool matched = PasswordHash::matches(row->passwordHash, password);
        bare.seconds << timer.nsecsElapsed() / 1e9;
        timer.restart();
        const double processorBefore = threadSeconds();
        const auto result = users.signIn(QStringLiteral("anna"), password);
        signIn.seconds << timer.nsecsElapsed() / 1e9;
        signInProcessor.seconds << threadSeconds() - processorBefore;
        if (!matched || result.outcome != UserDirectory::SignInResult::SignedIn) {
            out << "sign-in failed: " << result.message << '\n';
            return 1;
        }
    }
    out << "password check (baseline): " << bare.text() << '\n';
    out << "sign-in:                   " << signIn.text() << '\n';
    out << "sign-in, processor time:   " << signInProcessor.text() << '\n';

    // Years of use: the trail holds many entries about the users before the sign-in checks them.
    constexpr int Recorded = 20000;
    const bool filled = ImmediateTransaction::run(
        connection.get(),
        [&](QString* fillError) {
            for (int i = 0; i < Recorded; ++i) {
                UserChange change;
                change.row = *row;
                change.entry.user = QStringLiteral("anna");
                change.entry.action = QStringLiteral("signed in");
                change.entry.object = QStringLiteral("anna");
                change.entry.newValue = row->role;
                if (!UserTable::apply(connection.get(), &change, fillError))
                    return false;
            }
            return true;
        },
        &error);
    if (!filled) {
        out << "cannot fill the trail: " << error << '\n';
        return 1;
    }
    Figures later;
    for (int i = 0; i < runs; ++i) {
        timer.restart();
        const auto result = users.signIn(QStringLiteral("anna"), password);
        later.seconds << timer.nsecsElapsed() / 1e9;
        if (result.outcome != UserDirectory::SignInResult::SignedIn)
            return 1;
    }
    out << "sign-in after " << Recorded << " user entries: " << later.text() << '\n';
    return 0;
}
