// Where the suite lives on the machine (Windows paths; the platform port maps them).
#pragma once

#include <string>

namespace suite {

// The suite's install folder. Its "\\config" folder holds commoncfg.xml, DriverCfg.xml and the
// other configuration files.
std::string InstallFolder();  // "C:\\Program Files\\Vantor\\Pilotdeck"
std::string ConfigFolder();   // InstallFolder() + "\\config"
// The suite's data folder: downloads, detected packages, check times, databases of the suite.
std::string DataFolder();     // "C:\\ProgramData\\Vantor\\Pilotdeck"

}  // namespace suite
