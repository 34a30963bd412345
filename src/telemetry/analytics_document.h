// The analytics document: the one-line XML that the start and final reports carry, built from the
// run's record. Plain code, so the exact bytes are checked natively.
#pragma once

#include <cstdint>
#include <string>

#include "app/install_properties.h"

namespace telemetry {

// The report's text for a status value: "started", "completed", "error occurred", "canceled",
// "environment not supported" for 0..4; any other value as its signed decimal, so that a broken
// record shows as such instead of as a plausible status.
std::u16string statusText(std::int32_t status);

// `value` with "&", "<" and ">" replaced by their entities; quotes and everything else unchanged.
// The report server parses the document as XML, and a channel or browser name may hold any of them.
std::u16string escapeXmlText(const std::u16string& value);

// The whole document, without declaration, attributes or whitespace between elements. The start
// report says "started" whatever the record holds; the final report says the record's status, with
// 0 (the page never got going) written as "canceled".
std::u16string buildAnalyticsDocument(const app::InstallProperties& properties, bool startReport);

}  // namespace telemetry
