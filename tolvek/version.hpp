// Tolvek's version: the project's, as the build gives it (CMakeLists.txt).
#pragma once

namespace tolvek {

constexpr const char* kVersion = TOLVEK_VERSION;

}  // namespace tolvek
