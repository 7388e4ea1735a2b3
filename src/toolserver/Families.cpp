#include "toolserver/Families.h"
#include "connectors/BooksTools.h"
#include "connectors/EInvoiceTools.h"
#include "erp/ErpTools.h"
#include "skills/SkillInstall.h"

// One line per family in each list, in the orders the header gives.

std::vector<ToolFamily> Families::standardListed()
{
    return {
        ErpTools::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
        SkillInstall::family(),
    };
}

std::vector<ToolFamily> Families::standardRouted()
{
    return {
        ErpTools::family(),
        SkillInstall::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
    };
}
