#include "passwordhash.h"

#include <QVector>

#include <sodium.h>

namespace {

bool ready()
{
    static const bool initialised = sodium_init() >= 0;
    return initialised;
}

} // namespace

PasswordHash::Cost PasswordHash::standard()
{
    return {4, size_t(128) * 1024 * 1024};
}

PasswordHash::Cost PasswordHash::least()
{
    return {crypto_pwhash_OPSLIMIT_MIN, crypto_pwhash_MEMLIMIT_MIN};
}

QString PasswordHash::problem(const QByteArray& utf8Password)
{
    if (utf8Password.size() > MaximumBytes)
        return QStringLiteral("The password is longer than %1 bytes.").arg(MaximumBytes);
    // Counted in characters a person types, not in bytes.
    if (QString::fromUtf8(utf8Password).toUcs4().size() < MinimumLength)
        return QStringLiteral("The password must have at least %1 characters.").arg(MinimumLength);
    return QString();
}

QByteArray PasswordHash::make(const QByteArray& utf8Password, Cost cost)
{
    char out[crypto_pwhash_STRBYTES];
    if (!ready() || crypto_pwhash_str(out, utf8Password.constData(),
                                      static_cast<unsigned long long>(utf8Password.size()),
                                      cost.operations, cost.memoryBytes) != 0)
        return QByteArray();
    return QByteArray(out);
}

bool PasswordHash::matches(const QByteArray& hash, const QByteArray& utf8Password)
{
    // A stored string that cannot be libsodium's is refused before it reaches it.
    if (hash.isEmpty() || hash.size() >= int(crypto_pwhash_STRBYTES) || hash.contains('\0') ||
        utf8Password.size() > MaximumBytes || !ready())
        return false;
    return crypto_pwhash_str_verify(hash.constData(), utf8Password.constData(),
                                    static_cast<unsigned long long>(utf8Password.size())) == 0;
}

void PasswordHash::wipe(QByteArray* secret)
{
    if (!secret->isEmpty())
        sodium_memzero(secret->data(), size_t(secret->size()));
    secret->clear();
}
