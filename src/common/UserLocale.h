// The current user's locale name ("en-US") from the user's international settings; empty when
// the user has none. Any thread.
#pragma once

#include <string>

std::string GetUserLocaleName();
