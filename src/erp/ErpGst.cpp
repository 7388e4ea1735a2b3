// The GST return tools: GSTR-1 from a verified ERP connection, and the
// GSTR-2B reconciliation and bank-statement conversion, which choose their
// own inputs. Their work through the cloud engines is not in this build yet;
// until it is, each answers once that it cannot run, and nothing is sent or
// written.
#include "erp/ErpTools.h"

namespace {

void notYet(const QString &what, const Tool::Done &done)
{
    done(what + QStringLiteral(" is not available in this build of Velto yet. Nothing was sent or written."), true);
}

} // namespace

void ErpTools::gstr1(const QJsonObject &, const ErpConnection &, const QString &, const QString &header,
                     const Tool::Done &done)
{
    notYet(header + QStringLiteral("GSTR-1 building"), done);
}

void ErpTools::gstr2b(const QJsonObject &, const Tool::Done &done)
{
    notYet(QStringLiteral("GSTR-2B reconciliation"), done);
}

void ErpTools::bankStatement(const QJsonObject &, const Tool::Done &done)
{
    notYet(QStringLiteral("Bank-statement conversion"), done);
}
