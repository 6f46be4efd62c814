#include "shell/own_outputs.h"

namespace lumifold {

namespace {

constexpr const char* kMarkPrefix = "Lumifold ";

}  // namespace

const char* lumifoldVersion() { return LUMIFOLD_VERSION; }

std::string outputMark() { return kMarkPrefix + std::string(lumifoldVersion()); }

bool isOwnOutput(const velIPL::ImageFileInfo& info) { return info.software.rfind(kMarkPrefix, 0) == 0; }

}  // namespace lumifold
