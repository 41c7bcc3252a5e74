#pragma once

#include <QByteArray>
#include <QString>

#include <cstddef>

// Passwords hashed with Argon2id (libsodium's crypto_pwhash_str): the stored string carries its
// salt and parameters, so a hash made with other parameters still verifies. Passwords are
// only ever held in QByteArrays the caller wipes (wipe()); they are never stored, traced or
// printed.
class PasswordHash
{
public:
    struct Cost
    {
        unsigned long long operations;
        size_t memoryBytes;
    };
    // 4 passes over 128 MiB: a check takes about 0.26-0.36 s on the recorder's computers
    // (bench_signin), slow for a guesser, quick enough for a person.
    static Cost standard();
    // libsodium's least: for tests that make many hashes, never for a project's users.
    static Cost least();

    // At least 10 characters: the hash travels with the project's files, so a copy can be
    // attacked offline; with the cost above, 10 characters from a large set are out of reach.
    static constexpr int MinimumLength = 10;
    // Longer input is refused before it is hashed.
    static constexpr int MaximumBytes = 1024;
    // Empty when the password is fit; otherwise the reason, for the person to read.
    static QString problem(const QByteArray& utf8Password);

    // The Argon2id string; empty when libsodium fails (out of memory).
    static QByteArray make(const QByteArray& utf8Password, Cost cost = standard());
    static bool matches(const QByteArray& hash, const QByteArray& utf8Password);

    // Overwrites the bytes before they are freed.
    static void wipe(QByteArray* secret);
};
