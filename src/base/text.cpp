#include "base/text.hpp"

#include <fmt/format.h>

namespace quarn {

namespace {

// The length of the well-formed UTF-8 sequence at the start of `text`, or 0 when there is none.
size_t utf8SequenceLength(std::string_view text) {
  const auto byte = [&text](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(0);
  size_t length = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
  }
  // Overlong forms, surrogates and values past U+10FFFF are not well formed.
  if (lead == 0xE0 && byte(1) < 0xA0) return 0;
  if (lead == 0xED && byte(1) > 0x9F) return 0;
  if (lead == 0xF0 && byte(1) < 0x90) return 0;
  if (lead == 0xF4 && byte(1) > 0x8F) return 0;
  return length;
}

}  // namespace

std::string escapeControls(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80) {
      switch (byte) {
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
          if (byte < 0x20 || byte == 0x7F) {
            out += fmt::format("\\x{:02x}", byte);
          } else {
            out += static_cast<char>(byte);
          }
      }
      ++i;
      continue;
    }
    const size_t length = utf8SequenceLength(text.substr(i));
    if (length == 2 && byte == 0xC2 && static_cast<unsigned char>(text[i + 1]) < 0xA0) {
      // U+0080 to U+009F: the C1 controls, CSI among them.
      out += fmt::format("\\u{:04x}", static_cast<unsigned char>(text[i + 1]));
    } else if (length > 0) {
      out.append(text.substr(i, length));
    } else if (byte < 0xA0) {
      // A lone byte of the C1 range is a control to a terminal that is not in UTF-8.
      out += fmt::format("\\x{:02x}", byte);
    } else {
      out += static_cast<char>(byte);
    }
    i += length > 0 ? length : 1;
  }
  return out;
}

}  // namespace quarn
