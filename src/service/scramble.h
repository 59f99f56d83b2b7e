// How the login request hides the password and the identification values on the wire: each byte
// is mixed with a random key byte, and the key travels beside it. This keeps the values out of
// plain sight in proxy logs; it is not encryption.
#pragma once

#include <functional>
#include <string>
#include <string_view>

struct ScrambledValue {
  std::string scrambled;
  std::string key;
};

// Returns the next value of the process's random sequence (the C library's rand()).
using RandomSource = std::function<int()>;

// Draws one random byte per text byte. The first byte drawn picks where in the text scrambling
// starts, so the receiver finds the start again from the first key byte.
ScrambledValue ScrambleValue(std::string_view text, const RandomSource& random);

// Standard alphabet with '=' padding.
std::string Base64Encode(std::string_view bytes);
