#pragma once
// Win32 only: the engine's UTF-8 names as the UTF-16 the wide API takes.
#include <optional>
#include <string>

// Nothing for text that is not UTF-8: such a name names no file.
std::optional<std::wstring> WideFromUtf8(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
