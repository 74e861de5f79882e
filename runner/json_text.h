// JSON text written by hand: the runner's JSON lines and the messages it publishes are
// small and flat, and a writer of their own keeps their layout exactly as documented.
#pragma once

#include <string>

// `text` as a JSON string, quotes included.
std::string JsonString(const std::string &text);

// A number with six decimals, or null: JSON has no infinity or NaN.
std::string JsonNumber(double value);
