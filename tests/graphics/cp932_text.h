// The program's Japanese strings as code page 932 bytes. Test sources are
// compiled as UTF-8, so the bytes are written out.
#pragma once

#include <string>

namespace graphics_test {

// "ＭＳ ゴシック"
inline const std::string kGothicFace = "\x82\x6c\x82\x72\x20\x83\x53\x83\x56\x83\x62\x83\x4e";

// "フォント文字を表示"
inline const std::string kMessage = "\x83\x74\x83\x48\x83\x93\x83\x67\x95\xB6\x8E\x9A\x82\xF0\x95\x5C\x8E\xA6";

} // namespace graphics_test
