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

// writeAtomic after making the file's folder (and its parents) when missing.
bool writeAtomicMakingFolder(const QString &path, const QByteArray &data, mode_t mode = 0644);

// The whole file, or nothing when it cannot be read.
std::optional<QByteArray> readAll(const QString &path);

} // namespace Files
