#pragma once
#include <QSslCertificate>
#include <QSslKey>

namespace TestKit {

// A certificate authority made at test time, and a server certificate it
// signed for 127.0.0.1 and localhost. Made once per process.
struct TestCa {
    QSslCertificate caCert;
    QSslCertificate serverCert;
    QSslKey serverKey;
    static const TestCa &get();
};

} // namespace TestKit
