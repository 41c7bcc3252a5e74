#pragma once

#include <QByteArray>

struct evp_md_ctx_st;

// SHA-256 through OpenSSL's libcrypto, fed in parts. The audit trail's chain, the samples' seals
// and the users' rows are checked with it; an auditor recomputes the same digests with sha256sum.
class Sha256
{
public:
    static constexpr int Size = 32;

    Sha256();
    ~Sha256();
    Sha256(const Sha256&) = delete;
    Sha256& operator=(const Sha256&) = delete;

    void add(const char* data, size_t size);
    void add(const QByteArray& data) { add(data.constData(), size_t(data.size())); }
    // The digest of everything added (32 bytes); the object starts afresh after it.
    QByteArray result();

    static QByteArray of(const QByteArray& data);
    // The digest as 64 lowercase hex digits, the form stored and printed.
    static QByteArray hexOf(const QByteArray& data) { return of(data).toHex(); }

private:
    evp_md_ctx_st* context;
};
