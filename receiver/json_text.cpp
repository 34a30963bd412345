#include "receiver/json_text.h"

#include <cstdio>

namespace receiver {

std::string jsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    const unsigned char u = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      out.push_back('\\');
      out.push_back(c);
    } else if (u < 0x20 || c == '<' || c == '>' || c == '&') {
      // Also "<", ">" and "&": the text may be placed inside a page.
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", u);
      out += escape;
    } else {
      out.push_back(c);
    }
  }
  out.push_back('"');
  return out;
}

std::string jsonStringArray(const std::vector<std::string>& items) {
  std::string out = "[";
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ",";
    out += jsonString(items[i]);
  }
  return out + "]";
}

std::vector<std::string> parseJsonStringArray(std::string_view json) {
  std::vector<std::string> items;
  std::size_t i = 0;
  auto fail = [&items] {
    items.clear();
    return items;
  };
  if (json.empty() || json[i++] != '[') return fail();
  while (i < json.size() && json[i] != ']') {
    if (!items.empty()) {
      if (json[i++] != ',') return fail();
    }
    if (i >= json.size() || json[i++] != '"') return fail();
    std::string item;
    while (i < json.size() && json[i] != '"') {
      char c = json[i++];
      if (c == '\\') {
        if (i >= json.size()) return fail();
        c = json[i++];
        if (c == 'u') {
          if (json.size() - i < 4) return fail();
          // Only the escapes jsonString writes: one byte below 0x80.
          unsigned value = 0;
          for (int k = 0; k < 4; ++k) {
            const char h = json[i++];
            const int digit = h >= '0' && h <= '9' ? h - '0' : h >= 'a' && h <= 'f' ? h - 'a' + 10 : -1;
            if (digit < 0) return fail();
            value = value * 16 + static_cast<unsigned>(digit);
          }
          if (value > 0x7F) return fail();
          c = static_cast<char>(value);
        }
      }
      item.push_back(c);
    }
    if (i >= json.size()) return fail();
    ++i;
    items.push_back(std::move(item));
  }
  return items;
}

std::string summaryJson(const Summary& s) {
  std::string out = "{\"runs\": " + std::to_string(s.runs) + ", \"status\": {";
  const char* order[] = {"completed", "error occurred", "canceled", "environment not supported", "abandoned"};
  for (std::size_t i = 0; i < 5; ++i) {
    const auto found = s.status.find(order[i]);
    out += (i ? ", " : "") + jsonString(order[i]) + ": " + std::to_string(found == s.status.end() ? 0 : found->second);
  }
  out += "}, \"stages\": [";
  for (std::size_t i = 0; i < s.stages.size(); ++i) {
    out += (i ? ", " : "") + std::string("{\"wrapperError\": ") + std::to_string(s.stages[i].wrapperError) +
           ", \"msiError\": " + std::to_string(s.stages[i].msiError) + ", \"runs\": " + std::to_string(s.stages[i].runs) +
           "}";
  }
  out += "], \"uploads\": {\"logs\": " + std::to_string(s.logs) + ", \"dumps\": " + std::to_string(s.dumps) + "}}";
  return out;
}

}  // namespace receiver
