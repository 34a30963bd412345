// libFuzzer target: the input is a command line, one UTF-16 unit per byte. Bytes below 0x80 are
// themselves; bytes from 0x80 become U+FF00 to U+FF7F, where the full-width look-alikes of the quote
// (U+FF02) and the slash (U+FF0F) live, which must count as neither.
// The same bytes, split at 0, are also taken as an argument list that is joined into a command line
// the way a caller would quote it, so that the switch can be checked against what was meant.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "sysenv/command_line.h"

namespace {

const std::u16string kMarker = u"passthro=\"";

std::u16string commandLineFromBytes(const std::uint8_t* data, std::size_t size) {
  std::u16string text;
  text.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    text.push_back(data[i] < 0x80 ? static_cast<char16_t>(data[i]) : static_cast<char16_t>(0xFF00 + data[i] - 0x80));
  }
  return text;
}

char16_t upperAscii(char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - u'a' + u'A') : c; }

char16_t lowerAscii(char16_t c) { return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c - u'A' + u'a') : c; }

template <typename Change>
std::u16string eachUnit(std::u16string text, Change change) {
  for (char16_t& c : text) c = change(c);
  return text;
}

bool isQuietWord(const std::u16string& text) { return eachUnit(text, lowerAscii) == u"/quiet"; }

bool isBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void checkPassthrough(const std::u16string& commandLine) {
  const std::u16string value = sysenv::passthroughFromCommandLine(commandLine);
  const std::size_t marker = commandLine.find(kMarker);
  if (marker == std::u16string::npos) {
    if (!value.empty()) std::abort();
    return;
  }
  if (value.find(u'"') != std::u16string::npos) std::abort();
  const std::size_t valueStart = marker + kMarker.size();
  const bool closed = commandLine.find(u'"', valueStart) != std::u16string::npos;
  if (!value.empty()) {
    // The value follows the first marker at once and ends at a quote.
    if (commandLine.compare(valueStart, value.size(), value) != 0) std::abort();
    if (commandLine[valueStart + value.size()] != u'"') std::abort();
  } else if (closed && commandLine[valueStart] != u'"') {
    std::abort();  // a closed value that is not empty was lost
  }
  // What was read can be passed on again and comes back the same.
  if (sysenv::passthroughFromCommandLine(u"setup.exe " + kMarker + value + u"\" /x") != value) std::abort();
  if (closed) {
    // Whatever follows a closed value, another marker included, changes nothing.
    if (sysenv::passthroughFromCommandLine(commandLine + u" " + commandLine) != value) std::abort();
  } else {
    // An unclosed value is empty; closing it gives the whole rest of the line.
    if (!value.empty()) std::abort();
    if (sysenv::passthroughFromCommandLine(commandLine + u"\"") != commandLine.substr(valueStart)) std::abort();
  }
}

void checkQuietSwitch(const std::u16string& commandLine) {
  const bool quiet = sysenv::hasQuietSwitch(commandLine);
  if (quiet) {
    // Quotes are dropped from arguments, nothing else: the word itself is there.
    std::u16string unquoted;
    for (char16_t c : commandLine) {
      if (c != u'"') unquoted.push_back(lowerAscii(c));
    }
    if (unquoted.find(u"/quiet") == std::u16string::npos) std::abort();
  }
  // A tab and a space separate arguments alike.
  if (sysenv::hasQuietSwitch(eachUnit(commandLine, [](char16_t c) { return c == u'\t' ? u' ' : c; })) != quiet) {
    std::abort();
  }
  // Any letter case; changing case can only make or break the marker, which is checked below.
  const std::u16string upper = eachUnit(commandLine, upperAscii);
  const std::u16string lower = eachUnit(commandLine, lowerAscii);
  if (commandLine.find(kMarker) == std::u16string::npos) {
    if (sysenv::hasQuietSwitch(upper) != quiet) std::abort();
    if (lower.find(kMarker) == std::u16string::npos && sysenv::hasQuietSwitch(lower) != quiet) std::abort();
  }
  // A switch of its own right after the program's name always counts, whatever follows.
  if (!sysenv::hasQuietSwitch(u"setup.exe /quiet " + commandLine)) std::abort();
  if (!sysenv::hasQuietSwitch(u"\"C:\\a b\\setup.exe\"\t\"/QUIET\" " + commandLine)) std::abort();

  // The pass-through text belongs to the installer: what it holds never changes the answer.
  const std::size_t marker = commandLine.find(kMarker);
  if (marker != std::u16string::npos) {
    const std::size_t valueStart = marker + kMarker.size();
    const std::size_t closing = commandLine.find(u'"', valueStart);
    if (closing == std::u16string::npos) {
      if (sysenv::hasQuietSwitch(commandLine + u" /quiet") != quiet) std::abort();
    } else {
      const std::u16string replaced = commandLine.substr(0, valueStart) + u" /quiet " + commandLine.substr(closing);
      if (sysenv::hasQuietSwitch(replaced) != quiet) std::abort();
    }
  }
}

// The input split at 0 into a program name and its arguments, quotes removed (so no marker can
// form); each is joined quoted when it is empty or holds a blank, and also when its length is odd,
// since quotes around a plain argument must not matter. The line is checked as it is, and with a
// pass-through span holding "/quiet" in place of the last blank between two arguments: the span
// separates them as the blank did.
void checkQuietSwitchOfArgumentList(const std::u16string& units) {
  std::vector<std::u16string> arguments(1);
  for (char16_t c : units) {
    if (c == 0) {
      arguments.emplace_back();
    } else if (c != u'"') {
      arguments.back().push_back(c);
    }
  }
  std::u16string commandLine;
  std::u16string withSpan;
  bool expected = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::u16string& argument = arguments[i];
    bool needsQuotes = argument.empty() || argument.size() % 2 == 1;
    for (char16_t c : argument) needsQuotes = needsQuotes || isBlank(c);
    if (i > 0) {
      commandLine += u' ';
      withSpan += (i >= 2 && i + 1 == arguments.size()) ? kMarker + u" /quiet\"" : u" ";
    }
    const std::u16string joined = needsQuotes ? u"\"" + argument + u"\"" : argument;
    commandLine += joined;
    withSpan += joined;
    if (i > 0 && isQuietWord(argument)) expected = true;
  }
  // A quoted argument that ends in "passthro=" makes a marker with its closing quote.
  if (commandLine.find(kMarker) != std::u16string::npos) return;
  if (sysenv::hasQuietSwitch(commandLine) != expected) std::abort();
  if (sysenv::hasQuietSwitch(withSpan) != expected) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string commandLine = commandLineFromBytes(data, size);
  checkPassthrough(commandLine);
  checkQuietSwitch(commandLine);
  checkQuietSwitchOfArgumentList(commandLine);
  return 0;
}
