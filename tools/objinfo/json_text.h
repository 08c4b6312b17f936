// Pieces of JSON text for the tools' reports: quoted strings and numbers. Strings may hold
// any bytes (file names, tokens from broken files); the output is always valid UTF-8 JSON.
#pragma once
#include <string>

// text as a JSON string literal, quotes included. Valid UTF-8 passes through; control
// characters and bytes that are not valid UTF-8 are written as \u00XX.
std::string json_quote(const std::string& text);
// The shortest text that reads back as value; null for NaN and infinities, which JSON lacks.
std::string json_number(float value);
