// The one value the program reads from its command line: the pass-through text that goes, as it
// is, in front of the product installer's own arguments.
#pragma once

#include <string>

namespace sysenv {

// The text between the first passthro=" and the next double quote; empty when either is missing.
// There are no escapes, so the value cannot hold a double quote. The match is exact (lower case)
// and may sit anywhere, even inside another argument.
std::u16string passthroughFromCommandLine(const std::u16string& commandLine);

}  // namespace sysenv
