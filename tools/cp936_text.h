// Conversions between the program's code page 936 texts and the UTF-8 of the
// host's command line and output.
#pragma once

#include <optional>
#include <string>

// nullopt when the text is not UTF-8 or holds a character outside code page 936.
std::optional<std::string> Utf8ToCp936(const std::string& text);
// The text as one UTF-8 output line: backslash, carriage return and line feed
// come out as \\, \r and \n, a byte that is not code page 936 as \xNN.
std::string Cp936Line(const std::string& text);
