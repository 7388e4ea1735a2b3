#pragma once
// The tool families of other folders that the tool server lists and routes.
// Each family is added in Families.cpp, to both lists, once it exists. Tests
// replace the lists (and put them back) to drive listing and routing with
// families of their own.
#include "core/Tool.h"

#include <vector>

struct Families {
    // In the order their definitions follow the server's own tools in
    // tools/list: ERP, mail, Tally, cloud files, books, e-invoice, skill install.
    static std::vector<ToolFamily> standardListed();
    // In the order a call's name is tested against their name sets: mail,
    // ERP, skill install, Tally, cloud files, books, e-invoice.
    static std::vector<ToolFamily> standardRouted();

    static inline std::vector<ToolFamily> listed = standardListed();
    static inline std::vector<ToolFamily> routed = standardRouted();
};
