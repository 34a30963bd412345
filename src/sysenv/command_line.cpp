#include "sysenv/command_line.h"

#include <vector>

namespace sysenv {

namespace {

constexpr char16_t kPassthroughMarker[] = u"passthro=\"";

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

char16_t asciiLower(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool equalsIgnoringAsciiCase(const std::u16string& text, const std::u16string& lowerCase) {
  if (text.size() != lowerCase.size()) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (asciiLower(text[i]) != lowerCase[i]) return false;
  }
  return true;
}

// The command line without the pass-through span, marker and quotes included.
std::u16string withoutPassthrough(const std::u16string& commandLine) {
  const std::u16string marker = kPassthroughMarker;
  const std::size_t opening = commandLine.find(marker);
  if (opening == std::u16string::npos) return commandLine;
  const std::size_t closing = commandLine.find(u'"', opening + marker.size());
  std::u16string rest = commandLine.substr(0, opening);
  // The span counts as a blank, so that it never joins the text on its two sides into one argument.
  if (closing != std::u16string::npos) rest += u' ' + commandLine.substr(closing + 1);
  return rest;
}

// The arguments after the program's name. The name ends at the next quote when it starts with one,
// else at the first blank; later arguments are separated by blanks outside quotes, and the quotes
// themselves are dropped. (Backslash escapes are not needed to recognise a switch.)
std::vector<std::u16string> argumentsAfterProgramName(const std::u16string& commandLine) {
  std::size_t at = 0;
  if (!commandLine.empty() && commandLine[0] == u'"') {
    const std::size_t closing = commandLine.find(u'"', 1);
    at = closing == std::u16string::npos ? commandLine.size() : closing + 1;
  }
  while (at < commandLine.size() && !isBlank(commandLine[at])) ++at;

  std::vector<std::u16string> arguments;
  std::u16string current;
  bool inArgument = false;
  bool quoted = false;
  for (; at < commandLine.size(); ++at) {
    const char16_t c = commandLine[at];
    if (c == u'"') {
      quoted = !quoted;
      inArgument = true;
    } else if (isBlank(c) && !quoted) {
      if (inArgument) arguments.push_back(current);
      current.clear();
      inArgument = false;
    } else {
      current += c;
      inArgument = true;
    }
  }
  if (inArgument) arguments.push_back(current);
  return arguments;
}

}  // namespace

std::u16string passthroughFromCommandLine(const std::u16string& commandLine) {
  const std::u16string marker = kPassthroughMarker;
  const std::size_t opening = commandLine.find(marker);
  if (opening == std::u16string::npos) return {};
  const std::size_t start = opening + marker.size();
  const std::size_t closing = commandLine.find(u'"', start);
  if (closing == std::u16string::npos) return {};
  return commandLine.substr(start, closing - start);
}

bool hasQuietSwitch(const std::u16string& commandLine) {
  for (const std::u16string& argument : argumentsAfterProgramName(withoutPassthrough(commandLine))) {
    if (equalsIgnoringAsciiCase(argument, u"/quiet")) return true;
  }
  return false;
}

}  // namespace sysenv
