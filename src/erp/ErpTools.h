#pragma once
#include <QString>
#include <functional>

// The ERP and GST tool family. For now it holds the one hook the other tools
// share: where the clients folder is.
struct ErpTools {
    // The clients folder as the CA chose it: VELTO_WORK of the work env file,
    // read afresh at every call so a new choice counts at once; the home
    // folder when none is set. The path is given as written, neither made
    // standard nor resolved.
    static QString defaultWorkRoot();

    // Tests point the tools at a folder of their own.
    static inline std::function<QString()> workRoot = &defaultWorkRoot;
};
