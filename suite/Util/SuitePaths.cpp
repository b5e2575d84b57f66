#include "Util/SuitePaths.h"

namespace suite {

std::string InstallFolder() { return "C:\\Program Files\\Vantor\\Pilotdeck"; }
std::string ConfigFolder() { return InstallFolder() + "\\config"; }
std::string DataFolder() { return "C:\\ProgramData\\Vantor\\Pilotdeck"; }

}  // namespace suite
