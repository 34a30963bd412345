// JSON text for the API: strings escaped for any UTF-8 input, and the summary's exact shape.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "receiver/store.h"

namespace receiver {

// `text` as a JSON string literal, quotes included; control characters as \u escapes.
std::string jsonString(std::string_view text);
std::string jsonStringArray(const std::vector<std::string>& items);

// {"runs": N, "status": {...}, "stages": [...], "uploads": {"logs": x, "dumps": y}}
std::string summaryJson(const Summary& summary);

// Reads back a JSON array of strings as jsonStringArray writes it; empty on anything else.
std::vector<std::string> parseJsonStringArray(std::string_view json);

}  // namespace receiver
