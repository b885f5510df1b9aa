#include "zebu_interpreter/scenario.h"

#include <cstdio>
#include <string>

#include "ASTLib/kova_assert.h"

namespace {
std::string scenarioFileName;
bool nameSet = false;
FILE* scenarioFile = nullptr;
bool readingScenario = false;
}  // namespace

void prepareScenarioFile(const char* name) {
  KOVA_ASSERT(!nameSet, "!isScenarioFileNameSet()");
  scenarioFileName = name;
  nameSet = true;
}

bool isScenarioFileNameSet() {
  return nameSet;
}

const char* getScenarioFileName() {
  KOVA_ASSERT(nameSet, "isScenarioFileNameSet()");
  return scenarioFileName.c_str();
}

bool openScenario() {
  scenarioFile = std::fopen(getScenarioFileName(), "r");
  readingScenario = scenarioFile != nullptr;
  return readingScenario;
}

bool readScenarioLine(char* buffer) {
  KOVA_ASSERT(readingScenario, "isReadingScenario()");
  return std::fgets(buffer, static_cast<int>(kScenarioLineSize), scenarioFile) != nullptr;
}

void closeScenario() {
  KOVA_ASSERT(readingScenario, "isReadingScenario()");
  std::fclose(scenarioFile);
  scenarioFile = nullptr;
  readingScenario = false;
}

bool isReadingScenario() {
  return readingScenario;
}
