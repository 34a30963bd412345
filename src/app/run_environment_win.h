// Win32 code. Gathers from the system what the install properties store, so that the record itself
// stays plain.
#pragma once

#include "app/install_properties.h"

namespace app {

// The LanguageTable index of the user's default UI language (GetUserDefaultUILanguage).
int uiLanguageIndex();

// Queries the environment in a fixed order: the pass-through text, the request token, the machine
// id, the architecture, the default browser, the OS name, the country, the UI language. None fails;
// each value falls back to its fixed text.
RunEnvironment gatherRunEnvironment();

}  // namespace app
