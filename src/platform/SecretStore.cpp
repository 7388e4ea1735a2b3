#include "platform/SecretStore.h"

#include <QEventLoop>
#include <QMap>
#include <QMutex>
#include <QPair>
#include <memory>
#include <qt6keychain/keychain.h>

namespace {

// Runs a keychain job to its end on the calling thread.
template <typename Job>
bool runJob(Job &job)
{
    QEventLoop loop;
    QObject::connect(&job, &QKeychain::Job::finished, &loop, &QEventLoop::quit);
    job.setAutoDelete(false);
    job.start();
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return job.error() == QKeychain::NoError;
}

} // namespace

std::optional<QString> SecretStore::keychainGet(const QString &service, const QString &account)
{
    QKeychain::ReadPasswordJob job(service);
    job.setKey(account);
    if (!runJob(job))
        return std::nullopt;
    return job.textData();
}

bool SecretStore::keychainSet(const QString &service, const QString &account, const QString &secret)
{
    keychainRemove(service, account);
    QKeychain::WritePasswordJob job(service);
    job.setKey(account);
    job.setTextData(secret);
    return runJob(job);
}

bool SecretStore::keychainRemove(const QString &service, const QString &account)
{
    QKeychain::DeletePasswordJob job(service);
    job.setKey(account);
    runJob(job);
    return job.error() == QKeychain::NoError || job.error() == QKeychain::EntryNotFound;
}

void SecretStore::useMemory()
{
    struct Memory {
        QMutex lock;
        QMap<QPair<QString, QString>, QString> items;
    };
    auto mem = std::make_shared<Memory>();
    get = [mem](const QString &s, const QString &a) -> std::optional<QString> {
        QMutexLocker l(&mem->lock);
        auto it = mem->items.constFind({s, a});
        if (it == mem->items.cend())
            return std::nullopt;
        return *it;
    };
    set = [mem](const QString &s, const QString &a, const QString &v) {
        QMutexLocker l(&mem->lock);
        mem->items.insert({s, a}, v);
        return true;
    };
    remove = [mem](const QString &s, const QString &a) {
        QMutexLocker l(&mem->lock);
        mem->items.remove({s, a});
        return true;
    };
}

void SecretStore::useKeychain()
{
    get = &keychainGet;
    set = &keychainSet;
    remove = &keychainRemove;
}
