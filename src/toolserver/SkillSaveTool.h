#pragma once
#include "toolserver/BrowserMCP.h"

namespace SkillSaveTool {

// skill_save: keeps a procedure the CA approved as a skill of this machine,
// or, under the name of a skill the maker manages, as a correction to it.
void skillSave(QObject &pane, const QJsonObject &args, const BrowserMCP::Done &done);

} // namespace SkillSaveTool
