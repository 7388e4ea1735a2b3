#include "toolserver/Families.h"
#include "connectors/EInvoiceTools.h"

// One line per family in each list, in the orders the header gives.

std::vector<ToolFamily> Families::standardListed()
{
    return {
        EInvoiceTools::family(),
    };
}

std::vector<ToolFamily> Families::standardRouted()
{
    return {
        EInvoiceTools::family(),
    };
}
