#include "core/Shell.h"

#include <QByteArray>
#include <QRandomGenerator>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

QString slug(const QString &text)
{
    return QString::fromLatin1(text.toUtf8().toBase64(QByteArray::Base64UrlEncoding |
                                                     QByteArray::OmitTrailingEquals));
}

int freePort()
{
    int port = 0;
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        addr.sin_port = 0;
        if (::bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) == 0) {
            socklen_t len = sizeof addr;
            if (::getsockname(fd, reinterpret_cast<sockaddr *>(&addr), &len) == 0)
                port = ntohs(addr.sin_port);
        }
        ::close(fd);
    }
    if (port > 1024)
        return port;
    return 43000 + int(QRandomGenerator::global()->bounded(5001));
}

void alert(const QString &title, const QString &text, Dialogs::Style style)
{
    Dialogs::alert(title, text, style);
}
