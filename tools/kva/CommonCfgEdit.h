// Edits one element of the machine's common configuration (config\commoncfg.xml), keeping the
// rest of the file: for the verbs that set a machine up.
#pragma once

#include <pugixml.hpp>

#include <functional>

namespace kva {

// Loads the file (an absent one is empty), finds or adds <commoncfg><element>, lets `edit` change
// it and saves the file. False when it cannot be saved.
bool EditCommonCfg(const char* element, const std::function<void(pugi::xml_node&)>& edit);

}  // namespace kva
