#pragma once
// A throwaway home with a fresh secret store and a fake IRP on loopback
// HTTPS that both e-invoice hosts point at.
#include "FakeIrp.h"
#include "connectors/EInvoiceTools.h"
#include "core/Globals.h"
#include "platform/Dispatch.h"
#include "platform/SecretStore.h"
#include "support/TestKit.h"

#include <QDateTime>
#include <QDir>
#include <QJsonArray>
#include <memory>

struct ToolAnswer {
    QString text;
    bool isError = false;
    QJsonObject json() const { return QJsonDocument::fromJson(text.toUtf8()).object(); }
};

class EInvoiceTest : public ::testing::Test {
protected:
    std::unique_ptr<FakeIrp> irp;
    std::unique_ptr<TestKit::TempHome> home;
    double savedScale_ = 1;

    void SetUp() override
    {
        TestKit::FakeHttpServer::trustTestCa();
        irp = std::make_unique<FakeIrp>();
        home = std::make_unique<TestKit::TempHome>(
            QMap<QString, QString>{{"VELTO_IRP_SANDBOX", irp->base()}, {"VELTO_IRP_PRODUCTION", irp->base()}});
        ASSERT_TRUE(QDir().mkpath(VELTO_HOME));
        SecretStore::useMemory();
        // Loopback TLS on a busy machine can be slow; keep the product's
        // time-outs long enough, and still bounded.
        savedScale_ = Dispatch::timeScale;
        Dispatch::timeScale = 0.2;
    }

    void TearDown() override
    {
        Dispatch::timeScale = savedScale_;
        EInvoiceTools::appKeyBytes = &EInvoiceTools::randomKey;
        home.reset();
        irp.reset();
    }

    // Runs one tool to its answer.
    ToolAnswer run(const QString &name, const QJsonObject &args = {})
    {
        auto answer = std::make_shared<std::optional<ToolAnswer>>();
        EInvoiceTools::call(name, args, [answer](const QString &text, bool isError) {
            EXPECT_FALSE(answer->has_value()) << "answered twice";
            *answer = ToolAnswer{text, isError};
        });
        EXPECT_TRUE(TestKit::waitFor([answer] { return answer->has_value(); }, 20000)) << name.toStdString();
        return answer->value_or(ToolAnswer{"(no answer)", true});
    }

    QJsonObject credentials(const QString &environment = "sandbox") const
    {
        QJsonObject args{{"gstin", "29AAACH1234K1Z5"},
                         {"username", "velto_api"},
                         {"password", "Pa55-word!x"},
                         {"client_id", "AAACH29TXPV2ZR5"},
                         {"client_secret", "cs-9f8e7d6c5b4a"},
                         {"nic_public_key", QString::fromLatin1(irp->rsa().publicPem)}};
        if (!environment.isEmpty())
            args.insert("environment", environment);
        return args;
    }

    void connectTo(const QString &environment = "sandbox")
    {
        const ToolAnswer a = run("einvoice_connect", credentials(environment));
        ASSERT_FALSE(a.isError) << a.text.toStdString();
    }
};
