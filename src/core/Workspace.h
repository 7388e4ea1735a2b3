#pragma once
#include <QString>
#include <optional>

// The clients folder: the one folder the CA chose for all client work.

// The README text laid into a new clients folder.
QString workspaceReadme();

// Creates the standard folders that are missing under root and adds
// "AGENTS.md" (copied from VELTO_HOME) and "README-Velto.md" when absent.
// Never overwrites or removes anything.
void buildStructure(const QString &root);

// Asks the CA for the clients folder, creates and lays it out, records it in
// the work env file and answers it; absent when the CA cancels.
std::optional<QString> chooseWorkspace();
