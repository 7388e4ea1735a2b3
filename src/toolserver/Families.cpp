#include "toolserver/Families.h"
#include "connectors/BooksTools.h"
#include "connectors/EInvoiceTools.h"
#include "skills/SkillInstall.h"

// One line per family in each list, in the orders the header gives.

std::vector<ToolFamily> Families::standardListed()
{
    return {
        BooksTools::family(),
        EInvoiceTools::family(),
        SkillInstall::family(),
    };
}

std::vector<ToolFamily> Families::standardRouted()
{
    return {
        SkillInstall::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
    };
}
