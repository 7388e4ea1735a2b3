#pragma once
#include <QByteArray>
#include <QString>
#include <optional>

// The clients folder: the one folder the CA chose for all client work.

// The README text laid into a new clients folder.
QString workspaceReadme();

// Creates the standard folders that are missing under root, lays the firm's
// rules there (placeFirmRules) and adds "README-Velto.md" when absent. Never
// removes anything, nor overwrites a file the CA made or changed.
void buildStructure(const QString &root);

// What became of the firm's rules ("AGENTS.md" of VELTO_HOME) in a clients
// folder.
enum class FirmRules {
    Written,    // the folder's copy was missing or still Velto's, and now holds them
    Current,    // the folder's copy holds them already
    KeptEdited, // the folder's copy is the CA's own: kept as it is
    None,       // VELTO_HOME has no rules to lay
    Failed,     // the copy could not be written
};

// Writes VELTO_HOME's "AGENTS.md" into root when root has none, or when
// root's copy still holds the text Velto last wrote there (a record in
// VELTO_HOME keeps that per folder). `before` is VELTO_HOME's text before a
// sync replaced it: a copy holding it, made when no record was kept yet, is
// Velto's too. A copy the CA edited is never touched.
FirmRules placeFirmRules(const QString &root, const std::optional<QByteArray> &before = std::nullopt);

// Asks the CA for the clients folder, creates and lays it out, records it in
// the work env file and answers it; absent when the CA cancels.
std::optional<QString> chooseWorkspace();
