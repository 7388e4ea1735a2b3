#pragma once
#include <QString>
#include <functional>
#include <optional>

// Passwords and tokens of outside services, by (service, account). The
// default is the desktop's secret service; tests use the in-memory store.
// Calls block the calling thread until the store answers.
struct SecretStore {
    static std::optional<QString> keychainGet(const QString &service, const QString &account);
    static bool keychainSet(const QString &service, const QString &account, const QString &secret);
    static bool keychainRemove(const QString &service, const QString &account);

    static inline std::function<std::optional<QString>(const QString &, const QString &)> get = &keychainGet;
    // Saving replaces any earlier secret of the same (service, account).
    static inline std::function<bool(const QString &, const QString &, const QString &)> set = &keychainSet;
    // True when nothing is stored under the pair afterwards.
    static inline std::function<bool(const QString &, const QString &)> remove = &keychainRemove;

    // Points the three hooks at a fresh process-local store (tests).
    static void useMemory();
    // Points them back at the desktop's secret service.
    static void useKeychain();
};
