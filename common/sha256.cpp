#include "sha256.h"

#include <QtGlobal>

#include <openssl/evp.h>

// OpenSSL's libcrypto rather than libsodium: its SHA-256 uses the processor's SHA instructions
// where there are any, six times libsodium's portable code here, and a verification hashes
// every sample row of a project (gigabytes).

Sha256::Sha256() : context(EVP_MD_CTX_new())
{
    if (!context || EVP_DigestInit_ex(context, EVP_sha256(), nullptr) != 1)
        qFatal("SHA-256 cannot be computed: out of memory");
}

Sha256::~Sha256()
{
    // Cleansed on the way out.
    EVP_MD_CTX_free(context);
}

void Sha256::add(const char* data, size_t size)
{
    EVP_DigestUpdate(context, data, size);
}

QByteArray Sha256::result()
{
    QByteArray digest(Size, '\0');
    unsigned int length = 0;
    EVP_DigestFinal_ex(context, reinterpret_cast<unsigned char*>(digest.data()), &length);
    EVP_DigestInit_ex(context, EVP_sha256(), nullptr);
    return digest;
}

QByteArray Sha256::of(const QByteArray& data)
{
    Sha256 hash;
    hash.add(data);
    return hash.result();
}
