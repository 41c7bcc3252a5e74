#include "sha256.h"

#include <sodium.h>

static_assert(sizeof(crypto_hash_sha256_state) <= 128, "SHA-256 state larger than its room");

namespace {

crypto_hash_sha256_state* stateOf(unsigned char* room)
{
    return reinterpret_cast<crypto_hash_sha256_state*>(room);
}

} // namespace

Sha256::Sha256()
{
    // sodium_init() picks the fastest implementations; it may run repeatedly and from several
    // threads. SHA-256 has a portable one that needs no initialisation, so a failure only
    // leaves that one.
    static const bool initialised = sodium_init() >= 0;
    Q_UNUSED(initialised)
    crypto_hash_sha256_init(stateOf(state));
}

Sha256::~Sha256()
{
    sodium_memzero(state, sizeof state);
}

void Sha256::add(const char* data, size_t size)
{
    crypto_hash_sha256_update(stateOf(state), reinterpret_cast<const unsigned char*>(data), size);
}

QByteArray Sha256::result()
{
    QByteArray digest(Size, '\0');
    crypto_hash_sha256_final(stateOf(state), reinterpret_cast<unsigned char*>(digest.data()));
    crypto_hash_sha256_init(stateOf(state));
    return digest;
}

QByteArray Sha256::of(const QByteArray& data)
{
    Sha256 hash;
    hash.add(data);
    return hash.result();
}
