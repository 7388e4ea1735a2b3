#pragma once
#include <functional>

// The harness sync: on every start, before the engine, fetch the firm's
// harness from the maker's cloud and write it where the engine finds it —
// skills, skill files and agents in OC_DIR, the rules in "AGENTS.md" in
// VELTO_HOME — remove what the last sync wrote and the cloud no longer sends
// (the list lives in "harness.json"), allow the engine every managed skill and
// let it search the web without asking. Each skill's local corrections are
// merged back into its fresh "SKILL.md".
//
// It never stops start-up and shows nothing: every failure ends it quietly.
namespace HarnessSync {

// Calls done exactly once: at once on the calling thread when the seat env
// file holds no token, otherwise on the main thread after the reply has been
// handled, whatever its outcome. Call on the main thread.
void syncHarness(std::function<void()> done);

} // namespace HarnessSync
