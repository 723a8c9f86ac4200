#pragma once
// SIGTERM and SIGINT end the hack at once in every phase. Before the event loop runs (the folder
// search, the store's parse, the first picture) nothing needs saving: the one write is the
// first-run values, each replaced atomically. So the handler exits there. While the loop runs it
// asks the loop to quit through a pipe, and a one-shot timer exits anyway should the main thread
// be too busy to get there in time.
#include <atomic>

namespace tarnwick::termination {

// Set while the event loop runs; the handler then writes a byte to `pipeWrite`.
extern std::atomic<bool> loopRunning;
extern std::atomic<int> pipeWrite;
// How long the loop has to end after the first signal before the process exits anyway.
inline constexpr long kGraceNs = 150'000'000;

// Installs the handlers; the first thing the program does.
void install();

} // namespace tarnwick::termination
