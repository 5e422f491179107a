#pragma once

#include <chrono>
#include <functional>
#include <string>

// Running the UI thread's event loop from a benchmark. UI thread only.

// Runs the event loop until `done` holds or `limit` passes; true when it held.
bool pumpUntil(const std::function<bool()>& done, std::chrono::steady_clock::duration limit);

// Runs the event loop for `limit`, as the application's own loop would.
void serveFor(std::chrono::steady_clock::duration limit);

// Before the application exists: settings and data of this run go below
// `folder`, and without a display the offscreen platform is used.
void useRunFolderAndPlatform(const std::string& folder);
