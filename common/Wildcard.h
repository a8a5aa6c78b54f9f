#pragma once
#include <string>

// Whether text matches pattern, where '*' stands for any run of characters
// (none included), '?' for any one character and everything else for itself,
// compared exactly (callers fold case first). On a mismatch only the last
// '*' takes one character more, so the cost stays linear in each length
// whatever the pattern.
bool WildcardMatch(const std::string& pattern, const std::string& text);
