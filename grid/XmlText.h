// Text made fit for the XML inside a workbook.
#pragma once

#include <string>
#include <string_view>

namespace rendle::grid {

/// Text as valid UTF-8 that XML can carry: bytes that do not form UTF-8 are taken as
/// Latin-1 characters, control characters are written as the _xHHHH_ escapes spreadsheet
/// programs read back.
std::string XmlSafeText(std::string_view text);

/// XmlSafeText with the five characters markup gives meaning to written as entities, for text
/// and attribute values of a document written by hand (the network's drawing).
std::string XmlEscaped(std::string_view text);

}  // namespace rendle::grid
