#pragma once
// Resident memory of the test process, for tests that bound what a hostile
// peer can make the program hold.
#include <QByteArray>
#include <QFile>

namespace McpTest {

// VmRSS of this process in KiB; -1 when it cannot be read.
inline qint64 residentKiB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).simplified().split(' ').first().toLongLong();
    return -1;
}

} // namespace McpTest
