#pragma once

#include <QByteArray>
#include <QtGlobal>

#include <map>
#include <memory>

struct sqlite3_stmt;
class Sha256;

// The digest of one quarter hour of samples, folded from its rows in any order of nodes but, for
// each node, in the order of their ids. Each row is one line of its five columns, encoded by
// their storage class and separated by single spaces:
//     id serialno pointDate channel1 channel2 "\n"
// an integer "i" and its decimal digits, a real "r" and the 16 lowercase hex digits of its
// IEEE 754 binary64 bits (most significant first), a text "t" and the hex digits of its UTF-8
// bytes, a blob "b" and the hex digits of its bytes, NULL "n". A node's digest is SHA-256 over
// its rows' lines; the quarter's digest is SHA-256 over one line per node holding rows, in the
// byte order of the encoded serial numbers:
//     encodedSerialno " " rowCount " " nodeDigest(64 lowercase hex digits) "\n"
// An empty quarter's digest is SHA-256 of nothing. The writer folds one quarter at a time, the
// verification every quarter in one pass over the table.
class SealDigest
{
public:
    SealDigest();
    ~SealDigest();
    SealDigest(SealDigest&&) noexcept;
    SealDigest& operator=(SealDigest&&) noexcept;

    // The row the statement stands on, its columns from `first` on in the order above.
    void addRow(sqlite3_stmt* row, int first = 0);

    qint64 rows() const { return rowCount; }
    // 64 lowercase hex digits; the digest starts afresh after it.
    QByteArray result();

    // The encoded value of a column (without the separating space).
    static void appendValue(QByteArray* out, sqlite3_stmt* row, int column);
    // Every column's quarter hour: pointDate's seconds divided by 900, rounded down. False for a
    // time that is not a number.
    static bool quarterOf(sqlite3_stmt* row, int column, qint64* quarter);

private:
    struct Node
    {
        std::unique_ptr<Sha256> hash;
        qint64 rows = 0;
    };
    std::map<QByteArray, Node> nodes; // by encoded serial number
    QByteArray line;
    QByteArray serial;
    qint64 rowCount = 0;
    // The node of the row before (its key in `nodes`): rows of one node often come together.
    const QByteArray* lastSerial = nullptr;
    Node* lastNode = nullptr;
};
