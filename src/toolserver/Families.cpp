#include "toolserver/Families.h"
#include "connectors/BooksTools.h"
#include "connectors/EInvoiceTools.h"
#include "erp/ErpTools.h"

// One line per family in each list, in the orders the header gives.

std::vector<ToolFamily> Families::standardListed()
{
    return {
        ErpTools::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
    };
}

std::vector<ToolFamily> Families::standardRouted()
{
    return {
        ErpTools::family(),
        BooksTools::family(),
        EInvoiceTools::family(),
    };
}
