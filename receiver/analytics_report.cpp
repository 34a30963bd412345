#include "receiver/analytics_report.h"

#include <pugixml.hpp>

#include <cstring>
#include <functional>

#include "receiver/text_rules.h"

namespace receiver {
namespace {

// Declarations, document types, processing instructions and comments are parsed as nodes so that
// they can be refused; none belongs in a report. A blank value is kept as the element's text.
constexpr unsigned kParseOptions = pugi::parse_default | pugi::parse_declaration | pugi::parse_doctype |
                                   pugi::parse_pi | pugi::parse_comments | pugi::parse_ws_pcdata_single;

using Rule = std::function<bool(std::string_view)>;

class ShapeReader {
 public:
  // The child elements of `parent`, which must be exactly `names` in that order (the optional last
  // one only when `lastOptional`); false with the error set otherwise.
  bool children(const pugi::xml_node& parent, std::initializer_list<const char*> names,
                std::vector<pugi::xml_node>& out, bool lastOptional = false) {
    if (!plainElement(parent)) return false;
    out.clear();
    auto expected = names.begin();
    for (pugi::xml_node child = parent.first_child(); child; child = child.next_sibling()) {
      if (child.type() != pugi::node_element) return fail(std::string("text or other nodes inside <") + parent.name() + ">");
      if (expected == names.end()) return fail(std::string("unexpected <") + child.name() + "> in <" + parent.name() + ">");
      if (std::strcmp(child.name(), *expected) != 0) {
        return fail(std::string("<") + *expected + "> expected in <" + parent.name() + ">, found <" + child.name() + ">");
      }
      out.push_back(child);
      ++expected;
    }
    const bool complete = expected == names.end() || (lastOptional && expected + 1 == names.end());
    if (!complete) return fail(std::string("<") + *expected + "> missing in <" + parent.name() + ">");
    return true;
  }

  // The text of a leaf element: no attributes, no child element, at most one text node.
  bool text(const pugi::xml_node& element, const Rule& rule, std::string& out) {
    if (!plainElement(element)) return false;
    const pugi::xml_node first = element.first_child();
    if (first && (first.type() != pugi::node_pcdata || first.next_sibling())) {
      return fail(std::string("<") + element.name() + "> must hold text only");
    }
    out = first ? first.value() : "";
    if (!isCleanUtf8(out) || !rule(out)) return fail(std::string("bad value in <") + element.name() + ">");
    return true;
  }

  bool number(const pugi::xml_node& element, std::int32_t& out) {
    std::string digits;
    if (!text(element, [](std::string_view) { return true; }, digits)) return false;
    const std::optional<std::int32_t> value = parseInt32(digits);
    if (!value) return fail(std::string("<") + element.name() + "> is not a 32-bit decimal");
    out = *value;
    return true;
  }

  bool fail(std::string message) {
    if (error.empty()) error = std::move(message);
    return false;
  }

  std::string error;

 private:
  bool plainElement(const pugi::xml_node& element) {
    if (element.first_attribute()) return fail(std::string("attribute on <") + element.name() + ">");
    return true;
  }
};

Rule textUpTo(std::size_t maximum, std::size_t minimum = 0) {
  return [=](std::string_view v) { return v.size() >= minimum && v.size() <= maximum; };
}

bool isProductId(std::string_view v) {
  if (v.size() != 3) return false;
  for (const char c : v) {
    if (c < 'A' || c > 'Z') return false;
  }
  return true;
}

bool isVersion(std::string_view v) {
  if (v.empty() || v.size() > 64 || v.front() == '.' || v.back() == '.') return false;
  for (const char c : v) {
    if (!(c >= '0' && c <= '9') && c != '.') return false;
  }
  return v.find("..") == std::string_view::npos;
}

bool isStatus(std::string_view v) {
  if (v == kStartStatus) return true;
  for (const char* status : kFinalStatuses) {
    if (v == status) return true;
  }
  return false;
}

bool readMainApp(ShapeReader& in, const pugi::xml_node& mainApp, AnalyticsReport& report) {
  std::vector<pugi::xml_node> e;
  if (!in.children(mainApp,
                   {"productId", "productVersion", "channelId", "installLanguage", "status", "serialKey",
                    "externalProperties"},
                   e, true)) {
    return false;
  }
  const Rule optionalVersion = [](std::string_view v) { return v.empty() || isVersion(v); };
  if (!in.text(e[0], isProductId, report.productId) || !in.text(e[1], optionalVersion, report.productVersion) ||
      !in.text(e[2], textUpTo(128), report.channelId) || !in.text(e[3], textUpTo(64, 1), report.installLanguage) ||
      !in.text(e[4], isStatus, report.status) || !in.text(e[5], textUpTo(256), report.serialKey)) {
    return false;
  }
  if (e.size() < 7) return true;
  // The block is written only when there is something in it.
  if (!e[6].first_child()) return in.fail("empty <externalProperties>");
  for (pugi::xml_node property = e[6].first_child(); property; property = property.next_sibling()) {
    if (property.type() != pugi::node_element || std::strcmp(property.name(), "property") != 0) {
      return in.fail("only <property> belongs in <externalProperties>");
    }
    if (report.properties.size() == kMaxProperties) return in.fail("too many properties");
    std::vector<pugi::xml_node> pair;
    std::string name;
    std::string value;
    if (!in.children(property, {"name", "value"}, pair) || !in.text(pair[0], textUpTo(256, 1), name) ||
        !in.text(pair[1], textUpTo(4096), value)) {
      return false;
    }
    report.properties.emplace_back(std::move(name), std::move(value));
  }
  return true;
}

// pugixml keeps an "&" that starts no reference as a literal character, where XML refuses the
// document: every "&" must open a predefined entity or a character reference other than NUL.
bool referencesAreWellFormed(std::string_view body) {
  for (std::size_t at = body.find('&'); at != std::string_view::npos; at = body.find('&', at + 1)) {
    const std::size_t end = body.find(';', at);
    if (end == std::string_view::npos || end - at > 10) return false;
    const std::string_view name = body.substr(at + 1, end - at - 1);
    if (name == "amp" || name == "lt" || name == "gt" || name == "quot" || name == "apos") continue;
    if (name.size() < 2 || name[0] != '#') return false;
    const bool hex = name[1] == 'x';
    const std::string_view digits = name.substr(hex ? 2 : 1);
    if (digits.empty()) return false;
    bool nonZero = false;
    for (const char c : digits) {
      const bool digit = c >= '0' && c <= '9';
      const bool hexLetter = hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
      if (!digit && !hexLetter) return false;
      nonZero = nonZero || c != '0';
    }
    if (!nonZero) return false;
  }
  return true;
}

}  // namespace

ReportParse parseAnalyticsReport(std::string_view body) {
  ReportParse result;
  if (body.size() > kMaxReportBytes) {
    result.error = "document too large";
    return result;
  }
  // pugixml hands out text as C strings: a NUL would cut a value short unnoticed.
  if (body.find('\0') != std::string_view::npos) {
    result.error = "NUL byte in the document";
    return result;
  }
  if (!referencesAreWellFormed(body)) {
    result.error = "not well-formed XML: a bare \"&\" or a bad reference";
    return result;
  }
  pugi::xml_document document;
  const pugi::xml_parse_result parsed =
      document.load_buffer(body.data(), body.size(), kParseOptions, pugi::encoding_utf8);
  if (!parsed) {
    result.error = std::string("not well-formed XML: ") + parsed.description();
    return result;
  }
  ShapeReader in;
  const pugi::xml_node root = document.first_child();
  if (!root || root.type() != pugi::node_element || root.next_sibling() ||
      std::strcmp(root.name(), "QXDLMAnalytics") != 0) {
    result.error = "the document is not one <QXDLMAnalytics> element";
    return result;
  }
  AnalyticsReport report;
  std::vector<pugi::xml_node> top;
  std::vector<pugi::xml_node> error;
  std::vector<pugi::xml_node> environment;
  const bool ok =
      in.children(root, {"requestToken", "country", "mainApp", "error", "userEnvironment", "QXDLMVersion", "machineId"},
                  top) &&
      in.text(top[0], isRequestToken, report.requestToken) &&
      in.text(top[1], [](std::string_view v) { return parseUint32(v).has_value(); }, report.country) &&
      readMainApp(in, top[2], report) && in.children(top[3], {"wrapperError", "msiError"}, error) &&
      in.number(error[0], report.wrapperError) && in.number(error[1], report.msiError) &&
      in.children(top[4], {"OS", "language", "architecture", "defaultBrowser"}, environment) &&
      in.text(environment[0], textUpTo(128, 1), report.os) &&
      in.text(environment[1], textUpTo(64, 1), report.language) &&
      in.text(environment[2], [](std::string_view v) { return v == "x86" || v == "x64"; }, report.architecture) &&
      in.text(environment[3], textUpTo(128, 1), report.defaultBrowser) &&
      in.text(top[5], isVersion, report.stubVersion) && in.text(top[6], isMachineId, report.machineId);
  if (!ok) {
    result.error = in.error;
    return result;
  }
  result.report = std::move(report);
  return result;
}

}  // namespace receiver
