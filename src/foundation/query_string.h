// Query-string text: key=value pairs joined by "&" (the configuration file,
// request parameters, cache-rule items). Keys compare case-sensitively;
// values are never decoded or trimmed here.
#pragma once
#include <string>

// The number of "=" characters in `text`.
int countPairs(const std::string& text);

// The value of the first "key=" found anywhere in `text` (key trimmed of
// blanks; a key that ends a longer key matches too: "port" finds
// "proxyport="), up to the next "&" or the end; empty when absent.
std::string queryValue(const std::string& key, const std::string& text);

// The n-th pair (from 0) into `keyOut` (blank-trimmed) and `valueOut`; the
// value is also the result. Pair n > 0 begins behind the n-th "&" counted
// from index 1; missing pairs give empty texts.
std::string queryPair(std::string& keyOut, std::string& valueOut, const std::string& text, int n);

// `text` rebuilt pair by pair (countPairs of them) with `value` in place of
// the value of every pair whose key equals `key`; absent keys are not added.
std::string setQueryValue(const std::string& key, const std::string& value, const std::string& text);
