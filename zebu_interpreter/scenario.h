// Scenario files: console command lines played against the running program,
// each optionally prefixed with the time at which it applies (@ms).
#pragma once

#include <cstddef>

inline constexpr size_t kScenarioLineSize = 2048;

// Stores the file name (once).
void prepareScenarioFile(const char* name);
bool isScenarioFileNameSet();
const char* getScenarioFileName();
// Opens the named file; false when it cannot be opened.
bool openScenario();
// The next line (at most kScenarioLineSize - 1 characters); false at the end.
bool readScenarioLine(char* buffer);
void closeScenario();
bool isReadingScenario();
