#pragma once
#include <string>
#include <string_view>

// `text` with every control character replaced by "?": C0 controls and DEL,
// and the C1 controls U+0080..U+009F where they come UTF-8 encoded. Names
// from a server or an archive pass through here before they are shown, so
// none can move a terminal's cursor, retitle its window or clear it.
std::string PrintableText(std::string_view text);
