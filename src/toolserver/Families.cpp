#include "toolserver/Families.h"
#include "connectors/BooksTools.h"
#include "connectors/CloudFiles.h"
#include "connectors/EInvoiceTools.h"
#include "connectors/MailTools.h"
#include "connectors/TallyTools.h"
#include "erp/ErpTools.h"
#include "skills/SkillInstall.h"

// One line per family in each list, in the orders the header gives.

std::vector<ToolFamily> Families::standardListed()
{
    return {
        ErpTools::family(),
        MailTools::family(),
        TallyTools::family(),
        CloudFiles::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
        SkillInstall::family(),
    };
}

std::vector<ToolFamily> Families::standardRouted()
{
    return {
        MailTools::family(),
        ErpTools::family(),
        SkillInstall::family(),
        TallyTools::family(),
        CloudFiles::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
    };
}
