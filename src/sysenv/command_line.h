// What the program reads from its command line: the pass-through text that goes, as it is, in
// front of the product installer's own arguments, and the /quiet switch of an unattended run.
#pragma once

#include <string>

namespace sysenv {

// The text between the first passthro=" and the next double quote; empty when either is missing.
// There are no escapes, so the value cannot hold a double quote. The match is exact (lower case)
// and may sit anywhere, even inside another argument.
std::u16string passthroughFromCommandLine(const std::u16string& commandLine);

// True when an argument after the program's name is exactly "/quiet", in any case. Quotes group
// and are dropped as Windows' own argument splitting does ("/quiet" in quotes counts), and the
// pass-through text (from passthro=" to its closing quote, or to the end without one) is no
// argument of ours: a /quiet inside it belongs to the installer.
bool hasQuietSwitch(const std::u16string& commandLine);

}  // namespace sysenv
