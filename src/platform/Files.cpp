#include "platform/Files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <random>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace Files {

namespace {

bool writeFully(int fd, const QByteArray &data)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        ssize_t n = ::write(fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        p += n;
        left -= n;
    }
    return true;
}

QByteArray randomSuffix()
{
    static thread_local std::mt19937_64 rng{std::random_device{}()};
    return QByteArray::number(qulonglong(rng()), 36);
}

} // namespace

bool writeAtomic(const QString &path, const QByteArray &data, mode_t mode)
{
    const QFileInfo info(path);
    const QByteArray dir = QFile::encodeName(info.absolutePath());
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());

    int fd = -1;
    QByteArray tmp;
    for (int attempt = 0; attempt < 16 && fd < 0; ++attempt) {
        tmp = dir + "/." + QFile::encodeName(info.fileName()) + ".tmp-" + randomSuffix();
        fd = ::open(tmp.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777);
        if (fd < 0 && errno != EEXIST)
            return false;
    }
    if (fd < 0)
        return false;

    // The umask may have narrowed the mode; set exactly what was asked.
    bool ok = ::fchmod(fd, mode & 0777) == 0 && writeFully(fd, data) && ::fsync(fd) == 0;
    ok = (::close(fd) == 0) && ok;
    if (!ok || ::rename(tmp.constData(), target.constData()) != 0) {
        ::unlink(tmp.constData());
        return false;
    }
    // Make the rename itself durable.
    int dfd = ::open(dir.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd >= 0) {
        ::fsync(dfd);
        ::close(dfd);
    }
    return true;
}

bool isAtomicTemp(const QString &fileName)
{
    if (!fileName.startsWith(QLatin1Char('.')))
        return false;
    const qsizetype at = fileName.lastIndexOf(QLatin1String(".tmp-"));
    if (at <= 1)
        return false;
    const QStringView suffix = QStringView(fileName).mid(at + 5);
    if (suffix.isEmpty() || suffix.size() > 13)
        return false;
    for (const QChar c : suffix)
        if (!(c.isDigit() || (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
            return false;
    return true;
}

bool writeAtomicMakingFolder(const QString &path, const QByteArray &data, mode_t mode)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    return writeAtomic(path, data, mode);
}

std::optional<QByteArray> readAll(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        return std::nullopt;
    return f.readAll();
}

Regular::~Regular()
{
    if (fd >= 0)
        ::close(fd);
}

void openRegular(const QString &path, Regular &out)
{
    const QByteArray name = QFile::encodeName(path);
    int fd;
    do
        fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    while (fd < 0 && errno == EINTR);
    if (fd < 0)
        return;
    out.fd = fd;
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        out.outcome = Regular::Outcome::NotRegular;
        return;
    }
    out.outcome = Regular::Outcome::Ok;
    out.size = qint64(st.st_size);
}

ssize_t readSome(int fd, char *into, size_t most)
{
    ssize_t n;
    do
        n = ::read(fd, into, most);
    while (n < 0 && errno == EINTR);
    return n;
}

std::optional<QByteArray> readUpTo(int fd, qint64 max)
{
    constexpr qint64 chunkSize = 256 * 1024;
    QByteArray data;
    std::vector<char> chunk(chunkSize);
    while (data.size() < max) {
        const ssize_t n = readSome(fd, chunk.data(), size_t(std::min(chunkSize, max - data.size())));
        if (n < 0)
            return std::nullopt;
        if (n == 0)
            break;
        data.append(chunk.data(), n);
    }
    return data;
}

bool taken(const QString &path)
{
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

QString freeName(const QString &folder, const QString &name)
{
    const QString first = folder + QLatin1Char('/') + name;
    if (!taken(first))
        return first;
    const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
    const bool hasExtension = dot > 0 && dot < name.size() - 1;
    const QString stem = hasExtension ? name.left(dot) : name;
    const QString extension = hasExtension ? name.mid(dot) : QString();
    QString candidate;
    for (int n = 2; n <= 99; ++n) {
        candidate = folder + QLatin1Char('/') + stem + QStringLiteral(" (") + QString::number(n) + QLatin1Char(')') +
                    extension;
        if (!taken(candidate))
            break;
    }
    return candidate;
}

bool renameNoReplace(const QString &from, const QString &to)
{
    const QByteArray source = QFile::encodeName(from);
    const QByteArray target = QFile::encodeName(to);
    if (::renameat2(AT_FDCWD, source.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    // A file system without the no-replace rename: a hard link fails on an
    // existing name just the same, and the old name then goes.
    if (::link(source.constData(), target.constData()) == 0) {
        ::unlink(source.constData());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP)
        return false;
    // Neither: the narrow check-then-rename is the best left.
    if (taken(to)) {
        errno = EEXIST;
        return false;
    }
    return std::rename(source.constData(), target.constData()) == 0;
}

} // namespace Files
