#ifndef KTKEYHASH_H
#define KTKEYHASH_H

#include <QString>

// The stored form of a user's key. A key is kept either as given (the
// installation's seed data and older databases) or as a salted PBKDF2-SHA256
// hash that names its own parameters:
//
//     pbkdf2-sha256$<rounds>$<salt, base64>$<hash, base64>
//
// so that the number of rounds can grow without invalidating stored keys.
class KTKeyHash
{
public:
    static constexpr int defaultRounds = 210000;
    static constexpr int maxRounds = 10000000;

    // A new hash of key with a fresh random salt; empty when no random bytes could be had.
    static QString hash(const QString& key, int rounds = defaultRounds);
    static bool isHashed(const QString& stored);
    // Whether key is the one stored, hashed or plain; compared in constant time.
    static bool matches(const QString& key, const QString& stored);
};

#endif
