#pragma once
#include <QByteArray>
#include <QString>
#include <optional>
#include <sys/types.h>

namespace Files {

// Replaces the file whole: a temporary file in the same folder, created with
// `mode` from the start, written, synced and renamed over the target. Readers
// see either the old content or the new, and a secret never exists with wider
// permissions than asked, not even for a moment. The file keeps `mode` after.
// Answers false (leaving the old file as it was) when any step fails,
// including a missing folder: callers make the folders they mean to.
bool writeAtomic(const QString &path, const QByteArray &data, mode_t mode = 0644);

// True for the name of writeAtomic's temporary file (".NAME.tmp-SUFFIX"),
// which is only left behind when the program stopped mid-write.
bool isAtomicTemp(const QString &fileName);

// writeAtomic after making the file's folder (and its parents) when missing.
bool writeAtomicMakingFolder(const QString &path, const QByteArray &data, mode_t mode = 0644);

// The whole file, or nothing when it cannot be read.
std::optional<QByteArray> readAll(const QString &path);

// A file opened for reading without waiting: a pipe, a device or a folder
// put where an ordinary file should be is refused, not waited on. The
// descriptor closes with the value.
struct Regular {
    enum class Outcome { Ok, Missing, NotRegular } outcome = Outcome::Missing;
    int fd = -1;
    qint64 size = 0; // as it was when opened

    Regular() = default;
    Regular(const Regular &) = delete;
    Regular &operator=(const Regular &) = delete;
    ~Regular();
};
void openRegular(const QString &path, Regular &out);

// One read of up to `most` bytes, again when a signal cut it short: the
// bytes read, 0 at the end of the file, -1 when reading failed.
ssize_t readSome(int fd, char *into, size_t most);

// Up to max bytes from the descriptor; nothing when a read fails.
std::optional<QByteArray> readUpTo(int fd, qint64 max);

// Something is at the path, even a link that leads nowhere.
bool taken(const QString &path);

// The first free name in `folder` for a file called `name`: the name itself,
// else "stem (n).ext" for n = 2 ... 99; when all are taken, the 99th, which a
// caller that never replaces then refuses.
QString freeName(const QString &folder, const QString &name);

// Renames `from` to `to` only when nothing is at `to`: answers false with
// errno EEXIST when something is, and leaves both as they were.
bool renameNoReplace(const QString &from, const QString &to);

} // namespace Files
